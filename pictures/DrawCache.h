#pragma once

#include <QImage>
#include <QList>
#include <QSize>

// What the image area draws its picture from: a premultiplied copy of the picture up to twice the
// size shown, made in one pass over the picture, and that copy halved again and again. Each
// resize scales from the smallest of them still at least as large as the note, never from the
// picture itself; only a note grown past the copy reads the picture again. The first frame of a
// new picture then needs one pass over it and a copy near the size shown, however large it is.
class DrawCache {
public:
    // Takes a new picture (a null picture empties the cache); no copy of it is made yet. The
    // memory the old copies leave behind is to be handed back once the new picture is on screen.
    void setPicture(const QImage &picture);
    bool isEmpty() const { return m_picture.isNull(); }
    // The picture at exactly this many device pixels, kept until the next other size.
    const QImage &scaled(const QSize &devicePixels);
    // How many times the picture itself has been read for a copy since it was set.
    int copiesMade() const { return m_copiesMade; }
    // Whether freed memory waits to be handed back; asking clears it.
    bool takeReleasePending();

private:
    bool coversSize(const QSize &devicePixels) const;
    void makeCopies(const QSize &devicePixels);

    QImage m_picture; // the picture, shared with the image area
    QImage m_drawSource; // premultiplied copy up to twice the size shown
    QList<QImage> m_halves; // m_drawSource halved again and again
    QImage m_scaled;        // the copy at the size last drawn
    int m_copiesMade = 0;
    bool m_releasePending = false;
};
