#include "colormap/rewrite/image_rewrite.h"

#include <allegro.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "colormap/gate/image_gate.h"
#include "colormap/image_palette.h"
#include "colormap/library_io.h"

namespace {

// As the tool sets the library up: images load at their own depth.
class AllegroEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_EQ(install_allegro(SYSTEM_NONE, &errno, std::atexit), 0);
    set_color_depth(8);
    set_color_conversion(COLORCONV_NONE);
  }
};
::testing::Environment* const kAllegro =
    ::testing::AddGlobalTestEnvironment(new AllegroEnvironment);

using Bytes = std::vector<unsigned char>;

enum class Outcome { AsIs, Rewritten, Refused };

// The source picture an encoder is given.
enum class Picture {
  Colour,      // a PPM
  Grey,        // a PGM
  BlackWhite,  // a PBM
};

// One encoder run. IN and OUT in the command stand for the source picture
// and the encoded file.
struct Case {
  std::string command;
  int colours;
  int width;
  int height;
  Outcome outcome;
  int depth = 8;
  std::size_t cut = 0;    // bytes taken off the end of the encoded file
  bool top_down = false;  // BMP: rows flipped into top-down order
  Picture picture = Picture::Colour;
};

// Distinct colours with at least 3 distinct top bits in every channel, so
// that they stay distinct in the library's 6-bit palette and in a 15-bit
// colour map however an encoder rounds them to 5 bits.
void colour_of(int pixel, int colours, unsigned char rgb[3]) {
  const int i = (pixel * 37 + 11) % colours;
  rgb[0] = static_cast<unsigned char>((i & 7) << 5 | 0x10);
  rgb[1] = static_cast<unsigned char>(((i >> 3) & 7) << 5 | 0x10);
  rgb[2] = static_cast<unsigned char>((i >> 6) << 6 | 0x20);
}

void grey_of(int pixel, int colours, unsigned char rgb[3]) {
  const int i = (pixel * 37 + 11) % colours;
  rgb[0] = rgb[1] = rgb[2] = static_cast<unsigned char>(i * 255 / (colours - 1));
}

bool have(const std::string& command) {
  const std::string tool = command.substr(0, command.find(' '));
  return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  text.replace(text.find(from), from.size(), to);
  return text;
}

// Negates the height and reverses the rows of a bottom-up 40-byte-header
// file with no compression.
Bytes top_down(Bytes file) {
  auto le32 = [&](std::size_t at) {
    return std::uint32_t{file[at]} | std::uint32_t{file[at + 1]} << 8 |
           std::uint32_t{file[at + 2]} << 16 | std::uint32_t{file[at + 3]} << 24;
  };
  const std::uint32_t offset = le32(10), width = le32(18), height = le32(22);
  const std::size_t stride = (width * (file[28] | file[29] << 8) + 31) / 32 * 4;
  Bytes flipped(file.begin(), file.begin() + offset);
  for (std::uint32_t row = height; row-- > 0;) {
    const auto from = file.begin() + offset + row * stride;
    flipped.insert(flipped.end(), from, from + stride);
  }
  const std::uint32_t negative = 0u - height;
  for (int i = 0; i < 4; ++i) flipped[22 + i] = static_cast<unsigned char>(negative >> (8 * i));
  return flipped;
}

