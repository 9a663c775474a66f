#pragma once

#include <QImage>
#include <QSize>

// The copy of a picture the note draws from: premultiplied (smooth scaling of premultiplied
// pixels is many times faster than of straight alpha), fitted into cap with its aspect ratio
// kept, never enlarged. Large pictures are first reduced by a whole factor in one pass that
// premultiplies as it reads (reducedImage()), so no full-size premultiplied copy of them is ever
// made and only a copy near the cap is written.
QImage makeDrawCopy(const QImage &picture, const QSize &cap);

// image at half its width and height (rounded up), each pixel the average of the 2 x 2 block
// it came from (an odd last row or column is paired with itself). Straight 32-bit ARGB comes out
// premultiplied; 32-bit RGB and premultiplied ARGB keep their format.
QImage halvedImage(const QImage &image);

// image reduced by `factor` across and down (rounded up) in one pass, each pixel the average
// of the block it came from (blocks at the right and bottom edges are averaged over the pixels
// they have). Straight 32-bit ARGB comes out premultiplied; 32-bit RGB and premultiplied ARGB
// keep their format. Factors of 1 or less give a premultiplied copy.
QImage reducedImage(const QImage &image, QSize factor);

// The largest factors, across and down, by which reducedImage() may reduce a picture of size
// `from` that is to be drawn at `to` without going below it in either direction: at least 1.
// Each direction has its own, so that a long thin picture is reduced along its length too.
QSize reductionFactor(const QSize &from, const QSize &to);
