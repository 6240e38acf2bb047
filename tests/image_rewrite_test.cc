#include "colormap/rewrite/image_rewrite.h"

#include <allegro.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "colormap/gate/image_gate.h"
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

// One encoder run. IN and OUT in the command stand for the source picture
// (a PPM) and the encoded file.
struct Case {
  const char* command;
  int colours;
  int width;
  int height;
  Outcome outcome;
  int depth = 8;
  std::size_t cut = 0;    // bytes taken off the end of the encoded file
  bool top_down = false;  // BMP: rows flipped into top-down order
};

// Distinct colours that stay distinct in the library's 6-bit palette.
void colour_of(int pixel, int colours, unsigned char rgb[3]) {
  const int i = (pixel * 37 + 11) % colours;
  rgb[0] = static_cast<unsigned char>((i & 63) << 2);
  rgb[1] = static_cast<unsigned char>((i >> 6) << 6 | 0x10);
  rgb[2] = static_cast<unsigned char>(((i * 7) & 63) << 2);
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
    const std::string ppm = folder_ + "/in.ppm";
    const std::string encoded = folder_ + "/out." + extension;
    Bytes source;
    {
      std::ofstream out(ppm, std::ios::binary | std::ios::trunc);
      out << "P6\n" << c.width << ' ' << c.height << "\n255\n";
      for (int p = 0; p < c.width * c.height; ++p) {
        unsigned char rgb[3];
        colour_of(p, c.colours, rgb);
        out.write(reinterpret_cast<const char*>(rgb), 3);
        source.insert(source.end(), rgb, rgb + 3);
      }
    }
    const std::string command =
        replaced(replaced(c.command, "IN", "'" + ppm + "'"), "OUT", "'" + encoded + "'");
    ASSERT_EQ(std::system((command + " 2>/dev/null").c_str()), 0) << command;
    std::ifstream in(encoded, std::ios::binary);
    Bytes file((std::istreambuf_iterator<char>(in)), {});
    file.resize(file.size() - c.cut);
    if (c.top_down) file = top_down(file);

    // As the tool does: only a file the gate refuses is rewritten.
    Bytes rewritten;
    const bool was_rewritten = !passes_gate(format, file) &&
                               rewrite_for_library(format, file.data(), file.size(), &rewritten);
    EXPECT_EQ(was_rewritten, c.outcome == Outcome::Rewritten);
    const Bytes& bytes = was_rewritten ? rewritten : file;
    const bool passes = passes_gate(format, bytes);
    ASSERT_EQ(passes, c.outcome != Outcome::Refused);
    if (!passes) return;
    MemoryFile memory;
    memory.data = bytes.data();
    memory.size = bytes.size();
    PACKFILE* packfile = nullptr;

    PALETTE palette;
    BITMAP* image = nullptr;
    if (format == ImageFormat::Lbm) {  // the library reads LBM files only by path
      const std::string path = folder_ + "/rewritten.lbm";
      std::ofstream(path, std::ios::binary)
          .write(reinterpret_cast<const char*>(bytes.data()),
                 static_cast<std::streamsize>(bytes.size()));
      image = load_lbm(path.c_str(), palette);
    } else {
      packfile = open_memory_packfile(&memory);
      image = format == ImageFormat::Bmp ? load_bmp_pf(packfile, palette)
                                         : load_pcx_pf(packfile, palette);
      pack_fclose(packfile);
    }
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(bitmap_color_depth(image), c.depth);
    EXPECT_EQ(image->w, c.width);
    EXPECT_EQ(image->h, c.height);
    if (c.depth == 8 && image->w == c.width && image->h == c.height) {
      // Every pixel's index names its colour, so a wrong index shows as a
      // wrong colour.
      int wrong = 0;
      for (int y = 0; y < c.height; ++y) {
        for (int x = 0; x < c.width; ++x) {
          const RGB& got = palette[getpixel(image, x, y)];
          const unsigned char* want = &source[3 * (y * c.width + x)];
          wrong += got.r != want[0] >> 2 || got.g != want[1] >> 2 || got.b != want[2] >> 2;
        }
      }
      EXPECT_EQ(wrong, 0);
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
          {"convert IN -type TrueColor OUT", 17, 8, 32, Outcome::Rewritten, 24},
          {gm_palette, 256, 16, 16, Outcome::AsIs},
          // Runs over the row padding of widths that are not a multiple of 4.
          {gm_palette, 17, 1, 256, Outcome::Rewritten},
          {"gm convert IN -type Palette -compress None OUT", 17, 8, 32, Outcome::Rewritten, 8, 0,
           true},
          {im_palette, 17, 16, 16, Outcome::Refused, 8, 3},
          {gm_palette, 17, 1, 256, Outcome::Refused, 8, 3},
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
          {"ppmtopcx IN > OUT", 256, 16, 16, Outcome::AsIs},
          {"gm convert IN -type Palette -compress None OUT", 256, 16, 16, Outcome::Refused, 8, 800},
          {"ppmtopcx IN > OUT", 16, 8, 32, Outcome::Refused, 8, 2},
      });
}

TEST_F(RewriteTest, Lbm) {
  run(ImageFormat::Lbm, "lbm",
      {
          {"ppmtoilbm IN > OUT", 17, 16, 16, Outcome::Rewritten},  // 5 planes
          {"ppmtoilbm -maxplanes 8 IN > OUT", 17, 1, 256, Outcome::Rewritten},
          {"ppmtoilbm IN > OUT", 16, 32, 8, Outcome::AsIs},
          {"ppmtoilbm -maxplanes 8 IN > OUT", 256, 16, 16, Outcome::AsIs},
          {"ppmtoilbm IN > OUT", 256, 16, 16, Outcome::Refused},  // 24 planes, no palette
          {"ppmtoilbm IN > OUT", 17, 16, 16, Outcome::Refused, 8, 10},
      });
}

}  // namespace
