#include "sticky/DrawCache.h"

#include "sticky/DrawCopy.h"

#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QThreadPool>

#include <new>

namespace {

// Halved copies stop here: below it scaling from the next larger copy costs next to nothing.
constexpr int kSmallestHalf = 64;
// Pictures up to this many pixels get their copies at once, in well under a millisecond.
constexpr qint64 kSmallPicture = 512 * 512;

bool isSmall(const QImage &picture) {
    return qint64(picture.width()) * picture.height() <= kSmallPicture;
}

// The largest picture any screen can show at its own pixel density. Drawing from a copy no
// larger than this keeps every rescale cheap however large the pasted picture is.
QSize largestScreenPixels() {
    QSize largest;
    for (const QScreen *screen : QGuiApplication::screens())
        largest = largest.expandedTo(screen->geometry().size() * screen->devicePixelRatio());
    return largest.isEmpty() ? QSize(3840, 2160) : largest;
}

using Copies = DrawCache::Copies;

Copies makeCopies(const QImage &picture, const QSize &cap) {
    Copies copies;
    copies.drawSource = makeDrawCopy(picture, cap);
    const QImage *from = &copies.drawSource;
    while (from->width() / 2 >= kSmallestHalf && from->height() / 2 >= kSmallestHalf) {
        copies.halves.append(halvedImage(*from));
        from = &copies.halves.last();
    }
    return copies;
}

} // namespace

void DrawCache::setPicture(const QImage &picture) {
    m_picture = picture;
    ++m_generation;
    m_preparing = false;
    m_scaled = QImage();
    m_drawSource = QImage();
    m_halves.clear();
    // Pictures of a few megabytes come from the heap rather than from pages of their own once
    // a larger one has been freed, and the heap keeps what they leave behind: it is handed back
    // once the new picture is on screen.
    m_releasePending = true;
}

const QImage &DrawCache::scaled(const QSize &devicePixels) {
    if (m_scaled.size() == devicePixels || m_picture.isNull())
        return m_scaled;
    if (!prepared() && isSmall(m_picture))
        take(makeCopies(m_picture, largestScreenPixels()));
    if (prepared()) {
        const QImage *from = &m_drawSource;
        for (const QImage &half : m_halves) {
            if (half.width() < devicePixels.width() || half.height() < devicePixels.height())
                break;
            from = &half;
        }
        m_scaled = from->size() == devicePixels
                       ? *from
                       : from->scaled(devicePixels, Qt::IgnoreAspectRatio,
                                      Qt::SmoothTransformation);
    } else {
        // Until the copies are in: one pass over the picture to a copy at least this large.
        const QImage reduced =
            reducedImage(m_picture, reductionFactor(m_picture.size(), devicePixels));
        m_scaled = reduced.size() == devicePixels
                       ? reduced
                       : reduced.scaled(devicePixels, Qt::IgnoreAspectRatio,
                                        Qt::SmoothTransformation);
    }
    return m_scaled;
}

void DrawCache::prepareInBackground(QObject *owner) {
    if (m_picture.isNull() || prepared() || m_preparing)
        return;
    m_preparing = true;
    const QPointer<QObject> guard(owner);
    // Shared, not copied: the picture is only read there.
    QThreadPool::globalInstance()->start(
        [this, guard, picture = m_picture, cap = largestScreenPixels(),
         generation = m_generation] {
            Copies copies;
            try {
                copies = makeCopies(picture, cap);
            } catch (const std::bad_alloc &) {
                // No room for them: the picture goes on being drawn from itself.
            }
            // The application object outlives the pool's work: it waits for it when it ends.
            QMetaObject::invokeMethod(
                qApp,
                [this, guard, generation, copies = std::move(copies)]() mutable {
                    if (guard && generation == m_generation)
                        take(std::move(copies));
                },
                Qt::QueuedConnection);
        });
}

void DrawCache::take(Copies copies) {
    m_drawSource = std::move(copies.drawSource);
    m_halves = std::move(copies.halves);
}

bool DrawCache::takeReleasePending() {
    const bool pending = m_releasePending;
    m_releasePending = false;
    return pending;
}
