#pragma once

// Decoding of the welcome photograph with libjpeg, called directly.

#include <QImage>

#include <cstddef>
#include <cstdint>
#include <string>

namespace app {

struct JpegPicture {
    int Width = 0;
    int Height = 0;
    int Components = 0;   // colour components in the file
    bool Progressive = false;
    QImage Image;         // RGB888; null when decoding failed
    std::string Error;    // libjpeg's message when it failed
};

// Decodes a JPEG image held in memory. Never throws; a damaged or truncated
// file gives a null Image and the decoder's message in Error.
JpegPicture DecodeJpeg(const std::uint8_t* data, std::size_t size);

} // namespace app
