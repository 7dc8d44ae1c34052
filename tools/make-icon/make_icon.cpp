// make-icon OUTPUT.ico
//
// Draws the executable's emblem, a parcel with a downward arrow over it, and writes it as
// an icon file of nine images: 48, 32 and 16 pixels square, each at 4, 8 and 24 bits per
// pixel, every image a device-independent bitmap with its AND mask. The drawing is made
// here from shapes, so the icon owes nothing to an image from elsewhere. The file is
// written beside OUTPUT and renamed into place when complete.
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Color {
  std::uint8_t Red, Green, Blue;
};

// Colors of the emblem, chosen so that the 16-color image keeps its shapes apart.
constexpr Color kOutline{0x20, 0x20, 0x20};
constexpr Color kBox{0xB0, 0x90, 0x20};
constexpr Color kBoxSide{0x78, 0x30, 0x08};
constexpr Color kTape{0xF0, 0xE0, 0xA0};
constexpr Color kArrow{0x10, 0x30, 0xE8};
constexpr Color kArrowLight{0x50, 0x90, 0xFF};

// One pixel of the drawing: transparent, or a color.
struct Pixel {
  bool Opaque = false;
  Color Value{0, 0, 0};
};

// The emblem at a point of the unit square (x to the right, y downward).
Pixel Emblem(double x, double y) {
  auto inside = [&](double left, double top, double right, double bottom) {
    return x >= left && x < right && y >= top && y < bottom;
  };
  // The arrow lies over the parcel: a shaft and a head whose tip dips into the lid.
  if (inside(0.40, 0.04, 0.60, 0.34)) {
    return {true, x < 0.46 ? kArrowLight : kArrow};
  }
  if (y >= 0.30 && y < 0.60) {
    double halfWidth = 0.30 * (0.60 - y) / 0.30;
    if (x >= 0.5 - halfWidth && x < 0.5 + halfWidth) return {true, kArrow};
  }
  if (inside(0.10, 0.46, 0.90, 0.94)) {
    if (inside(0.10, 0.46, 0.90, 0.56)) return {true, kBoxSide};  // the lid
    if (inside(0.44, 0.56, 0.56, 0.94)) return {true, kTape};
    return {true, kBox};
  }
  return {};
}

// Draws the emblem at `size` pixels square, top row first, with a one-pixel outline
// wherever a shape meets the transparent background.
std::vector<Pixel> Draw(int size) {
  std::vector<Pixel> pixels(static_cast<std::size_t>(size) * size);
  for (int row = 0; row < size; ++row) {
    for (int column = 0; column < size; ++column) {
      pixels[row * size + column] = Emblem((column + 0.5) / size, (row + 0.5) / size);
    }
  }
  std::vector<Pixel> outlined = pixels;
  for (int row = 0; row < size; ++row) {
    for (int column = 0; column < size; ++column) {
      if (!pixels[row * size + column].Opaque) continue;
      auto clear = [&](int r, int c) {
        return r < 0 || c < 0 || r >= size || c >= size || !pixels[r * size + c].Opaque;
      };
      if (clear(row - 1, column) || clear(row + 1, column) || clear(row, column - 1) ||
          clear(row, column + 1)) {
        outlined[row * size + column].Value = kOutline;
      }
    }
  }
  return outlined;
}

// The sixteen colors of the 4-bit images (the classic display palette).
std::vector<Color> SixteenColors() {
  return {{0, 0, 0},          {0x80, 0, 0},    {0, 0x80, 0},    {0x80, 0x80, 0},
          {0, 0, 0x80},       {0x80, 0, 0x80}, {0, 0x80, 0x80}, {0xC0, 0xC0, 0xC0},
          {0x80, 0x80, 0x80}, {0xFF, 0, 0},    {0, 0xFF, 0},    {0xFF, 0xFF, 0},
          {0, 0, 0xFF},       {0xFF, 0, 0xFF}, {0, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF}};
}

// The 256 colors of the 8-bit images: a 6x6x6 color cube and 40 shades of gray.
std::vector<Color> TwoHundredFiftySixColors() {
  std::vector<Color> palette;
  for (int red = 0; red < 6; ++red) {
    for (int green = 0; green < 6; ++green) {
      for (int blue = 0; blue < 6; ++blue) {
        palette.push_back({static_cast<std::uint8_t>(red * 51),
                           static_cast<std::uint8_t>(green * 51),
                           static_cast<std::uint8_t>(blue * 51)});
      }
    }
  }
  for (int gray = 0; gray < 40; ++gray) {
    auto level = static_cast<std::uint8_t>(gray * 255 / 39);
    palette.push_back({level, level, level});
  }
  return palette;
}

