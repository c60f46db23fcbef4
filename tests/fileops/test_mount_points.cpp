// Mount points inside and around the trees that copy, move and delete touch:
// removal never descends into one, and a bind mount does not hide a copy
// into itself.  Root only; every mount lives in a private mount namespace.

#include "test_support.h"

namespace toka::test {
namespace {

class MountPointTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string why = TestMounts::unavailable(); !why.empty()) GTEST_SKIP() << why;
    }
    std::string at(const std::string& name) const { return m_root / name; }

    TempTree m_root;
    TestMounts m_mounts{m_root.path()}; // detached before the folder is removed
    ScriptedQuestions questions;
};

TEST_F(MountPointTest, RemovalLeavesEveryMountAndItsContentsAlone) {
    struct Case {
        const char* name;
        FileOpKind kind;
        bool bind;          // a bind mount of the same file system, else a tmpfs
        const char* source; // "del" holds the mount point "victim", or is it
    } cases[] = {
        {"bind mount inside a deleted folder", FileOpKind::Delete, true, "del"},
        {"bind mount inside a folder moved across file systems", FileOpKind::Move, true, "del"},
        {"bind mount marked itself", FileOpKind::Delete, true, "del/victim"},
        {"tmpfs inside a deleted folder", FileOpKind::Delete, false, "del"},
        {"tmpfs marked itself", FileOpKind::Delete, false, "del/victim"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(at("precious/p1"), "k");
        std::filesystem::create_directories(at("precious/pd"));
        writeFile(at("del/other"), "o");
        std::filesystem::create_directories(at("del/victim"));
        std::filesystem::create_directories(at("dest"));
        if (c.bind) {
            m_mounts.bind(at("precious"), at("del/victim"));
        } else {
            m_mounts.tmpfs(at("del/victim"));
            writeFile(at("del/victim/p1"), "k");
            std::filesystem::create_directories(at("del/victim/pd"));
        }
        const Tree mounted = snapshot(at("del/victim"));

        FaultySystem system; // every rename of a source answers EXDEV
        system.fault = acrossFileSystems;
        questions.failuresAsked.clear();
        questions.everyFailure = FailureAction::Skip;
        const FileOpResult result = FileOperation(questions, system).run({at(c.source)}, c.kind, at("dest/"));

        EXPECT_EQ(snapshot(at("del/victim")), mounted);
        EXPECT_EQ(result.itemsSkipped, 1u);
        EXPECT_EQ(exists(at("del/other")), std::string(c.source) != "del");
        ASSERT_EQ(questions.failuresAsked.size(), 1u);
        EXPECT_EQ(questions.failuresAsked[0].kind, FailureKind::MountPoint);
        EXPECT_EQ(questions.failuresAsked[0].path, at("del/victim"));
        if (c.kind == FileOpKind::Move) {
            EXPECT_EQ(snapshot(at("dest/del/victim")), mounted);
        }
        ASSERT_EQ(::umount2(at("del/victim").c_str(), MNT_DETACH), 0);
        if (!c.bind) {
            EXPECT_TRUE(snapshot(at("del/victim")).empty()); // the tmpfs held it all
        }
        std::filesystem::remove_all(at("del"));
        std::filesystem::remove_all(at("dest"));
    }
    EXPECT_EQ(snapshot(at("precious")), (Tree{{"p1", {'f', "k"}}, {"pd", {'d', {}}}}));
}

TEST_F(MountPointTest, AFolderThatCannotGoKeepsItsHiddenNameInTheDestination) {
    for (FileOpKind kind : {FileOpKind::Move, FileOpKind::Copy}) {
        SCOPED_TRACE(kind == FileOpKind::Move ? "move" : "copy");
        writeFile(at("elsewhere/e"), "mounted");
        writeFile(at("y1/f"), "the file");
        writeFile(at("y2/f/plain"), "goes with the folder");
        std::filesystem::create_directories(at("y2/f/m"));
        m_mounts.bind(at("elsewhere"), at("y2/f/m"));
        questions.existsReplies = {{ExistsAction::Replace}};
        questions.errorsShown.clear();

        FileOperation(questions).run({at("y1/f")}, kind, at("y2/"));

        EXPECT_EQ(readFile(at("y2/f")), "the file");
        EXPECT_EQ(exists(at("y1/f")), kind == FileOpKind::Copy);
        if (kind == FileOpKind::Copy) {
            EXPECT_EQ(readFile(at("y1/f")), "the file");
        }
        const std::vector<std::string> leftOver = temporaryItems(at("y2"));
        ASSERT_EQ(leftOver.size(), 1u); // the old folder, beside the new file
        EXPECT_EQ(leftOver[0].find('/'), std::string::npos);
        ASSERT_EQ(questions.errorsShown.size(), 1u);
        EXPECT_EQ(questions.errorsShown[0].kind, FailureKind::LeftOver);
        EXPECT_EQ(questions.errorsShown[0].path, at("y2/" + leftOver[0]));
        EXPECT_EQ(readFile(at("elsewhere/e")), "mounted");
        ASSERT_EQ(::umount2(at("y2/" + leftOver[0] + "/m").c_str(), MNT_DETACH), 0);
        std::filesystem::remove_all(at("y1"));
        std::filesystem::remove_all(at("y2"));
    }
}

TEST_F(MountPointTest, ABindMountDoesNotHideACopyIntoItself) {
    writeFile(at("s3/sub/deeper/x"), "x");
    std::filesystem::create_directories(at("bm"));
    m_mounts.bind(at("s3/sub"), at("bm"));
    const Tree before = snapshot(m_root.path());
    questions.everyFailure = FailureAction::Skip;
    for (FileOpKind kind : {FileOpKind::Copy, FileOpKind::Move}) {
        for (const char* destination : {"bm/", "bm/deeper/"}) {
            SCOPED_TRACE(destination);
            questions.failuresAsked.clear();
            EXPECT_EQ(FileOperation(questions).run({at("s3")}, kind, at(destination)).itemsSkipped, 1u);
            ASSERT_EQ(questions.failuresAsked.size(), 1u);
            EXPECT_EQ(questions.failuresAsked[0].kind, FailureKind::IntoItself);
            EXPECT_EQ(snapshot(m_root.path()), before);
        }
    }
}

} // namespace
} // namespace toka::test
