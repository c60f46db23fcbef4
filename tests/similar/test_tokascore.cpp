// tokascore from outside: the line protocol, its errors and the list mode.

#include <gtest/gtest.h>

#include <string>

#include "../support/process.h"

namespace toka::test {
namespace {

ProgramRun run(const std::vector<std::string>& args, const std::string& input) {
    std::vector<std::string> argv = {TOKA_TOOLS_DIR "/tokascore"};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProgram(argv, {.input = input});
}

TEST(Tokascore, AnswersEachLineWithHexAndDecimal) {
    const ProgramRun r = run({}, "similar\tHello\thelp\t0\n"
                                 "fuzzy\tfile\tPROFILE.TXT\t0\n"
                                 "fuzzy\tabcdefgh\tABXCXDXEXFXGXH\t0.2\n"
                                 "similar\tm\xc3\xbcller\tM\xc3\x9cLLER\t0\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "7f351eef7f1e\t0.30956980937708067\n"
                     "810000000000\t1\n"
                     "000000000000\t0\n"
                     "810000000000\t1\n");
}

TEST(Tokascore, ReportsInvalidLinesAfterAnsweringTheValidOnes) {
    const ProgramRun r = run({}, "fuzzy\tabc\tabc\t0\n"
                                 "fuzzy\tabc\tabc\n"
                                 "exact\tabc\tabc\t0\n"
                                 "similar\tabc\tabc\tlots\n"
                                 "similar\tabc\tabc\t0\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("line 2:"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("line 3:"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("line 4:"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("line 5:"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "810000000000\t1\n810000000000\t1\n") << "both valid lines are answered";
}

TEST(Tokascore, ListModePrintsRanksAndTheOverflowSlot) {
    const ProgramRun r = run({"--list", "fuzzy", "abcdef", "2"}, "abc\nabcd\nab\nABCDEF\n");
    EXPECT_EQ(r.status, 0);
    const std::string lines[] = {"1\t810000000000\tABCDEF\n", "2\t", "\tabcd\n", "overflow\t", "\tabc\n"};
    std::size_t at = 0;
    for (const auto& piece : lines) {
        at = r.out.find(piece, at);
        ASSERT_NE(at, std::string::npos) << piece << " in\n" << r.out;
    }
}

TEST(Tokascore, ListModeWithAnOversizedListIsFatal) {
    const ProgramRun r = run({"--list", "fuzzy", "abc", "201"}, "abc\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("\xc3\x84hnlichkeitsliste zu gro\xc3\x9f!!!"), std::string::npos) << r.err;
}

} // namespace
} // namespace toka::test
