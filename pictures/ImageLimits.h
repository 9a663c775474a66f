#pragma once

#include <climits>
#include <stdexcept>
#include <string>

namespace platform {

// Most pixels decoded (1 GiB as 32-bit), whatever the picture's shape: a 1080 x 20000 scrolling
// screenshot passes, and headers claiming more are refused before anything is allocated.
constexpr long long kMaxImagePixels = 268435456;
// Widest picture: QImage holds no row of 32-bit pixels whose bits an int cannot count.
constexpr long long kMaxImageWidth = (INT_MAX - 31) / 32;

// Whether a picture of width x height pixels is within the limits.
constexpr bool fitsImageLimits(long long width, long long height) {
    return width > 0 && height > 0 && width <= kMaxImageWidth && height <= kMaxImagePixels &&
           width * height <= kMaxImagePixels;
}

// A picture beyond the limits: an image, but one the program does not hold. The decoders throw
// it rather than give no picture, which their callers take for content that does not decode:
// this one is a failure to report, and the picture shown stays.
class ImageTooLarge : public std::runtime_error {
public:
    ImageTooLarge(long long width, long long height)
        : std::runtime_error("picture of " + std::to_string(width) + " x " +
                             std::to_string(height) + " pixels is too large")
        , m_width(width)
        , m_height(height) {}
    long long width() const { return m_width; }
    long long height() const { return m_height; }

private:
    long long m_width;
    long long m_height;
};

// Throws ImageTooLarge for a positive size beyond the limits.
inline void checkImageLimits(long long width, long long height) {
    if (width > 0 && height > 0 && !fitsImageLimits(width, height))
        throw ImageTooLarge(width, height);
}

} // namespace platform
