// tokacopy: the window's copy and move in a terminal, for scripts and for
// measuring the file-operation engine.  Same engine, no questions: an item
// that exists at the destination is skipped, a failure is reported and
// skipped.

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fileops/file_operation.h"

namespace {

constexpr const char* kUsage = "Usage: tokacopy [--move] SOURCE... DEST\n"
                               "\n"
                               "Copies (or moves) every SOURCE into the folder DEST with the program's own\n"
                               "file-operation engine: each item is written under a hidden temporary name\n"
                               "and renamed into place, with its owner (where allowed), permissions, ACLs,\n"
                               "extended attributes, times and hard links; a move flushes it to the disk\n"
                               "before its source goes.  An item that exists in DEST is skipped.\n"
                               "\n"
                               "Exit status 0: everything done; 1: something was skipped or failed (one\n"
                               "line each on standard error); 2: a usage error.\n";

/// Answers without asking: skip what exists, skip past failures.
class TerminalQuestions : public toka::FileOpQuestions {
public:
    bool confirmDelete(std::size_t) override { return false; }
    toka::ExistsReply askExists(const toka::ItemInfo&, const toka::ItemInfo& existing) override {
        std::fprintf(stderr, "tokacopy: \"%s\" exists, skipped\n", existing.path.c_str());
        return {toka::ExistsAction::Skip, false};
    }
    toka::FailureAction askFailure(const toka::FileOpFailure& failure) override {
        std::fprintf(stderr, "tokacopy: %s\n", failure.describe().c_str());
        return toka::FailureAction::Skip;
    }
    void showError(const toka::FileOpFailure& failure) override {
        std::fprintf(stderr, "tokacopy: %s\n", failure.describe().c_str());
    }
};

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    toka::FileOpKind kind = toka::FileOpKind::Copy;
    if (!arguments.empty() && arguments.front() == "--move") {
        kind = toka::FileOpKind::Move;
        arguments.erase(arguments.begin());
    }
    if (arguments.size() < 2 || arguments.front() == "--help") {
        std::fputs(kUsage, arguments.empty() || arguments.front() != "--help" ? stderr : stdout);
        return arguments.empty() || arguments.front() != "--help" ? 2 : 0;
    }
    const std::string destination = arguments.back();
    arguments.pop_back();

    TerminalQuestions questions;
    const toka::FileOpResult result = toka::FileOperation(questions).run(arguments, kind, destination);
    return result.itemsSkipped == 0 && result.failures.empty() ? 0 : 1;
}