// TGA: the index each pixel's colour has in the encoded file: its entry in
// the file's own colour map, or its grey level at the file's depth. A colour
// the map lacks keeps the index write_mapped_tga.py gives it: its place
// among the picture's colours in descending order, from the map's first.
std::vector<int> tga_indices(const Bytes& file, const Bytes& source) {
  std::vector<int> indices;
  std::set<std::array<unsigned char, 3>, std::greater<>> colours;
  for (std::size_t p = 0; p + 2 < source.size(); p += 3) {
    colours.insert({source[p], source[p + 1], source[p + 2]});
  }
  if (file.size() < 18) return indices;
  const int first = file[3] | file[4] << 8, length = file[5] | file[6] << 8;
  const int entry_bits = file[7], pixel_bits = file[16];
  const std::size_t entry_bytes = (entry_bits + 7) / 8, map_at = 18 + file[0];
  if (file[1] == 1 && map_at + length * entry_bytes > file.size()) return indices;
  for (std::size_t p = 0; p + 2 < source.size(); p += 3) {
    const unsigned char* want = &source[p];
    if (file[1] != 1) {
      indices.push_back(want[0] >> (8 - pixel_bits));
      continue;
    }
    int found = -1, matches = 0;
    for (int i = 0; i < length; ++i) {
      const unsigned char* entry = &file[map_at + i * entry_bytes];
      bool same;
      if (entry_bits == 8) {
        same = entry[0] == want[0];
      } else if (entry_bits == 15 || entry_bits == 16) {
        // Encoders round to 5 bits by shifting or by scaling.
        const int value = entry[0] | entry[1] << 8;
        same = std::abs((value >> 10 & 31) - (want[0] >> 3)) <= 1 &&
               std::abs((value >> 5 & 31) - (want[1] >> 3)) <= 1 &&
               std::abs((value & 31) - (want[2] >> 3)) <= 1;
      } else {
        same = entry[2] == want[0] && entry[1] == want[1] && entry[0] == want[2];
      }
      if (same) found = first + i, ++matches;
    }
    if (matches == 0) {
      found = first + static_cast<int>(std::distance(colours.begin(),
                                                     colours.find({want[0], want[1], want[2]})));
      EXPECT_GE(found, first + length) << "pixel " << p / 3 << " missing from the map";
      matches = 1;
    }
    EXPECT_EQ(matches, 1) << "pixel " << p / 3 << " in the map";
    indices.push_back(found);
  }
  return indices;
}

class RewriteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "image_rewrite_XXXXXX";
    ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
    folder_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  void run(ImageFormat format, const char* extension, const std::vector<Case>& cases) {
    for (const Case& c : cases) {
      if (!have(c.command)) GTEST_SKIP() << "no encoder for: " << c.command;
    }
    for (const Case& c : cases) check(format, extension, c);
  }

 private:
  static bool passes_gate(ImageFormat format, const Bytes& bytes) {
    return image_passes_gate(bytes.data(), bytes.size(), format);
  }

  void check(ImageFormat format, const char* extension, const Case& c) {
    SCOPED_TRACE(std::string(c.command) + ", " + std::to_string(c.colours) + " colours, " +
                 std::to_string(c.width) + "x" + std::to_string(c.height));
    const std::string ppm = folder_ + (c.picture == Picture::Colour ? "/in.ppm"
                                       : c.picture == Picture::Grey ? "/in.pgm"
                                                                    : "/in.pbm");
    const std::string encoded = folder_ + "/out." + extension;
    Bytes source;  // RGB
    {
      std::ofstream out(ppm, std::ios::binary | std::ios::trunc);
      out << (c.picture == Picture::Colour ? "P6"
              : c.picture == Picture::Grey ? "P5"
                                           : "P4")
          << '\n'
          << c.width << ' ' << c.height << '\n';
      if (c.picture != Picture::BlackWhite) out << "255\n";
      unsigned bits = 0;
      for (int p = 0; p < c.width * c.height; ++p) {
        unsigned char rgb[3];
        if (c.picture == Picture::Colour) {
          colour_of(p, c.colours, rgb);
        } else if (c.picture == Picture::Grey) {
          grey_of(p, c.colours, rgb);
        } else {
          // Not symmetric in any shape, so that a flip shows.
          rgb[0] = rgb[1] = rgb[2] = (p % 7 < 3) != (p % 11 < 5) ? 255 : 0;
        }
        source.insert(source.end(), rgb, rgb + 3);
        if (c.picture == Picture::Colour) {
          out.write(reinterpret_cast<const char*>(rgb), 3);
        } else if (c.picture == Picture::Grey) {
          out.put(static_cast<char>(rgb[0]));
        } else {
          // A PBM row packs 8 pixels to a byte, first in the top bit, 1 for black.
          const int x = p % c.width;
          bits = bits << 1 | (rgb[0] == 0);
          if (x % 8 == 7 || x == c.width - 1) {
            out.put(static_cast<char>(bits << (7 - x % 8)));
            bits = 0;
          }
        }
      }
    }
    const std::string command =
        replaced(replaced(c.command, "IN", "'" + ppm + "'"), "OUT", "'" + encoded + "'");
    ASSERT_EQ(std::system((command + " 2>/dev/null").c_str()), 0) << command;
    std::ifstream in(encoded, std::ios::binary);
    Bytes file((std::istreambuf_iterator<char>(in)), {});
    if (c.top_down) file = top_down(file);
    file.resize(file.size() - c.cut);

    // As the tool does: only a file the gate refuses is rewritten.
    Bytes rewritten;
    const bool was_rewritten = !passes_gate(format, file) &&
                               rewrite_for_library(format, file.data(), file.size(), &rewritten);
    EXPECT_EQ(was_rewritten, c.outcome == Outcome::Rewritten);
    const Bytes& bytes = was_rewritten ? rewritten : file;
    const ImageFormat loaded = was_rewritten ? library_format(format) : format;
    std::size_t judged = 0;
    const bool passes = image_passes_gate(bytes.data(), bytes.size(), loaded, &judged);
    ASSERT_EQ(passes, c.outcome != Outcome::Refused);
    if (!passes) return;
    MemoryFile memory;
    memory.data = bytes.data();
    memory.size = bytes.size();
    PALETTE palette;
    PACKFILE* packfile = open_memory_packfile(&memory);
    BITMAP* image = loaded == ImageFormat::Bmp   ? load_bmp_pf(packfile, palette)
                    : loaded == ImageFormat::Pcx ? load_pcx_pf(packfile, palette)
                                                 : load_tga_pf(packfile, palette);
    pack_fclose(packfile);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(bitmap_color_depth(image), c.depth);
    EXPECT_EQ(image->w, c.width);
    EXPECT_EQ(image->h, c.height);
    if (c.depth == 8 && image->w == c.width && image->h == c.height) {
      // Every pixel's index names its colour, so a wrong index shows as a
      // wrong colour. A TGA rewrite keeps only the indices, which are
      // checked against the encoded file's own map.
      const std::vector<int> indices =
          format == ImageFormat::Tga ? tga_indices(file, source) : std::vector<int>();
      ASSERT_TRUE(format != ImageFormat::Tga || indices.size() == source.size() / 3);
      // splitcolormap's colours, at 8 bits from the same bytes: each pixel's
      // is its source colour (from a 15- or 16-bit map, as the encoder
      // rounded it to 5 bits; none for an index past a TGA's map). 1-bit
      // grey loads as indices 0 and 1 of the grey ramp, not black and white.
      PaletteBytes exact = {};
      read_loader_palette(loaded, bytes.data(), bytes.size(), judged, &exact);
      const bool mapped_tga = format == ImageFormat::Tga && file[1] == 1;
      const bool five_bits = mapped_tga && (file[7] == 15 || file[7] == 16);
      const int map_end = mapped_tga ? (file[3] | file[4] << 8) + (file[5] | file[6] << 8) : 256;
      int wrong = 0, wrong_exact = 0;
      for (int y = 0; y < c.height; ++y) {
        for (int x = 0; x < c.width; ++x) {
          const int index = getpixel(image, x, y);
          const bool coloured = c.picture != Picture::BlackWhite && index < map_end;
          for (int channel = 0; channel < 3 && coloured; ++channel) {
            const int got = exact[3 * index + channel];
            const int want = source[3 * (y * c.width + x) + channel];
            wrong_exact += five_bits ? std::abs((got >> 3) - (want >> 3)) > 1 : got != want;
          }
          if (format == ImageFormat::Tga) {
            wrong += index != indices[y * c.width + x];
            continue;
          }
          const RGB& got = palette[index];
          const unsigned char* want = &source[3 * (y * c.width + x)];
          wrong += got.r != want[0] >> 2 || got.g != want[1] >> 2 || got.b != want[2] >> 2;
        }
      }
      EXPECT_EQ(wrong, 0);
      EXPECT_EQ(wrong_exact, 0);
    }
    destroy_bitmap(image);
  }

  std::string folder_;
};

