#pragma once

#include <QImage>
#include <QList>
#include <QSize>

// What the image area draws its picture from: a premultiplied copy no larger than the largest
// screen, made once per picture, halved again and again, and the copy at the size last drawn.
// Each resize then scales from the smallest copy still at least as large as the note, never from
// the picture itself.
class DrawCache {
public:
    // Makes the copies for a new picture (a null picture empties the cache). The memory the old
    // copies leave behind is to be handed back once the new picture is on screen.
    void setPicture(const QImage &picture);
    bool isEmpty() const { return m_drawSource.isNull(); }
    // The picture at exactly this many device pixels, kept until the next other size.
    const QImage &scaled(const QSize &devicePixels);
    // Whether freed memory waits to be handed back; asking clears it.
    bool takeReleasePending();

private:
    QImage m_drawSource; // premultiplied copy no larger than a screen
    QList<QImage> m_halves; // m_drawSource halved again and again
    QImage m_scaled;        // the copy at the size last drawn
    bool m_releasePending = false;
};
