// Replays the fuzzer's corpus and the inputs that once crashed or hung the
// player: each must load or fail within the limits, and quickly.

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <gtest/gtest.h>

#include "viewer/wmf_player.h"

namespace toka::test {
namespace {

QStringList filesIn(const QString& folder) {
    QStringList paths;
    const QDir dir(QStringLiteral(TOKA_TEST_DATA "/../../fuzz/") + folder);
    for (const QString& name : dir.entryList(QDir::Files, QDir::Name)) paths << dir.filePath(name);
    return paths;
}

void replay(const QString& folder, qsizetype minimumFiles) {
    const QStringList paths = filesIn(folder);
    ASSERT_GE(paths.size(), minimumFiles) << folder.toStdString();
    const toka::MetafileLimits limits;
    for (const QString& path : paths) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
        QElapsedTimer timer;
        timer.start();
        const auto image = toka::loadMetafile(file.readAll(), limits);
        // The fuzzer's own limit per input is 5 s under the sanitizers.
        EXPECT_LT(timer.elapsed(), 5000) << path.toStdString();
        if (image) {
            EXPECT_LE(image.value().width(), limits.maxSide) << path.toStdString();
            EXPECT_LE(image.value().height(), limits.maxSide) << path.toStdString();
            EXPECT_LE(qint64(image.value().width()) * image.value().height(), limits.maxPixels);
        } else {
            EXPECT_FALSE(image.error().isEmpty()) << path.toStdString();
        }
    }
}

TEST(FuzzRegressions, CorpusLoadsOrFailsCleanly) { replay(QStringLiteral("corpus"), 8); }

TEST(FuzzRegressions, CrashReproducersLoadOrFailCleanly) { replay(QStringLiteral("regressions"), 1); }

} // namespace
} // namespace toka::test