TEST_F(RewriteTest, Bmp) {
  const char* im_palette = "convert IN -type Palette OUT";  // v5 header, RLE8
  const char* gm_palette = "gm convert IN -type Palette OUT";
  run(ImageFormat::Bmp, "bmp",
      {
          {im_palette, 17, 16, 16, Outcome::Rewritten},
          {im_palette, 256, 1, 256, Outcome::Rewritten},
          {"convert IN -type Palette -compress None OUT", 2, 32, 8, Outcome::Rewritten},
          {"convert IN -type TrueColor -define bmp:subtype=RGB565 OUT", 17, 16, 16,
           Outcome::Rewritten, 16},
          {"convert IN -type TrueColor -define bmp:subtype=RGB555 OUT", 17, 16, 16,
           Outcome::Rewritten, 15},
          {"convert IN -type TrueColor OUT", 17, 8, 32, Outcome::Rewritten, 24},
          {gm_palette, 256, 16, 16, Outcome::AsIs},
          // Runs over the row padding of widths that are not a multiple of 4.
          {gm_palette, 17, 1, 256, Outcome::Rewritten},
          {"gm convert IN -type Palette -compress None OUT", 17, 8, 32, Outcome::Rewritten, 8, 0,
           true},
          {im_palette, 17, 16, 16, Outcome::Refused, 8, 3},
          {gm_palette, 17, 1, 256, Outcome::Refused, 8, 3},
          {"gm convert IN -type Palette -compress None OUT", 17, 8, 32, Outcome::Refused, 8, 3,
           true},
      });
}

TEST_F(RewriteTest, Pcx) {
  run(ImageFormat::Pcx, "pcx",
      {
          {"gm convert IN -type Palette -compress None OUT", 256, 16, 16, Outcome::Rewritten},
          {"convert IN -type Palette -compress None OUT", 17, 1, 256, Outcome::Rewritten},
          {"convert IN -type TrueColor -compress None OUT", 17, 32, 8, Outcome::Rewritten, 24},
          {"ppmtopcx IN > OUT", 2, 32, 8, Outcome::Rewritten},
          {"ppmtopcx IN > OUT", 16, 8, 32, Outcome::Rewritten},
          {"ppmtopcx IN > OUT", 16, 1, 256, Outcome::Rewritten},
          {"ppmtopcx IN > OUT", 1, 256, 1, Outcome::Rewritten},  // a run longer than 63
          {"ppmtopcx IN > OUT", 256, 16, 16, Outcome::AsIs},
          {"gm convert IN -type Palette -compress None OUT", 256, 16, 16, Outcome::Refused, 8, 800},
          {"ppmtopcx IN > OUT", 16, 8, 32, Outcome::Refused, 8, 2},
      });
}

TEST_F(RewriteTest, Lbm) {
  // Every ILBM is decoded and handed on as a BMP; HAM and 24 planes hold no
  // indices.
  run(ImageFormat::Lbm, "lbm",
      {
          {"ppmtoilbm IN > OUT", 17, 16, 16, Outcome::Rewritten},  // 5 planes
          {"ppmtoilbm -maxplanes 8 IN > OUT", 17, 1, 256, Outcome::Rewritten},
          {"ppmtoilbm IN > OUT", 16, 32, 8, Outcome::Rewritten},
          {"ppmtoilbm -maxplanes 8 IN > OUT", 256, 16, 16, Outcome::Rewritten},
          {"ppmtoilbm -aga -nocompress IN > OUT", 256, 8, 32, Outcome::Rewritten},
          {"ppmtoilbm -ecs IN > OUT", 32, 16, 16, Outcome::Rewritten},
          // A mask plane after each row's colour planes.
          {"ppmtoilbm -maxplanes 8 -mmethod transparentcolor -transparent black IN > OUT", 17, 16,
           16, Outcome::Rewritten},
          {"ppmtoilbm IN > OUT", 256, 16, 16, Outcome::Refused},  // 24 planes, no palette
          {"ppmtoilbm -hamforce IN > OUT", 17, 16, 16, Outcome::Refused},
          {"ppmtoilbm IN > OUT", 17, 16, 16, Outcome::Refused, 8, 10},
      });
}

