#pragma once

#include <QImage>
#include <QSize>

// The copy of a picture the note draws from: premultiplied (smooth scaling of premultiplied
// pixels is many times faster than of straight alpha), fitted into cap with its aspect ratio
// kept, never enlarged. Large pictures are first halved with a 2 x 2 box that premultiplies as it
// reads, so no full-size premultiplied copy of them is ever made.
QImage makeDrawCopy(const QImage &picture, const QSize &cap);

// image at half its width and height (rounded up), each pixel the average of the 2 x 2 block
// it came from (an odd last row or column is paired with itself). Straight 32-bit ARGB comes out
// premultiplied; 32-bit RGB and premultiplied ARGB keep their format.
QImage halvedImage(const QImage &image);
