#include "pictures/DrawCopy.h"

#include "pictures/ImageBuffer.h"

#include <QThread>

#include <algorithm>
#include <thread>
#include <vector>

namespace {

// Averages four pixels channel by channel, two channels at a time, rounding to nearest.
inline quint32 average4(quint32 a, quint32 b, quint32 c, quint32 d) {
    const quint32 rb = ((a & 0xff00ff) + (b & 0xff00ff) + (c & 0xff00ff) + (d & 0xff00ff) +
                        0x00020002) >> 2;
    const quint32 ag = (((a >> 8) & 0xff00ff) + ((b >> 8) & 0xff00ff) + ((c >> 8) & 0xff00ff) +
                        ((d >> 8) & 0xff00ff) + 0x00020002) >> 2;
    return (rb & 0xff00ff) | ((ag & 0xff00ff) << 8);
}

// The rows of both pictures, taken once on the calling thread: QImage::scanLine() may detach
// and touches the image's shared data, which the threads that halve or reduce must not do.
struct Rows {
    const uchar *from;
    qsizetype fromStride;
    int fromWidth;
    int fromHeight;
    uchar *to;
    qsizetype toStride;
    int toWidth;
};

Rows rowsOf(const QImage &from, QImage &to) {
    return {from.constBits(), from.bytesPerLine(), from.width(), from.height(),
            to.bits(),        to.bytesPerLine(),   to.width()};
}

template <bool Premultiply>
void halveRows(const Rows &rows, int firstRow, int endRow) {
    const int lastX = rows.fromWidth - 1;
    const int lastY = rows.fromHeight - 1;
    for (int y = firstRow; y < endRow; ++y) {
        const auto *top = reinterpret_cast<const quint32 *>(rows.from + 2 * y * rows.fromStride);
        const auto *bottom = reinterpret_cast<const quint32 *>(
            rows.from + std::min(2 * y + 1, lastY) * rows.fromStride);
        auto *out = reinterpret_cast<quint32 *>(rows.to + y * rows.toStride);
        for (int x = 0; x < rows.toWidth; ++x) {
            const int left = 2 * x;
            const int right = std::min(left + 1, lastX);
            quint32 a = top[left], b = top[right], c = bottom[left], d = bottom[right];
            // Opaque blocks (the usual case) are the same straight or premultiplied.
            if (Premultiply && (a & b & c & d) < 0xff000000u) {
                a = qPremultiply(a);
                b = qPremultiply(b);
                c = qPremultiply(c);
                d = qPremultiply(d);
            }
            out[x] = average4(a, b, c, d);
        }
    }
}

// Blocks of up to this many pixels a side: a row of one sums to 16 bits a channel, a block to 32.
constexpr int kMaxFactor = 256;

template <bool Premultiply>
void reduceRows(const Rows &rows, QSize k, int firstRow, int endRow) {
    const int kx = k.width();
    const int ky = k.height();
    std::vector<quint32> sums(size_t(rows.toWidth) * 4);
    for (int y = firstRow; y < endRow; ++y) {
        std::fill(sums.begin(), sums.end(), 0u);
        const int top = y * ky;
        const int bottom = std::min(top + ky, rows.fromHeight);
        for (int row = top; row < bottom; ++row) {
            const auto *in = reinterpret_cast<const quint32 *>(rows.from + row * rows.fromStride);
            quint32 *sum = sums.data();
            for (int x = 0; x < rows.toWidth; ++x, sum += 4) {
                const int left = x * kx;
                const int right = std::min(left + kx, rows.fromWidth);
                // Two channels at a time: a row of a block has at most kMaxFactor pixels, whose
                // sum of one channel fits in 16 bits.
                quint32 rb = 0, ag = 0;
                for (int i = left; i < right; ++i) {
                    quint32 p = in[i];
                    if (Premultiply && p < 0xff000000u)
                        p = qPremultiply(p);
                    rb += p & 0xff00ff;
                    ag += (p >> 8) & 0xff00ff;
                }
                sum[0] += rb & 0xffff;
                sum[1] += ag & 0xffff;
                sum[2] += rb >> 16;
                sum[3] += ag >> 16;
            }
        }
        auto *out = reinterpret_cast<quint32 *>(rows.to + y * rows.toStride);
        const quint32 *sum = sums.data();
        for (int x = 0; x < rows.toWidth; ++x, sum += 4) {
            const int width = std::min(x * kx + kx, rows.fromWidth) - x * kx;
            const quint32 count = quint32(width) * quint32(bottom - top);
            const quint32 half = count / 2;
            out[x] = ((sum[0] + half) / count) | (((sum[1] + half) / count) << 8) |
                     (((sum[2] + half) / count) << 16) | (((sum[3] + half) / count) << 24);
        }
    }
}

// Rows of output below which another thread costs more than it saves (when each reads two rows
// of the picture).
constexpr int kRowsPerThread = 256;

// Runs `work(firstRow, endRow)` over `count` rows of output on every core for large pictures;
// `inputRowsPerRow` rows of the picture are read for each.
template <typename Work>
void onEveryCore(int count, int inputRowsPerRow, const Work &work) {
    const int threads = std::clamp(
        std::min(QThread::idealThreadCount(), count * inputRowsPerRow / (2 * kRowsPerThread)), 1,
        8);
    std::vector<std::thread> helpers;
    for (int i = 1; i < threads; ++i)
        helpers.emplace_back(
            [&work, i, threads, count] { work(count * i / threads, count * (i + 1) / threads); });
    work(0, count / threads);
    for (std::thread &helper : helpers)
        helper.join();
}

template <bool Premultiply>
void reduceRows(const QImage &from, QImage &to, QSize factor) {
    const Rows rows = rowsOf(from, to);
    onEveryCore(to.height(), factor.height(), [&rows, factor](int first, int end) {
        reduceRows<Premultiply>(rows, factor, first, end);
    });
}

// Halves on every core for large pictures: reading a picture of many megabytes once is the whole
// cost, and the rows are independent.
template <bool Premultiply>
void halveRows(const QImage &from, QImage &to) {
    const Rows rows = rowsOf(from, to);
    onEveryCore(to.height(), 2, [&rows](int first, int end) {
        halveRows<Premultiply>(rows, first, end);
    });
}

} // namespace

