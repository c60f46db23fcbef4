// How long the viewer takes to load a large text file: the window is frozen
// for that time, and it should stay well under a second for 50 MB.
//
// Three 50 MB files: plain ASCII with CR LF line ends (the UTF-8 path with
// line-end rewriting), UTF-8 with LF only (the path that decodes in place),
// and Windows-1252 (one invalid byte sends the whole file through the table).

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "viewer/viewer_text.h"

namespace {

constexpr std::size_t kFileBytes = std::size_t{50} * 1000 * 1000;

std::string makeFile(const QTemporaryDir& dir, const char* name, const std::string& line) {
    std::string text;
    text.reserve(kFileBytes + line.size());
    while (text.size() < kFileBytes) text += line;
    const std::string path = dir.filePath(QString::fromLatin1(name)).toStdString();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::write(fd, text.data(), text.size()) != ssize_t(text.size())) std::abort();
    ::close(fd);
    return path;
}

void loadFile(benchmark::State& state, const char* name, const std::string& line) {
    QTemporaryDir dir;
    const std::string path = makeFile(dir, name, line);
    for (auto _ : state) {
        auto text = toka::loadViewerText(path);
        if (!text) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t{kFileBytes});
}

void BM_ViewerTextAsciiCrLf(benchmark::State& state) {
    loadFile(state, "ascii.txt", "The quick brown fox jumps over the lazy dog, 0123456789.\r\n");
}
void BM_ViewerTextUtf8Lf(benchmark::State& state) {
    loadFile(state, "utf8.txt",
             "Gr\xc3\xbc\xc3\x9f"
             "e aus K\xc3\xb6ln: \xc3\xa4\xc3\xb6\xc3\xbc \xe2\x82\xac 12,50\n");
}
void BM_ViewerTextCp1252(benchmark::State& state) {
    loadFile(state, "cp1252.txt",
             "Gr\xfc\xdf"
             "e aus K\xf6ln: \xe4\xf6\xfc \x80 12,50\r\n");
}

BENCHMARK(BM_ViewerTextAsciiCrLf)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ViewerTextUtf8Lf)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ViewerTextCp1252)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
