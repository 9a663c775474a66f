// The floor of a paste: the same encoded bytes decoded in this process by the same decoder, with
// no X server, clipboard transfer or drawing involved.
//
// Usage: stiqlet_decode_floor [--runs N] FILE...
// For each file it prints one line of JSON: the median, minimum and maximum in milliseconds of
// N timed decodes (after one untimed warm-up) by Qt's reader alone ("qt") and by the note's own
// decoding call ("note"), which adds the size checks and the conversion to 32-bit ARGB.
#include "pictures/ImageBuffer.h"
#include "pictures/ImageDecode.h"
#include "platform/Memory.h"

#include <QBuffer>
#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QImageReader>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

namespace {

struct Figures {
    double median = 0, low = 0, high = 0;
};

Figures timeRuns(int runs, const std::function<QImage()> &decode, QSize *size) {
    const QImage warm = decode(); // untimed: file cache, plugin loading, allocator
    if (size)
        *size = warm.size();
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        const QImage image = decode();
        ms.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (image.isNull()) {
            std::fprintf(stderr, "decode_floor: decoding failed\n");
            std::exit(1);
        }
    }
    std::sort(ms.begin(), ms.end());
    const size_t n = ms.size();
    const double median = n % 2 ? ms[n / 2] : (ms[n / 2 - 1] + ms[n / 2]) / 2;
    return {median, ms.front(), ms.back()};
}

} // namespace

int main(int argc, char **argv) {
    // Large pictures come as large pages, as in the program.
    platform::setLargePageAdvice(platform::adviseLargePages);
    int runs = 7;
    std::vector<const char *> files;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--runs") && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else
            files.push_back(argv[i]);
    }
    if (files.empty()) {
        std::fprintf(stderr, "usage: stiqlet_decode_floor [--runs N] FILE...\n");
        return 2;
    }
    platform::allowLargeImages();
    for (const char *path : files) {
        QFile file(QString::fromLocal8Bit(path));
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "decode_floor: cannot read %s\n", path);
            return 1;
        }
        const QByteArray data = file.readAll();
        QSize size;
        const Figures qt = timeRuns(
            runs,
            [&data] {
                QBuffer buffer;
                buffer.setData(data);
                buffer.open(QIODevice::ReadOnly);
                QImageReader reader(&buffer, "png");
                return reader.read();
            },
            &size);
        const Figures note =
            timeRuns(runs, [&data] { return platform::decodeImageData(data, "png"); }, nullptr);
        std::printf("{\"file\": \"%s\", \"width\": %d, \"height\": %d, \"bytes\": %lld, "
                    "\"runs\": %d, \"qt_ms\": [%.3f, %.3f, %.3f], \"note_ms\": [%.3f, %.3f, %.3f]}\n",
                    path, size.width(), size.height(), static_cast<long long>(data.size()), runs,
                    qt.median, qt.low, qt.high, note.median, note.low, note.high);
        std::fflush(stdout);
    }
    return 0;
}
