// One QGuiApplication for the whole picture test run: the metafile player
// draws text only when one exists (fonts need it), and Qt allows one per
// process.  Created before the first test, after gtest_main has parsed the
// command line, and never when the tests are only listed.

#include <QGuiApplication>

#include <gtest/gtest.h>

#include <memory>

namespace toka::test {
namespace {

class GuiEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        m_application = std::make_unique<QGuiApplication>(m_argc, m_argv);
    }
    void TearDown() override { m_application.reset(); }

private:
    int m_argc = 1;
    char m_name[13] = "test_picture";
    char* m_argv[2] = {m_name, nullptr};
    std::unique_ptr<QGuiApplication> m_application;
};

[[maybe_unused]] ::testing::Environment* const kGuiEnvironment =
    ::testing::AddGlobalTestEnvironment(new GuiEnvironment);

} // namespace
} // namespace toka::test
