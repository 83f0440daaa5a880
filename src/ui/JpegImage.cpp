#include "ui/JpegImage.h"

#include <cstdio>

// jpeglib.h needs the definitions of stdio.h and size_t before it.
#include <jpeglib.h>

#include <csetjmp>
#include <memory>

namespace vx {

namespace {

// libjpeg reports a fatal error through error_exit, which must not return: we jump back
// to the decoder, past libjpeg's C frames, which no C++ exception may cross.
struct TJpegError {
  jpeg_error_mgr Manager;  // first, so libjpeg's pointer to it is one to the whole
  std::jmp_buf Jump;
};

[[noreturn]] void LeaveDecoder(j_common_ptr info) {
  std::longjmp(reinterpret_cast<TJpegError*>(info->err)->Jump, 1);
}

void IgnoreMessage(j_common_ptr /*info*/) {}

// Where the decoder puts the pixels; allocated outside the frame that may be jumped
// out of.
struct TPixels {
  QImage Image;

  unsigned char* Begin(JDIMENSION width, JDIMENSION height) {
    Image = QImage(static_cast<int>(width), static_cast<int>(height), QImage::Format_RGB888);
    return Image.isNull() ? nullptr : Image.bits();
  }
  unsigned char* Line(JDIMENSION row) { return Image.scanLine(static_cast<int>(row)); }
};

// Holds only objects without destructors, as longjmp may leave it. True when every line
// was decoded.
bool Decode(jpeg_decompress_struct* info, TJpegError* error, const unsigned char* data,
            unsigned long size, TPixels* pixels) {
  if (setjmp(error->Jump) != 0) {
    return false;
  }
  jpeg_mem_src(info, data, size);
  if (jpeg_read_header(info, TRUE) != JPEG_HEADER_OK) {
    return false;
  }
  info->out_color_space = JCS_RGB;
  jpeg_start_decompress(info);
  if (info->output_components != 3 ||
      pixels->Begin(info->output_width, info->output_height) == nullptr) {
    return false;
  }
  while (info->output_scanline < info->output_height) {
    JSAMPROW line = pixels->Line(info->output_scanline);
    if (jpeg_read_scanlines(info, &line, 1) != 1) {
      return false;
    }
  }
  jpeg_finish_decompress(info);
  return true;
}

}  // namespace

QImage DecodeJpeg(std::span<const unsigned char> data) {
  if (data.empty()) {
    return {};
  }
  jpeg_decompress_struct info{};
  TJpegError error{};
  info.err = jpeg_std_error(&error.Manager);
  error.Manager.error_exit = LeaveDecoder;
  error.Manager.output_message = IgnoreMessage;
  jpeg_create_decompress(&info);
  TPixels pixels;
  const bool decoded = Decode(&info, &error, data.data(), data.size(), &pixels);
  jpeg_destroy_decompress(&info);
  return decoded ? pixels.Image : QImage();
}

}  // namespace vx
