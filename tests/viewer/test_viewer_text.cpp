// The viewer's text: line ends, the NUL cut, the choice between UTF-8 and
// Windows-1252, and which files are read at all.

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ostream>
#include <string>

#include "../support/temp_tree.h"
#include "viewer/viewer_text.h"

namespace toka::test {
namespace {

struct DecodeCase {
    std::string name;
    std::string bytes;
    std::u16string expected;
};

void PrintTo(const DecodeCase& c, std::ostream* os) { *os << c.name; }

class ViewerDecode : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(ViewerDecode, Decodes) {
    const DecodeCase& c = GetParam();
    EXPECT_EQ(decodeViewerText(c.bytes.data(), c.bytes.size()), QString::fromStdU16String(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    LineEnds, ViewerDecode,
    ::testing::Values(DecodeCase{"lf", "a\nb", u"a\nb"}, DecodeCase{"cr", "a\rb", u"a\nb"},
                      DecodeCase{"cr_lf", "a\r\nb", u"a\nb"}, DecodeCase{"lf_cr", "a\n\rb", u"a\nb"},
                      DecodeCase{"two_lf", "a\n\nb", u"a\n\nb"}, DecodeCase{"two_cr", "a\r\rb", u"a\n\nb"},
                      // Pairs are taken from the left: CR LF, then a lone CR.
                      DecodeCase{"cr_lf_cr", "a\r\n\rb", u"a\n\nb"}, DecodeCase{"lf_cr_lf", "a\n\r\nb", u"a\n\nb"},
                      DecodeCase{"cr_lf_twice", "\r\n\r\n", u"\n\n"}, DecodeCase{"trailing_cr", "a\r", u"a\n"},
                      // Line ends are normalised in the fallback decoding too.
                      DecodeCase{"cp1252_cr_lf", "\xfc\r\n\xfc", u"\u00fc\n\u00fc"}),
    [](const auto& test) { return test.param.name; });

INSTANTIATE_TEST_SUITE_P(Nul, ViewerDecode,
                         ::testing::Values(DecodeCase{"text_ends_at_nul", std::string("abc\0def", 7), u"abc"},
                                           DecodeCase{"leading_nul", std::string("\0abc", 4), u""},
                                           // The encoding is decided on the text before the NUL only.
                                           DecodeCase{"invalid_byte_after_nul", std::string("\xc3\xbc\0\xff", 4),
                                                      u"\u00fc"},
                                           DecodeCase{"empty", "", u""}),
                         [](const auto& test) { return test.param.name; });

INSTANTIATE_TEST_SUITE_P(
    Encoding, ViewerDecode,
    ::testing::Values(DecodeCase{"utf8", "Gr\xc3\xbc\xc3\x9f", u"Gr\u00fc\u00df"},
                      DecodeCase{"utf8_four_bytes", "\xf0\x9f\x98\x80", u"\U0001F600"},
                      DecodeCase{"cp1252", "Gr\xfc\xdf", u"Gr\u00fc\u00df"},
                      DecodeCase{"cp1252_euro_and_quotes", "\x80\x93x\x94", u"\u20ac\u201cx\u201d"},
                      DecodeCase{"cp1252_s_caron_y_diaeresis", "\x8a\x9f", u"\u0160\u0178"},
                      // Bytes the code page leaves undefined keep their value.
                      DecodeCase{"cp1252_undefined_bytes", "\x81\x8d\x8f\x90\x9d", u"\u0081\u008d\u008f\u0090\u009d"},
                      // One invalid byte makes the whole file Windows-1252.
                      DecodeCase{"mixed_falls_back_whole", "\xc3\xbc \xfc", u"\u00c3\u00bc \u00fc"},
                      DecodeCase{"overlong_slash", "\xc0\xaf", u"\u00c0\u00af"},
                      DecodeCase{"overlong_three_bytes", "\xe0\x80\xaf", u"\u00e0\u20ac\u00af"},
                      DecodeCase{"surrogate", "\xed\xa0\x80", u"\u00ed\u00a0\u20ac"},
                      DecodeCase{"above_unicode", "\xf4\x90\x80\x80", u"\u00f4\u0090\u20ac\u20ac"},
                      DecodeCase{"cut_sequence_at_end", "a\xc3", u"a\u00c3"},
                      DecodeCase{"lone_continuation", "a\x80", u"a\u20ac"},
                      // After a run of eight-byte ASCII words, at an odd offset.
                      DecodeCase{"invalid_after_ascii_run", "abcdefghijklmnopq\xff", u"abcdefghijklmnopq\u00ff"},
                      DecodeCase{"valid_after_ascii_run", "abcdefghijklmnopq\xc3\xbf", u"abcdefghijklmnopq\u00ff"}),
    [](const auto& test) { return test.param.name; });

class ViewerFiles : public ::testing::Test {
protected:
    std::string write(const char* name, const std::string& bytes) const {
        writeFile(m_dir / name, bytes);
        return m_dir / name;
    }
    TempTree m_dir;
};

// Only a regular file, or a link to one, is read; anything else fails at
// once (opening a FIFO for reading waits for a writer; the viewer must not).
TEST_F(ViewerFiles, OnlyRegularFilesLoad) {
    write("notes.txt", "one\r\ntwo");
    ASSERT_EQ(::symlink("notes.txt", (m_dir / "link.txt").c_str()), 0);
    m_dir.mkdirp("folder");
    ASSERT_EQ(::mkfifo((m_dir / "pipe").c_str(), 0644), 0);
    m_dir.makeSocket("socket");
    const std::pair<std::string, bool> cases[] = {
        {m_dir / "notes.txt", true}, {m_dir / "link.txt", true}, {m_dir / "missing.txt", false},
        {m_dir / "folder", false},   {m_dir / "pipe", false},    {"/dev/null", false},
        {m_dir / "socket", false},
    };
    QElapsedTimer timer;
    timer.start();
    for (const auto& [path, loads] : cases) {
        const auto text = loadViewerText(path);
        ASSERT_EQ(text.ok(), loads) << path;
        if (loads) {
            EXPECT_EQ(text.value(), QStringLiteral("one\ntwo")) << path;
        }
    }
    EXPECT_LT(timer.elapsed(), 1000);
}

// A program file: only the text up to its first NUL, however large the file.
// The file is sparse, so the gigabyte costs no disk.
TEST_F(ViewerFiles, HugeFileWithEarlyNulLoadsOnlyItsHead) {
    const std::string p = write("program.exe", "MZ\x90");
    ASSERT_EQ(::truncate(p.c_str(), off_t{1} << 30), 0);
    QElapsedTimer timer;
    timer.start();
    const auto text = loadViewerText(p);
    ASSERT_TRUE(text.ok()) << text.error().toStdString();
    EXPECT_EQ(text.value(), QStringLiteral("MZ\u0090"));
    EXPECT_LT(timer.elapsed(), 1000);
}

// 64 MiB of text fit the memo; one byte more does not.  A NUL right after
// the 64 MiB still fits, as the text ends there.
TEST_F(ViewerFiles, CapacityIs64MiB) {
    const std::string full(toka::kViewerTextCapacity, 'a');
    const std::string p = write("full.txt", full);
    const auto fits = loadViewerText(p);
    ASSERT_TRUE(fits.ok()) << fits.error().toStdString();
    EXPECT_EQ(fits.value().size(), qsizetype(toka::kViewerTextCapacity));

    const int fd = ::open(p.c_str(), O_WRONLY | O_APPEND);
    ASSERT_EQ(::write(fd, "\0", 1), 1);
    EXPECT_TRUE(loadViewerText(p).ok());
    ASSERT_EQ(::ftruncate(fd, off_t(toka::kViewerTextCapacity)), 0);
    ASSERT_EQ(::write(fd, "b", 1), 1);
    ::close(fd);
    EXPECT_FALSE(loadViewerText(p).ok());
}

} // namespace
} // namespace toka::test
