// Draws the about box's logo, two LED bars in the colours of the displays, and writes it
// as a 150 x 150 baseline JPEG. Run once; its output is kept in src/ui/resources.
//
// usage: vorlixa-logo OUTPUT.jpg

#include <cstdio>

// jpeglib.h needs the definitions of stdio.h before it.
#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace {

constexpr int kSize = 150;
constexpr int kLeds = 16;

struct Rgb {
  double R = 0;
  double G = 0;
  double B = 0;
};

// The colour of LED i of a bar from the bottom: green, then yellow, then red at the top.
Rgb LedColour(int i) {
  const double t = static_cast<double>(i) / (kLeds - 1);
  if (t < 0.6) {
    return {0.15 + t * 1.4, 1.0, 0.1};
  }
  return {1.0, std::max(0.0, 1.0 - (t - 0.6) * 2.4), 0.05};
}

class Canvas {
 public:
  Canvas() : pixels_(static_cast<std::size_t>(kSize) * kSize) {}

  // A rounded rectangle of colour at brightness, with a soft glow of radius glow.
  void Led(double x0, double y0, double x1, double y1, const Rgb& colour, double brightness,
           double glow) {
    for (int y = 0; y < kSize; ++y) {
      for (int x = 0; x < kSize; ++x) {
        const double px = x + 0.5;
        const double py = y + 0.5;
        const double dx = std::max({x0 - px, 0.0, px - x1});
        const double dy = std::max({y0 - py, 0.0, py - y1});
        const double distance = std::hypot(dx, dy) - 1.0;  // rounded by one pixel
        double weight = 0;
        if (distance <= 0) {
          weight = brightness;
        } else if (glow > 0 && distance < glow) {
          const double falloff = 1.0 - distance / glow;
          weight = brightness * 0.35 * falloff * falloff;
        }
        Rgb& p = pixels_[static_cast<std::size_t>(y) * kSize + static_cast<std::size_t>(x)];
        p.R += colour.R * weight;
        p.G += colour.G * weight;
        p.B += colour.B * weight;
      }
    }
  }

  std::vector<unsigned char> Bytes() const {
    std::vector<unsigned char> bytes;
    bytes.reserve(pixels_.size() * 3);
    for (const Rgb& p : pixels_) {
      for (const double c : {p.R, p.G, p.B}) {
        bytes.push_back(static_cast<unsigned char>(std::lround(std::clamp(c, 0.0, 1.0) * 255)));
      }
    }
    return bytes;
  }

 private:
  std::vector<Rgb> pixels_;
};

void Bar(Canvas& canvas, double left, int level, int peak) {
  const double width = 34;
  const double pitch = 8.25;
  const double bottom = 141;
  for (int i = 0; i < kLeds; ++i) {
    const double y1 = bottom - i * pitch;
    const double y0 = y1 - 5.5;
    const bool lit = i < level || i == peak;
    canvas.Led(left, y0, left + width, y1, LedColour(i), lit ? 1.0 : 0.13, lit ? 6 : 0);
  }
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT.jpg\n", argv[0]);
    return 2;
  }
  Canvas canvas;
  Bar(canvas, 30, 11, 13);
  Bar(canvas, 86, 7, 9);
  // Not const: libjpeg takes the rows it only reads as non-const.
  std::vector<unsigned char> bytes = canvas.Bytes();

  const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(argv[1], "wb"));
  if (!file) {
    std::perror(argv[1]);
    return 1;
  }
  jpeg_compress_struct info{};
  jpeg_error_mgr error{};
  info.err = jpeg_std_error(&error);  // a failure ends the program, which is all we need
  jpeg_create_compress(&info);
  jpeg_stdio_dest(&info, file.get());
  info.image_width = kSize;
  info.image_height = kSize;
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);  // baseline, JFIF, Huffman tables of the standard
  jpeg_set_quality(&info, 92, TRUE);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = &bytes[std::size_t{info.next_scanline} * kSize * 3];
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  return 0;
}
