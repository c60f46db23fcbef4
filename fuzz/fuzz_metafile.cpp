// libFuzzer target for the metafile player: any input must load or fail
// cleanly, within the limits, without a sanitizer report.

#include <QByteArray>
#include <QGuiApplication>

#include <cstdint>
#include <cstdlib>

#include "viewer/wmf_player.h"

namespace {

// Smaller pictures and a smaller work budget than the viewer allows keep
// the fuzzer at thousands of runs a second and each run far below its
// timeout; the limit checks themselves are the same code.
toka::MetafileLimits fuzzLimits() {
    toka::MetafileLimits limits;
    limits.maxSide = 2048;
    limits.maxPixels = std::int64_t{1} << 20;
    limits.workBudget = std::int64_t{1} << 26;
    return limits;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Text drawing needs fonts, and fonts need a GUI application.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "fuzz_metafile";
    static char* argv[] = {name, nullptr};
    new QGuiApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const toka::MetafileLimits limits = fuzzLimits();
    // Not copied: a read past the input is a read past the fuzzer's buffer.
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto image = toka::loadMetafile(bytes, limits);
    if (image) {
        const QImage& picture = image.value();
        if (picture.isNull() || picture.width() > limits.maxSide || picture.height() > limits.maxSide
            || std::int64_t{picture.width()} * picture.height() > limits.maxPixels)
            std::abort();
    } else if (image.error().isEmpty()) {
        std::abort(); // every failure must say why
    }
    return 0;
}
