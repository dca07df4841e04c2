#include "app/JpegPicture.h"

#include <csetjmp>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

namespace app {

namespace {

// A picture for the window, not a poster: larger dimensions are refused
// before any memory is taken for them.
constexpr std::uint64_t kMaxPixels = 16u * 1024u * 1024u;

// libjpeg reports a fatal error by calling error_exit, which must not return.
// It jumps back to DecodeInto; nothing between the two frames owns resources
// that a destructor would free (the caller owns the output).
struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void ErrorExit(j_common_ptr cinfo)
{
    auto* manager = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, manager->message);
    std::longjmp(manager->jump, 1);
}

// Warnings (e.g. a premature end of data) are not worth a message; libjpeg
// fills what is missing with grey.
void EmitNothing(j_common_ptr, int) { }

// Only trivially destructible locals here, so the jump skips no destructor.
bool DecodeInto(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& pixels,
                JpegPicture& picture, ErrorManager& errors)
{
    jpeg_decompress_struct cinfo;
    cinfo.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = ErrorExit;
    errors.base.emit_message = EmitNothing;
    errors.message[0] = '\0';
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    picture.Width = static_cast<int>(cinfo.image_width);
    picture.Height = static_cast<int>(cinfo.image_height);
    picture.Components = cinfo.num_components;
    picture.Progressive = cinfo.progressive_mode != 0;
    if (static_cast<std::uint64_t>(cinfo.image_width) * cinfo.image_height > kMaxPixels) {
        std::snprintf(errors.message, sizeof errors.message, "Image too large (%ux%u)",
                      static_cast<unsigned>(cinfo.image_width), static_cast<unsigned>(cinfo.image_height));
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    const std::size_t stride = static_cast<std::size_t>(cinfo.output_width) * 3;
    pixels.resize(stride * cinfo.output_height);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = pixels.data() + stride * cinfo.output_scanline;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

} // namespace

JpegPicture DecodeJpeg(const std::uint8_t* data, std::size_t size)
{
    JpegPicture picture;
    if (!data || size == 0) {
        picture.Error = "Empty input file";
        return picture;
    }
    std::vector<std::uint8_t> pixels;
    ErrorManager errors {};
    if (!DecodeInto(data, size, pixels, picture, errors)) {
        picture.Error = errors.message;
        return picture;
    }
    const int stride = picture.Width * 3;
    picture.Image = QImage(pixels.data(), picture.Width, picture.Height, stride, QImage::Format_RGB888).copy();
    return picture;
}

} // namespace app
