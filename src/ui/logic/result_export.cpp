#include "ui/logic/result_export.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "ui/logic/result_model.h"

namespace toka {

namespace {

std::string utf8Of(const QVariant& text) { return text.toString().toStdString(); }

void appendField(std::string& line, std::string_view field) {
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
        line += field;
        return;
    }
    line += '"';
    for (const char c : field) {
        if (c == '"') line += '"';
        line += c;
    }
    line += '"';
}

void appendRecord(std::string& out, const std::vector<std::string_view>& fields) {
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) out += ',';
        appendField(out, fields[i]);
    }
    out += "\r\n";
}

} // namespace

std::vector<ExportRow> shownRows(const ResultModel& model) {
    std::vector<ExportRow> rows;
    for (int r = 0; r < model.rowCount(); ++r) {
        const QByteArray path = model.data(model.index(r, 0), ResultModel::PathRole).toByteArray();
        if (path.isEmpty()) continue; // the empty row
        // A name holds no "/": the location is the path up to its last one.
        const qsizetype slash = path.lastIndexOf('/');
        const auto cell = [&](int column) { return utf8Of(model.data(model.index(r, column))); };
        ExportRow row;
        row.location = path.left(slash + 1).toStdString();
        row.name = path.mid(slash + 1).toStdString();
        row.date = cell(ResultModel::DateColumn);
        row.time = cell(ResultModel::TimeColumn);
        row.attributes = cell(ResultModel::AttribsColumn);
        row.size = cell(ResultModel::SizeColumn);
        row.measure = cell(ResultModel::MeasureColumn);
        rows.push_back(std::move(row));
    }
    return rows;
}

QStringList columnCaptions(const ResultModel& model) {
    QStringList captions;
    for (int c = 0; c < model.columnCount(); ++c) captions << model.headerData(c, Qt::Horizontal).toString();
    return captions;
}

std::string resultsAsCsv(const std::vector<ExportRow>& rows, const QStringList& captions) {
    std::string out;
    std::vector<std::string> header;
    for (const QString& caption : captions) header.push_back(caption.toStdString());
    header.emplace_back("Path");
    appendRecord(out, std::vector<std::string_view>(header.begin(), header.end()));
    for (const ExportRow& row : rows) {
        const std::string path = row.path();
        appendRecord(out, {row.name, row.location, row.date, row.time, row.attributes, row.size, row.measure, path});
    }
    return out;
}

std::string resultsAsPathList(const std::vector<ExportRow>& rows, PathListEnd end) {
    std::string out;
    for (const ExportRow& row : rows) {
        out += row.path();
        out += end == PathListEnd::Nul ? '\0' : '\n';
    }
    return out;
}

std::optional<SysError> saveFileAtomically(const std::string& path, std::string_view contents, SystemCalls& system) {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") return SysError{"create", path, EISDIR};

    const UniqueFd folderFd = system.own(system.openAt(AT_FDCWD, folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folderFd.valid()) return SysError{"create", path, errno};

    // A file that is replaced keeps its permissions; a directory is never replaced.
    std::optional<mode_t> keptMode;
    struct stat existing {};
    if (system.fstatAt(folderFd.get(), name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISDIR(existing.st_mode)) return SysError{"create", path, EISDIR};
        if (S_ISREG(existing.st_mode)) keptMode = existing.st_mode & 07777;
    }

    static std::atomic<unsigned> counter{0};
    std::string temporary;
    UniqueFd file;
    for (int attempt = 0; attempt < 100 && !file.valid(); ++attempt) {
        temporary = "." + name + ".saving-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        file = system.own(system.openAt(folderFd.get(), temporary.c_str(),
                                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (!file.valid() && errno != EEXIST) return SysError{"create", path, errno};
    }
    if (!file.valid()) return SysError{"create", path, EEXIST};

    const auto abandon = [&](const char* operation, int code) {
        if (file.valid()) system.close(file.release());
        system.unlinkAt(folderFd.get(), temporary.c_str(), 0);
        return SysError{operation, path, code};
    };
    // Permissions of the replaced file, set on the descriptor: the umask
    // does not apply to them.
    if (keptMode && system.fchmod(file.get(), *keptMode) != 0) return abandon("create", errno);
    for (std::size_t done = 0; done < contents.size();) {
        const ssize_t wrote = system.write(file.get(), contents.data() + done, contents.size() - done);
        if (wrote < 0) return abandon("write", errno);
        if (wrote == 0) return abandon("write", ENOSPC); // the system says so for a full disk
        done += std::size_t(wrote);
    }
    if (system.fsync(file.get()) != 0) return abandon("fsync", errno);
    // Some file systems (NFS) report a failed write only here.
    if (system.close(file.release()) != 0) return abandon("close", errno);
    if (system.renameAt(folderFd.get(), temporary.c_str(), folderFd.get(), name.c_str(), 0) != 0)
        return abandon("rename", errno);
    // The rename reaches the disk with the folder; the file is in place
    // whatever this answers.
    system.fsync(folderFd.get());
    return std::nullopt;
}

} // namespace toka
