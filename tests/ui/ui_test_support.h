#pragma once
// Small helpers shared by the window tests: temporary trees and volume
// entries for the directory tree.

#include <QDir>
#include <QFile>
#include <QString>
#include <QTest>

#include <string>

#include "platform/volumes.h"

namespace toka::testing {

/// A volume node for the tree at mountPoint ("/" keeps its one slash).
inline Volume volumeAt(const std::string& mountPoint, VolumeKind kind = VolumeKind::Fixed) {
    Volume volume;
    volume.mountPoint = mountPoint;
    volume.path = mountPoint == "/" ? "/" : mountPoint + "/";
    volume.kind = kind;
    return volume;
}

inline void mkdirp(const QString& path) { QVERIFY(QDir().mkpath(path)); }

inline void touch(const QString& path) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
}

} // namespace toka::testing