TEST_F(RewriteTest, Tga) {
  const auto mapped = [](const char* arguments) {
    return std::string("/usr/bin/python3 '" MKCOLORMAP_SOURCE_DIR
                       "/tests/write_mapped_tga.py' IN OUT ") +
           arguments;
  };
  const char* pillow_1 =
      "/usr/bin/python3 -c \"import sys; from PIL import Image; "
      "Image.open(sys.argv[1]).convert('1').save(sys.argv[2], 'TGA')\" IN OUT";
  const char* pillow_1_top =
      "/usr/bin/python3 -c \"import sys; from PIL import Image; "
      "Image.open(sys.argv[1]).convert('1').save(sys.argv[2], 'TGA', orientation=1)\" IN OUT";
  const char* pillow_1_rle =
      "/usr/bin/python3 -c \"import sys; from PIL import Image; "
      "Image.open(sys.argv[1]).convert('1').save(sys.argv[2], 'TGA', compression='tga_rle')\" "
      "IN OUT";
  const Picture grey = Picture::Grey, black_white = Picture::BlackWhite;
  run(ImageFormat::Tga, "tga",
      {
          // 15-bit map entries, which the loader does not read.
          {"pamtotga -cmap16 < IN > OUT", 17, 16, 16, Outcome::Rewritten},
          {"pamtotga -cmap16 -norle < IN > OUT", 2, 1, 256, Outcome::Rewritten},
          // 8-bit map entries, from grey pictures.
          {"pamtotga -cmap < IN > OUT", 17, 32, 8, Outcome::Rewritten, 8, 0, false, grey},
          {"pamtotga -cmap -norle < IN > OUT", 256, 256, 1, Outcome::Rewritten, 8, 0, false, grey},
          // 24-bit entries, which the loader reads, and 32-bit ones from
          // entry 5 on, whose colours it puts from entry 0 on (tga.c:302).
          {"pamtotga -cmap < IN > OUT", 17, 8, 32, Outcome::AsIs},
          {mapped("32 5 200"), 17, 16, 16, Outcome::AsIs},
          // 1-bit grey: GraphicsMagick's for a PBM (never run-length encoded)
          // and Pillow's mode "1".
          {"gm convert IN OUT", 2, 1, 256, Outcome::Rewritten, 8, 0, false, black_white},
          {"gm convert IN OUT", 2, 32, 8, Outcome::Rewritten, 8, 0, false, black_white},
          {pillow_1, 2, 8, 32, Outcome::Rewritten, 8, 0, false, black_white},
          {pillow_1_top, 2, 16, 16, Outcome::Rewritten, 8, 0, false, black_white},
          {pillow_1_rle, 2, 32, 8, Outcome::Rewritten, 8, 0, false, black_white},
          {pillow_1_rle, 2, 1, 256, Outcome::Rewritten, 8, 0, false, black_white},
          // Maps no encoder here writes: 257 entries of 32 bits, as GIMP
          // writes indexed images with transparency, and maps starting above
          // entry 0.
          {mapped("32 0 257"), 17, 16, 16, Outcome::Rewritten},
          {mapped("32 5 257 rle"), 256 - 5, 8, 32, Outcome::Rewritten},
          {mapped("15 3 40 rle"), 17, 256, 1, Outcome::Rewritten},
          // Damaged: cut short.
          {"pamtotga -cmap16 < IN > OUT", 17, 16, 16, Outcome::Refused, 8, 1},
          {"gm convert IN OUT", 2, 32, 8, Outcome::Refused, 8, 1, false, black_white},
          {pillow_1_rle, 2, 32, 8, Outcome::Refused, 8, 27, false, black_white},
          {mapped("32 0 257 rle"), 17, 16, 16, Outcome::Refused, 8, 2},
          // Pixels past the map keep their indices, as with 24-bit maps.
          {mapped("15 0 16"), 17, 16, 16, Outcome::Rewritten},
      });
}

}  // namespace
