// tokascore from outside: the line protocol, its errors and the list mode.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <sys/wait.h>

namespace toka::test {
namespace {

struct ToolRun {
    std::string out;
    int status;
};

ToolRun run(const std::string& args, const std::string& input) {
    // ctest runs the cases in parallel processes: one input file per case.
    const std::string inPath =
        testing::TempDir() + "tokascore-" + testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt";
    std::ofstream(inPath, std::ios::binary) << input;
    const std::string command = std::string(TOKA_TOOLS_DIR) + "/tokascore " + args + " < " + inPath + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ToolRun result{"", -1};
    char buffer[4096];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

TEST(Tokascore, AnswersEachLineWithHexAndDecimal) {
    const ToolRun r = run("", "similar\tHello\thelp\t0\n"
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
    const ToolRun r = run("", "fuzzy\tabc\tabc\t0\n"
                              "fuzzy\tabc\tabc\n"
                              "exact\tabc\tabc\t0\n"
                              "similar\tabc\tabc\tlots\n"
                              "similar\tabc\tabc\t0\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("line 2:"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("line 3:"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("line 4:"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("line 5:"), std::string::npos) << r.out;
    // Both valid lines are answered.
    std::size_t answers = 0;
    for (std::size_t p = 0; (p = r.out.find("810000000000\t1\n", p)) != std::string::npos; ++p) ++answers;
    EXPECT_EQ(answers, 2u);
}

TEST(Tokascore, ListModePrintsRanksAndTheOverflowSlot) {
    const ToolRun r = run("--list fuzzy abcdef 2", "abc\nabcd\nab\nABCDEF\n");
    EXPECT_EQ(r.status, 0);
    const std::string lines[] = {"1\t810000000000\tABCDEF\n", "2\t", "\tabcd\n", "overflow\t", "\tabc\n"};
    std::size_t at = 0;
    for (const auto& piece : lines) {
        at = r.out.find(piece, at);
        ASSERT_NE(at, std::string::npos) << piece << " in\n" << r.out;
    }
}

TEST(Tokascore, ListModeWithAnOversizedListIsFatal) {
    const ToolRun r = run("--list fuzzy abc 201", "abc\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("\xc3\x84hnlichkeitsliste zu gro\xc3\x9f!!!"), std::string::npos) << r.out;
}

} // namespace
} // namespace toka::test
