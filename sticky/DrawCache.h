#pragma once

#include <QImage>
#include <QList>
#include <QSize>

class QObject;

// What the image area draws its picture from. The first frame of a new picture is drawn from one
// reduction of the picture by a whole factor, which reads each pixel once and makes only a copy
// near the size shown. After it, a premultiplied copy no larger than the largest screen and its
// halvings are made on a thread of the pool; each resize then scales from the smallest of them
// still at least as large as the note, never from the picture itself.
class DrawCache {
public:
    // Takes a new picture (a null picture empties the cache); no copy of it is made yet. The
    // memory the old copies leave behind is to be handed back once the new picture is on screen.
    void setPicture(const QImage &picture);
    bool isEmpty() const { return m_picture.isNull(); }
    // The picture at exactly this many device pixels, kept until the next other size.
    const QImage &scaled(const QSize &devicePixels);
    // Makes the copies a resize scales from on a thread of the pool, unless they are made or on
    // their way. `owner` owns this cache: they are taken in on its thread while it exists.
    void prepareInBackground(QObject *owner);
    // Whether the copies a resize scales from are in.
    bool prepared() const { return !m_drawSource.isNull(); }
    // Whether freed memory waits to be handed back; asking clears it.
    bool takeReleasePending();

    struct Copies {
        QImage drawSource;
        QList<QImage> halves;
    };

private:
    void take(Copies copies);

    QImage m_picture; // the picture, shared with the image area
    quint64 m_generation = 0; // counts pictures: copies made for an earlier one are dropped
    bool m_preparing = false;
    QImage m_drawSource; // premultiplied copy no larger than a screen
    QList<QImage> m_halves; // m_drawSource halved again and again
    QImage m_scaled;        // the copy at the size last drawn
    bool m_releasePending = false;
};