std::uint8_t Nearest(const std::vector<Color>& palette, Color color) {
  std::size_t best = 0;
  long bestDistance = -1;
  for (std::size_t i = 0; i < palette.size(); ++i) {
    long red = palette[i].Red - color.Red, green = palette[i].Green - color.Green,
         blue = palette[i].Blue - color.Blue;
    long distance = red * red + green * green + blue * blue;
    if (bestDistance < 0 || distance < bestDistance) {
      best = i;
      bestDistance = distance;
    }
  }
  return static_cast<std::uint8_t>(best);
}

void PutWord(std::vector<std::uint8_t>& out, std::uint16_t value) {
  out.push_back(value & 0xFF);
  out.push_back(value >> 8);
}

void PutDword(std::vector<std::uint8_t>& out, std::uint32_t value) {
  PutWord(out, value & 0xFFFF);
  PutWord(out, value >> 16);
}

// One icon image: a BITMAPINFOHEADER of twice the height (image and mask), the palette,
// the color rows bottom-up, then the 1-bit AND mask rows bottom-up, rows padded to 4 bytes.
std::vector<std::uint8_t> EncodeImage(int size, int bitsPerPixel) {
  const std::vector<Pixel> pixels = Draw(size);
  std::vector<Color> palette;
  if (bitsPerPixel == 4) palette = SixteenColors();
  if (bitsPerPixel == 8) palette = TwoHundredFiftySixColors();
  const std::size_t colorRow = ((static_cast<std::size_t>(size) * bitsPerPixel + 31) / 32) * 4;
  const std::size_t maskRow = ((static_cast<std::size_t>(size) + 31) / 32) * 4;

  std::vector<std::uint8_t> out;
  PutDword(out, 40);
  PutDword(out, size);
  PutDword(out, 2 * size);
  PutWord(out, 1);
  PutWord(out, bitsPerPixel);
  PutDword(out, 0);  // no compression
  PutDword(out, static_cast<std::uint32_t>((colorRow + maskRow) * size));
  PutDword(out, 0);
  PutDword(out, 0);
  PutDword(out, 0);
  PutDword(out, 0);
  for (const Color& color : palette) {
    out.insert(out.end(), {color.Blue, color.Green, color.Red, 0});
  }
  for (int row = size - 1; row >= 0; --row) {
    std::vector<std::uint8_t> line(colorRow, 0);
    for (int column = 0; column < size; ++column) {
      const Pixel& pixel = pixels[row * size + column];
      Color color = pixel.Opaque ? pixel.Value : Color{0, 0, 0};  // black under the mask
      if (bitsPerPixel == 24) {
        line[column * 3] = color.Blue;
        line[column * 3 + 1] = color.Green;
        line[column * 3 + 2] = color.Red;
      } else if (bitsPerPixel == 8) {
        line[column] = Nearest(palette, color);
      } else {
        std::uint8_t index = Nearest(palette, color);
        line[column / 2] |= (column % 2 == 0) ? index << 4 : index;
      }
    }
    out.insert(out.end(), line.begin(), line.end());
  }
  for (int row = size - 1; row >= 0; --row) {
    std::vector<std::uint8_t> line(maskRow, 0);
    for (int column = 0; column < size; ++column) {
      if (!pixels[row * size + column].Opaque) line[column / 8] |= 0x80 >> (column % 8);
    }
    out.insert(out.end(), line.begin(), line.end());
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make-icon OUTPUT.ico\n");
    return 1;
  }
  constexpr std::array<int, 3> kSizes = {48, 32, 16};
  constexpr std::array<int, 3> kDepths = {4, 8, 24};
  std::vector<std::vector<std::uint8_t>> images;
  std::vector<std::uint8_t> file;
  PutWord(file, 0);
  PutWord(file, 1);  // an icon
  PutWord(file, kSizes.size() * kDepths.size());
  for (int size : kSizes) {
    for (int depth : kDepths) images.push_back(EncodeImage(size, depth));
  }
  std::uint32_t offset = 6 + 16 * images.size();
  std::size_t index = 0;
  for (int size : kSizes) {
    for (int depth : kDepths) {
      file.push_back(static_cast<std::uint8_t>(size));
      file.push_back(static_cast<std::uint8_t>(size));
      file.push_back(depth == 4 ? 16 : 0);  // colors in the palette, 0 for 256 or more
      file.push_back(0);
      PutWord(file, 1);
      PutWord(file, depth);
      PutDword(file, images[index].size());
      PutDword(file, offset);
      offset += images[index].size();
      ++index;
    }
  }
  for (const auto& image : images) file.insert(file.end(), image.begin(), image.end());

  const std::string output = argv[1];
  const std::string partial = output + ".partial";
  std::FILE* stream = std::fopen(partial.c_str(), "wb");
  bool written =
      stream != nullptr && std::fwrite(file.data(), 1, file.size(), stream) == file.size();
  if (stream != nullptr && std::fclose(stream) != 0) written = false;
  if (!written || std::rename(partial.c_str(), output.c_str()) != 0) {
    std::perror(("make-icon: cannot write " + output).c_str());
    std::remove(partial.c_str());
    return 1;
  }
  return 0;
}
