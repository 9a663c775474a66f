#include "pictures/DrawCache.h"

#include "pictures/DrawCopy.h"

#include <QGuiApplication>
#include <QScreen>

namespace {

// Halved copies stop here: below it scaling from the next larger copy costs next to nothing.
constexpr int kSmallestHalf = 64;
constexpr int kRoundingRoom = 4;

// The largest picture any screen can show at its own pixel density: no copy is made larger.
QSize largestScreenPixels() {
    QSize largest;
    for (const QScreen *screen : QGuiApplication::screens())
        largest = largest.expandedTo(screen->geometry().size() * screen->devicePixelRatio());
    return largest.isEmpty() ? QSize(3840, 2160) : largest;
}

} // namespace

void DrawCache::setPicture(const QImage &picture) {
    m_picture = picture;
    m_scaled = QImage();
    m_drawSource = QImage();
    m_halves.clear();
    m_copiesMade = 0;
    // Pictures of a few megabytes come from the heap rather than from pages of their own once
    // a larger one has been freed, and the heap keeps what they leave behind: it is handed back
    // once the new picture is on screen.
    m_releasePending = true;
}

// Whether the copy can be drawn at this size without reading the picture again: it is at least
// as large, or already the whole picture.
bool DrawCache::coversSize(const QSize &devicePixels) const {
    if (m_drawSource.isNull())
        return false;
    return (m_drawSource.width() >= devicePixels.width() ||
            m_drawSource.width() >= m_picture.width()) &&
           (m_drawSource.height() >= devicePixels.height() ||
            m_drawSource.height() >= m_picture.height());
}

// Room to grow: a note dragged up to twice its size scales from the same copy. The few pixels
// more keep a picture fitted into the doubled note, rounded, from falling a pixel short of it.
void DrawCache::makeCopies(const QSize &devicePixels) {
    m_drawSource = QImage();
    m_halves.clear();
    const QSize room = devicePixels * 2 + QSize(kRoundingRoom, kRoundingRoom);
    const QSize cap = room.boundedTo(largestScreenPixels()).expandedTo(devicePixels);
    m_drawSource = makeDrawCopy(m_picture, cap);
    ++m_copiesMade;
    const QImage *from = &m_drawSource;
    while (from->width() / 2 >= kSmallestHalf && from->height() / 2 >= kSmallestHalf) {
        m_halves.append(halvedImage(*from));
        from = &m_halves.last();
    }
}

const QImage &DrawCache::scaled(const QSize &devicePixels) {
    if (m_scaled.size() == devicePixels || m_picture.isNull() || devicePixels.isEmpty())
        return m_scaled;
    if (!coversSize(devicePixels))
        makeCopies(devicePixels);
    const QImage *from = &m_drawSource;
    for (const QImage &half : m_halves) {
        if (half.width() < devicePixels.width() || half.height() < devicePixels.height())
            break;
        from = &half;
    }
    m_scaled = from->size() == devicePixels
                   ? *from
                   : from->scaled(devicePixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return m_scaled;
}

bool DrawCache::takeReleasePending() {
    const bool pending = m_releasePending;
    m_releasePending = false;
    return pending;
}