QImage halvedImage(const QImage &image) {
    if (image.isNull())
        return {};
    const QSize half((image.width() + 1) / 2, (image.height() + 1) / 2);
    switch (image.format()) {
    case QImage::Format_ARGB32: {
        QImage out = platform::newImageBuffer(half, QImage::Format_ARGB32_Premultiplied);
        if (!out.isNull())
            halveRows<true>(image, out);
        return out;
    }
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32_Premultiplied: {
        QImage out = platform::newImageBuffer(half, image.format());
        if (!out.isNull())
            halveRows<false>(image, out);
        return out;
    }
    default:
        return halvedImage(image.convertToFormat(QImage::Format_ARGB32_Premultiplied));
    }
}

QImage makeDrawCopy(const QImage &picture, const QSize &cap) {
    if (picture.isNull() || cap.isEmpty())
        return {};
    QSize target = picture.size();
    if (target.width() > cap.width() || target.height() > cap.height())
        target = target.scaled(cap, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));

    // One pass over the picture, reading each pixel once and writing only a copy near the
    // target; the smooth scale does the rest from that small copy.
    QImage copy = reducedImage(picture, reductionFactor(picture.size(), target));
    if (copy.isNull())
        return {};
    if (copy.format() != QImage::Format_ARGB32_Premultiplied)
        copy = std::move(copy).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (copy.size() != target)
        copy = copy.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return copy;
}

QSize reductionFactor(const QSize &from, const QSize &to) {
    if (from.isEmpty() || to.isEmpty())
        return QSize(1, 1);
    return QSize(std::clamp(from.width() / to.width(), 1, kMaxFactor),
                 std::clamp(from.height() / to.height(), 1, kMaxFactor));
}

QImage reducedImage(const QImage &image, QSize factor) {
    if (image.isNull())
        return {};
    factor = factor.boundedTo(QSize(kMaxFactor, kMaxFactor)).expandedTo(QSize(1, 1));
    if (factor == QSize(1, 1))
        return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QSize size((image.width() + factor.width() - 1) / factor.width(),
                     (image.height() + factor.height() - 1) / factor.height());
    switch (image.format()) {
    case QImage::Format_ARGB32: {
        QImage out(size, QImage::Format_ARGB32_Premultiplied);
        if (!out.isNull())
            reduceRows<true>(image, out, factor);
        return out;
    }
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32_Premultiplied: {
        QImage out(size, image.format());
        if (!out.isNull())
            reduceRows<false>(image, out, factor);
        return out;
    }
    default:
        return reducedImage(image.convertToFormat(QImage::Format_ARGB32_Premultiplied), factor);
    }
}
