#include "colormap/gate/image_gate.h"
#include "colormap/library_io.h"
#include "colormap/rewrite/image_rewrite.h"
#include "colormap/rows.h"

#include <allegro.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The packfile layer reports errors through allegro_errno, which only
// install_allegro points somewhere.
class AllegroEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_EQ(install_allegro(SYSTEM_NONE, &errno, std::atexit), 0); }
};
::testing::Environment* const kAllegro =
    ::testing::AddGlobalTestEnvironment(new AllegroEnvironment);

using Bytes = std::vector<unsigned char>;

void le16(Bytes& b, std::uint32_t v) {
  b.push_back(v & 0xFF);
  b.push_back(v >> 8 & 0xFF);
}
void le32(Bytes& b, std::uint32_t v) {
  le16(b, v & 0xFFFF);
  le16(b, v >> 16);
}
void be16(Bytes& b, std::uint32_t v) {
  b.push_back(v >> 8 & 0xFF);
  b.push_back(v & 0xFF);
}
void be32(Bytes& b, std::uint32_t v) {
  be16(b, v >> 16);
  be16(b, v & 0xFFFF);
}
void put(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }
void put(Bytes& b, std::size_t count, unsigned char value) { b.insert(b.end(), count, value); }
void text(Bytes& b, const char* id) { b.insert(b.end(), id, id + 4); }
void set_le32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = v >> (8 * i) & 0xFF;
}
Bytes operator+(Bytes a, const Bytes& b) {
  put(a, b);
  return a;
}
Bytes cut(Bytes b, std::size_t size) {
  b.resize(size);
  return b;
}

// A folder of the test's own under the test temporary directory.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = ::testing::TempDir() + "image_gate_XXXXXX";
    if (mkdtemp(&pattern[0])) path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

class GateTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(folder_.path().empty()); }

  // Runs the gate on `data` as a file with the given extension.
  static bool passes(const Bytes& data, const char* extension) {
    const std::string path = std::string("image.") + extension;
    ImageFormat format;
    if (!image_format_of(path.c_str(), &format)) ADD_FAILURE() << "no format for " << path;
    return image_passes_gate(data.data(), data.size(), format);
  }

  // Runs seeds.py for one format: well-formed files from Pillow, ImageMagick
  // and netpbm, and hand-made ones for the variants none of them writes.
  // Checks that every file the library reads passes and every one it would
  // misread is refused. Returns the names seen.
  std::set<std::string> check_encoder_files(const char* format) {
    const std::string dir = folder_.path() + "/seeds";
    std::filesystem::create_directory(dir);
    const std::string command = "/usr/bin/python3 " MKCOLORMAP_SOURCE_DIR
                                "/tests/malformed/seeds.py '" +
                                dir + "' --format " + format;
    EXPECT_EQ(std::system(command.c_str()), 0)
        << command << "\n(needs python3-pil, imagemagick and netpbm)";
    std::ifstream manifest(dir + "/manifest.tsv");
    std::set<std::string> names;
    std::string line;
    while (std::getline(manifest, line)) {
      std::istringstream fields(line);
      std::string name, expect;
      std::getline(fields, name, '\t');
      std::getline(fields, expect);
      names.insert(name);
      const std::string path = dir + "/" + name;
      ImageFormat image_format;
      if (!image_format_of(path.c_str(), &image_format)) {
        ADD_FAILURE() << "no format for " << name;
        continue;
      }
      // A layout the library does not read itself passes once rewritten.
      std::ifstream in(path, std::ios::binary);
      const std::vector<unsigned char> data((std::istreambuf_iterator<char>(in)), {});
      bool passes = image_passes_gate(data.data(), data.size(), image_format);
      if (!passes) {
        std::vector<unsigned char> rewritten;
        passes = rewrite_for_library(image_format, data.data(), data.size(), &rewritten);
      }
      EXPECT_EQ(passes, expect != "refused") << name << " (" << expect << ")";
    }
    return names;
  }

  // The indices the library loads from `file` as the tool hands it over
  // (rewritten when the gate refuses it), or none when it is refused.
  static Bytes loads(const Bytes& file, ImageFormat format) {
    Bytes rewritten;
    const bool as_is = image_passes_gate(file.data(), file.size(), format);
    if (!as_is && !rewrite_for_library(format, file.data(), file.size(), &rewritten)) return {};
    const Bytes& bytes = as_is ? file : rewritten;
    BITMAP* image =
        decode_image(as_is ? format : library_format(format), bytes.data(), bytes.size());
    if (!image) return {};
    Bytes indices;
    for (int y = 0; y < image->h; ++y)
      put(indices, Bytes(image->line[y], image->line[y] + image->w));
    destroy_bitmap(image);
    return indices;
  }

  static void expect_from_every_encoder(const std::set<std::string>& names,
                                        std::initializer_list<const char*> prefixes) {
    for (const char* prefix : prefixes) {
      bool found = false;
      for (const std::string& name : names) found = found || name.rfind(prefix, 0) == 0;
      EXPECT_TRUE(found) << "no file from " << prefix;
    }
  }

  TempFolder folder_;
};

// ------------------------------------------------------------------ BMP

// A 40-byte-header BMP. `pixels` is everything after the palette.
Bytes bmp(std::int64_t width, std::int64_t height, int bit_count, int compression,
          const Bytes& pixels, int colours = 256) {
  Bytes b{'B', 'M'};
  const std::uint32_t offset = 54 + 4 * colours;
  le32(b, offset + pixels.size());
  le32(b, 0);
  le32(b, offset);
  le32(b, 40);
  le32(b, static_cast<std::uint32_t>(width));
  le32(b, static_cast<std::uint32_t>(height));
  le16(b, 1);
  le16(b, bit_count);
  le32(b, compression);
  le32(b, pixels.size());
  put(b, 16, 0);
  for (int i = 0; i < colours; ++i) le32(b, i * 0x010101);
  put(b, pixels);
  return b;
}

// 8-bit rows of `width` pixels padded to 4 bytes.
Bytes bmp8_rows(int width, int height) {
  Bytes rows;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) rows.push_back((x + y) & 0xFF);
    put(rows, (4 - width % 4) % 4, 0);
  }
  return rows;
}

// RLE8 for a 16 x 16 image: per line a run of 10 and an absolute run of 6.
Bytes rle8_lines(int lines = 16) {
  Bytes s;
  for (int y = 0; y < lines; ++y) {
    put(s, {10, static_cast<unsigned char>(y), 0, 6, 1, 2, 3, 4, 5, 6, 0, 0});
  }
  return s;
}

class BmpGate : public GateTest {};

TEST_F(BmpGate, WellFormedFilesFromEncodersPass) {
  const auto names = check_encoder_files("bmp");
  expect_from_every_encoder(names,
                            {"pillow-", "magick-", "netpbm-windows-", "netpbm-os2-", "hand-"});
}

TEST_F(BmpGate, HandMadeBasesPass) {
  // The files below each break one rule of these.
  EXPECT_TRUE(passes(bmp(15, 16, 8, 0, bmp8_rows(15, 16)), "bmp"));
  EXPECT_TRUE(passes(bmp(16, 16, 8, 1, rle8_lines()), "bmp"));
}

TEST_F(BmpGate, RefusesTopDownAndWrappingHeights) {
  EXPECT_FALSE(passes(bmp(15, -16, 8, 0, bmp8_rows(15, 16)), "bmp"));
  // The loader would return a -16 x -16 bitmap, "256 pixels" with no rows.
  EXPECT_FALSE(passes(bmp(0xFFFFFFF0, 0xFFFFFFF0, 8, 0, bmp8_rows(16, 16)), "bmp"));
}

TEST_F(BmpGate, RefusesEmptyAndOversizedImages) {
  EXPECT_FALSE(passes(bmp(0, 16, 8, 0, bmp8_rows(16, 16)), "bmp"));
  // 1-bit keeps the full-size files small: 4096 x 4096 is the largest that
  // passes, and one more row is refused although every byte is there.
  const Bytes row(4096 / 8, 0x5A);
  Bytes rows;
  for (int y = 0; y < 4097; ++y) put(rows, row);
  EXPECT_FALSE(passes(bmp(4096, 4097, 1, 0, rows, 2), "bmp"));
  rows.resize(rows.size() - row.size());
  EXPECT_TRUE(passes(bmp(4096, 4096, 1, 0, rows, 2), "bmp"));
}

TEST_F(BmpGate, RefusesPixelDataOffsetPastTheEnd) {
  Bytes file = bmp(15, 16, 8, 0, bmp8_rows(15, 16));
  set_le32(file, 10, 0x7FFFFFF0);
  EXPECT_FALSE(passes(file, "bmp"));
  set_le32(file, 10, file.size() + 1);
  EXPECT_FALSE(passes(file, "bmp"));
}

TEST_F(BmpGate, RefusesUncompressedRowsCutShort) {
  // The last row's padding is read as part of a 4-byte group.
  const Bytes file = bmp(15, 16, 8, 0, bmp8_rows(15, 16));
  EXPECT_FALSE(passes(cut(file, file.size() - 1), "bmp"));
  const Bytes deep = bmp(5, 4, 24, 0, Bytes(16 * 4, 7), 0);
  EXPECT_TRUE(passes(deep, "bmp"));
  EXPECT_FALSE(passes(cut(deep, deep.size() - 1), "bmp"));
}

TEST_F(BmpGate, RefusesRunLengthDataThatLeavesTheBitmap) {
  Bytes run = rle8_lines(15);
  put(run, {17, 1, 0, 0});  // 17 pixels on a 16-pixel line
  EXPECT_FALSE(passes(bmp(16, 16, 8, 1, run), "bmp"));

  Bytes absolute = rle8_lines(15);
  put(absolute, {5, 1, 0, 13});  // 5 + 13 pixels
  put(absolute, 14, 9);
  put(absolute, {0, 0});
  EXPECT_FALSE(passes(bmp(16, 16, 8, 1, absolute), "bmp"));

  Bytes right = rle8_lines(1);
  put(right, {0, 2, 17, 0, 0, 1});  // delta past the right edge, end of picture
  EXPECT_FALSE(passes(bmp(16, 16, 8, 1, right), "bmp"));

  Bytes below = rle8_lines(1);
  put(below, {0, 2, 0, 15, 0, 1});  // 14 lines left, 15 down, end of picture
  EXPECT_FALSE(passes(bmp(16, 16, 8, 1, below), "bmp"));

  // RLE4: per line a run of 12 and an absolute run of 4 (one word); then
  // one line whose absolute run of 5 ends past the edge.
  Bytes nibbles;
  for (int y = 0; y < 16; ++y) put(nibbles, {12, 0x12, 0, 4, 0x34, 0x56, 0, 0});
  EXPECT_TRUE(passes(bmp(16, 16, 4, 2, nibbles, 16), "bmp"));
  nibbles[1 * 8 + 3] = 5;
  put(nibbles, 4, 0);
  EXPECT_FALSE(passes(bmp(16, 16, 4, 2, nibbles, 16), "bmp"));
}

TEST_F(BmpGate, RefusesRunLengthDataCutShort) {
  // Cut inside an absolute run, and with the last end of line missing.
  const Bytes whole = rle8_lines();
  EXPECT_FALSE(passes(bmp(16, 16, 8, 1, cut(whole, whole.size() - 5)), "bmp"));
  EXPECT_FALSE(passes(bmp(16, 16, 8, 1, cut(whole, whole.size() - 2)), "bmp"));
  // An early end of picture is complete: the rest of the bitmap stays clear.
  Bytes early = rle8_lines(3);
  put(early, {0, 1});
  EXPECT_TRUE(passes(bmp(16, 16, 8, 1, early), "bmp"));
}

TEST_F(BmpGate, RefusesLayoutsTheLoaderMisreads) {
  EXPECT_FALSE(passes(bmp(16, 16, 2, 0, Bytes(64, 0), 4), "bmp"));  // 2-bit: all zero
  Bytes early = bmp(15, 16, 8, 0, bmp8_rows(15, 16));
  set_le32(early, 10, 40);  // pixels from inside the header
  EXPECT_FALSE(passes(early, "bmp"));
}

// ------------------------------------------------------------------ PCX

// A run-length PCX, one plane of 8 bits unless told, with window
// (x_min, y_min)..(x_max, y_max).
Bytes pcx(int x_min, int y_min, int x_max, int y_max, int bytes_per_line, const Bytes& body,
          int planes = 1, unsigned char bits = 8) {
  Bytes b{0x0A, 5, 1, bits};
  le16(b, x_min);
  le16(b, y_min);
  le16(b, x_max);
  le16(b, y_max);
  le16(b, 72);
  le16(b, 72);
  put(b, 49, 0);
  b.push_back(planes);
  le16(b, bytes_per_line);
  put(b, 60, 0);
  put(b, body);
  return b;
}

// Lines of `length` bytes as runs of up to 63.
Bytes pcx_lines(int length, int lines) {
  Bytes body;
  for (int y = 0; y < lines; ++y) {
    for (int left = length; left > 0; left -= 63) {
      body.push_back(0xC0 | (left < 63 ? left : 63));
      body.push_back(y & 0xFF);
    }
  }
  return body;
}

class PcxGate : public GateTest {};

TEST_F(PcxGate, WellFormedFilesFromEncodersPass) {
  const auto names = check_encoder_files("pcx");
  expect_from_every_encoder(names, {"pillow-", "magick-", "netpbm-", "hand-"});
}

TEST_F(PcxGate, RefusesTruncatedHeader) {
  const Bytes file = pcx(0, 0, 15, 15, 16, pcx_lines(16, 16));
  EXPECT_TRUE(passes(file, "pcx"));
  EXPECT_FALSE(passes(cut(file, 127), "pcx"));
}

TEST_F(PcxGate, RefusesReversedAndOversizedWindows) {
  // xmax < xmin: the loader would make a bitmap of negative width.
  EXPECT_FALSE(passes(pcx(16, 0, 1, 15, 16, pcx_lines(16, 16)), "pcx"));
  EXPECT_FALSE(passes(pcx(0, 16, 15, 1, 16, pcx_lines(16, 16)), "pcx"));
  // 4097 x 4097 with every line present; 4096 x 4096 is the largest.
  EXPECT_FALSE(passes(pcx(0, 0, 4096, 4096, 4097, pcx_lines(4097, 4097)), "pcx"));
  EXPECT_TRUE(passes(pcx(0, 0, 4095, 4095, 4096, pcx_lines(4096, 4096)), "pcx"));
}

TEST_F(PcxGate, RefusesLinesShorterThanTheWidth) {
  EXPECT_FALSE(passes(pcx(0, 0, 15, 15, 15, pcx_lines(15, 16)), "pcx"));
}

TEST_F(PcxGate, RefusesRunLengthDataCutShort) {
  const Bytes file = pcx(0, 0, 15, 15, 16, pcx_lines(16, 16));
  EXPECT_FALSE(passes(cut(file, file.size() - 1), "pcx"));
  EXPECT_FALSE(passes(cut(file, file.size() - 2), "pcx"));
}

TEST_F(PcxGate, RefusesFilesTheLoaderMisreads) {
  // A run across the end of a line would shift every later line.
  Bytes across = pcx_lines(16, 15);
  put(across, {0xC0 | 20, 1});
  EXPECT_FALSE(passes(pcx(0, 0, 15, 15, 16, across), "pcx"));
  Bytes raw = pcx(0, 0, 15, 15, 16, Bytes(256, 1));
  EXPECT_TRUE(passes(raw, "pcx"));
  raw[2] = 0;  // uncompressed: the loader would decode it anyway
  EXPECT_FALSE(passes(raw, "pcx"));
}

TEST_F(PcxGate, RewritesRawLinesKeepingOnlyTheirPixels) {
  // A line may run far past its pixels.
  Bytes body, want;
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 600; ++x) body.push_back(x < 16 ? 16 * y + x : 0xEE);
    for (int x = 0; x < 16; ++x) want.push_back(16 * y + x);
  }
  Bytes raw = pcx(0, 0, 15, 15, 600, body);
  raw[2] = 0;
  EXPECT_EQ(loads(raw, ImageFormat::Pcx), want);
}

TEST_F(PcxGate, RewritesPlanesOfSeveralBitsLowestFirst) {
  // No decoder at hand reads 2 bits in each of 2 planes (netpbm and Pillow
  // refuse it, GraphicsMagick takes the planes for 1-bit ones), so the
  // indices are built here: the first plane holds the lowest bits, as with
  // 1-bit planes. Samples 0, 1, 2, 3 then 3, 2, 1, 0 in every 4 pixels.
  Bytes body;
  for (int y = 0; y < 16; ++y) put(body, {0xC4, 0x1B, 0xC4, 0xE4});
  Bytes want;
  for (int x = 0; x < 256; ++x) want.push_back(12 - 3 * (x % 4));
  EXPECT_EQ(loads(pcx(0, 0, 15, 15, 4, body, 2, 2), ImageFormat::Pcx), want);
  // Lines of 3 bytes hold 12 of the 16 pixels.
  Bytes short_lines;
  for (int y = 0; y < 16; ++y) put(short_lines, {0xC3, 0x1B, 0xC3, 0xE4});
  EXPECT_TRUE(loads(pcx(0, 0, 15, 15, 3, short_lines, 2, 2), ImageFormat::Pcx).empty());
}

// ------------------------------------------------------------------ TGA

Bytes tga(int image_type, int width, int height, int pixel_bits, int map_length, int map_bits,
          const Bytes& pixels, int descriptor = 0) {
  Bytes b{0, static_cast<unsigned char>(map_length ? 1 : 0),
          static_cast<unsigned char>(image_type)};
  le16(b, 0);
  le16(b, map_length);
  b.push_back(map_bits);
  le16(b, 0);
  le16(b, 0);
  le16(b, width);
  le16(b, height);
  b.push_back(pixel_bits);
  b.push_back(descriptor);
  put(b, static_cast<std::size_t>(map_length) * map_bits / 8, 0x44);
  put(b, pixels);
  return b;
}

// Per line of `width` 1-byte pixels: run packets of up to 128.
Bytes tga_runs(int width, int lines) {
  Bytes body;
  for (int y = 0; y < lines; ++y) {
    for (int left = width; left > 0; left -= 128) {
      body.push_back(0x80 | ((left < 128 ? left : 128) - 1));
      body.push_back(y & 0xFF);
    }
  }
  return body;
}

class TgaGate : public GateTest {};

TEST_F(TgaGate, WellFormedFilesFromEncodersPass) {
  const auto names = check_encoder_files("tga");
  expect_from_every_encoder(names, {"pillow-", "magick-", "netpbm-", "hand-"});
}

TEST_F(TgaGate, RefusesTruncatedHeader) {
  const Bytes file = tga(1, 16, 16, 8, 256, 24, Bytes(256, 3));
  EXPECT_TRUE(passes(file, "tga"));
  EXPECT_FALSE(passes(cut(file, 17), "tga"));
}

TEST_F(TgaGate, RefusesColourMapsLongerThan256) {
  // Every entry goes into 256-entry arrays on the loader's stack.
  EXPECT_FALSE(passes(tga(1, 16, 16, 8, 257, 24, Bytes(256, 3)), "tga"));
  EXPECT_FALSE(passes(tga(9, 16, 16, 8, 0xFFFF, 16, tga_runs(16, 16)), "tga"));
}

TEST_F(TgaGate, RefusesEmptyAndOversizedImages) {
  EXPECT_FALSE(passes(tga(11, 0, 16, 8, 0, 0, tga_runs(16, 16)), "tga"));
  EXPECT_FALSE(passes(tga(11, 16, 0, 8, 0, 0, tga_runs(16, 16)), "tga"));
  EXPECT_FALSE(passes(tga(11, 4097, 4097, 8, 0, 0, tga_runs(4097, 4097)), "tga"));
  EXPECT_TRUE(passes(tga(11, 4096, 4096, 8, 0, 0, tga_runs(4096, 4096)), "tga"));
}

TEST_F(TgaGate, RefusesRawPixelsCutShort) {
  const Bytes file = tga(2, 16, 16, 16, 0, 0, Bytes(512, 9));
  EXPECT_TRUE(passes(file, "tga"));
  EXPECT_FALSE(passes(cut(file, file.size() - 1), "tga"));
  const Bytes mapped = tga(1, 16, 16, 8, 256, 32, Bytes(256, 3));
  EXPECT_FALSE(passes(cut(mapped, mapped.size() - 1), "tga"));
}

TEST_F(TgaGate, RefusesPacketsAcrossTheEndOfALine) {
  const Bytes good = tga(9, 16, 16, 8, 256, 24, tga_runs(16, 16));
  EXPECT_TRUE(passes(good, "tga"));
  Bytes across = tga_runs(16, 14);
  put(across, {0x80 | 19, 1, 0x80 | 11, 2});  // 20 + 12 pixels over two lines
  EXPECT_FALSE(passes(tga(9, 16, 16, 8, 256, 24, across), "tga"));
  // A raw packet across the line end.
  Bytes raw = tga_runs(16, 15);
  put(raw, {0x80 | 9, 1, 7});
  put(raw, 8, 5);
  EXPECT_FALSE(passes(tga(9, 16, 16, 8, 256, 24, raw), "tga"));
}

TEST_F(TgaGate, RefusesRunLengthDataCutShort) {
  const Bytes file = tga(10, 16, 16, 24, 0, 0, [] {
    Bytes body;
    for (int y = 0; y < 16; ++y) put(body, {0x80 | 15, 1, 2, 3});
    return body;
  }());
  EXPECT_TRUE(passes(file, "tga"));
  EXPECT_FALSE(passes(cut(file, file.size() - 1), "tga"));
  EXPECT_FALSE(passes(cut(file, file.size() - 4), "tga"));
}

TEST_F(TgaGate, RefusesFilesTheLoaderMisreads) {
  EXPECT_FALSE(passes(tga(17, 16, 16, 8, 256, 24, Bytes(256, 3)), "tga"));       // loads as type 1
  EXPECT_FALSE(passes(tga(1, 16, 16, 8, 256, 15, Bytes(256, 3)), "tga"));        // map not read
  EXPECT_FALSE(passes(tga(1, 16, 16, 8, 256, 24, Bytes(256, 3), 0x10), "tga"));  // right-to-left
  EXPECT_TRUE(passes(tga(1, 16, 16, 8, 256, 24, Bytes(256, 3), 0x2F), "tga"));   // top-down, alpha
}

// ------------------------------------------------------------------ LBM

Bytes chunk(const char* id, const Bytes& payload) {
  Bytes b;
  text(b, id);
  be32(b, payload.size());
  put(b, payload);
  if (payload.size() % 2) b.push_back(0);
  return b;
}

Bytes lbm(const char* kind, int width, int height, int planes, int compression, const Bytes& chunks,
          int masking = 0) {
  Bytes bmhd;
  be16(bmhd, width);
  be16(bmhd, height);
  put(bmhd, 4, 0);
  bmhd.push_back(planes);
  bmhd.push_back(masking);
  bmhd.push_back(compression);
  put(bmhd, 5, 0);
  be16(bmhd, width);
  be16(bmhd, height);
  Bytes b;
  text(b, "FORM");
  be32(b, 4 + 28 + chunks.size());
  text(b, kind);
  put(b, chunk("BMHD", bmhd));
  put(b, chunks);
  return b;
}

Bytes cmap(int colours = 256) { return chunk("CMAP", Bytes(3 * colours, 0x21)); }

// Rows of `row_bytes` as ByteRun1 repeat packets of up to 128 bytes.
Bytes byterun_rows(int row_bytes, int rows, unsigned char value = 0x5A) {
  Bytes body;
  for (int y = 0; y < rows; ++y) {
    for (int left = row_bytes; left > 0; left -= 128) {
      body.push_back(257 - (left < 128 ? left : 128));
      body.push_back(value);
    }
  }
  return body;
}

// Every ILBM and PBM picture is decoded by the tool and handed to the
// library as an 8-bit BMP: the indices it loads, or none when refused.
class LbmGate : public GateTest {
 protected:
  static Bytes loads(const Bytes& file) { return GateTest::loads(file, ImageFormat::Lbm); }
  static bool refused(const Bytes& file) { return loads(file).empty(); }
};

// Indices 0 and 255 by the bits of 0x5A: what 8 planes of 0x5A bytes hold.
Bytes bits_5a(int pixels) {
  Bytes b;
  for (int x = 0; x < pixels; ++x) b.push_back(0x5A >> (7 - x % 8) & 1 ? 255 : 0);
  return b;
}

TEST_F(LbmGate, WellFormedFilesFromEncodersPass) {
  const auto names = check_encoder_files("lbm");
  expect_from_every_encoder(names, {"netpbm-", "hand-pbm-", "hand-ilbm-"});
}

TEST_F(LbmGate, HandMadeBasesPass) {
  EXPECT_EQ(loads(lbm("ILBM", 16, 16, 8, 0, cmap() + chunk("BODY", Bytes(16 * 8 * 2, 0x5A)))),
            bits_5a(256));
  EXPECT_EQ(loads(lbm("PBM ", 16, 16, 8, 1, cmap() + chunk("BODY", byterun_rows(16, 16)))),
            Bytes(256, 0x5A));
}

TEST_F(LbmGate, RefusesEmptyAndOversizedImagesAndReadsPaddedPbmRows) {
  EXPECT_TRUE(refused(lbm("PBM ", 0, 16, 8, 1, cmap() + chunk("BODY", byterun_rows(16, 16)))));
  // An odd PBM row is padded to even length; the pad byte is no pixel.
  Bytes odd;
  for (int y = 0; y < 8; ++y) put(odd, {1, 2, 3, 0xEE});
  Bytes want;
  for (int y = 0; y < 8; ++y) put(want, {1, 2, 3});
  EXPECT_EQ(loads(lbm("PBM ", 3, 8, 8, 0, cmap() + chunk("BODY", odd))), want);
  // 4097 x 4097 with one plane; 4096 x 4096 is the largest.
  EXPECT_TRUE(
      refused(lbm("ILBM", 4097, 4097, 1, 1, cmap(2) + chunk("BODY", byterun_rows(514, 4097, 0)))));
  EXPECT_EQ(
      loads(lbm("ILBM", 4096, 4096, 1, 1, cmap(2) + chunk("BODY", byterun_rows(512, 4096, 0))))
          .size(),
      4096u * 4096u);
}

TEST_F(LbmGate, ReadsColourMapsOfAnyLength) {
  // The colours play no part in the entry.
  for (int colours : {0, 2, 255, 258}) {
    EXPECT_EQ(loads(lbm("PBM ", 16, 16, 8, 1, cmap(colours) + chunk("BODY", byterun_rows(16, 16)))),
              Bytes(256, 0x5A))
        << colours;
  }
}

TEST_F(LbmGate, RefusesChunksCutShort) {
  const Bytes file = lbm("PBM ", 16, 16, 8, 1, cmap() + chunk("BODY", byterun_rows(16, 16)));
  EXPECT_TRUE(refused(cut(file, 40 + 6)));           // inside the CMAP length
  EXPECT_TRUE(refused(cut(file, 40 + 8 + 700)));     // inside the colours
  EXPECT_TRUE(refused(cut(file, file.size() - 1)));  // inside the body
  // A skipped chunk longer than the rest of the file.
  Bytes junk;
  text(junk, "JUNK");
  be32(junk, 0xFFFFFFF0);
  EXPECT_TRUE(
      refused(lbm("PBM ", 16, 16, 8, 1, junk + cmap() + chunk("BODY", byterun_rows(16, 16)))));
}

TEST_F(LbmGate, RefusesBodiesThatOverrunTheirChunkOrRow) {
  // Decoding may not go on past the BODY's length into the next chunk.
  Bytes short_body = chunk("BODY", byterun_rows(16, 16));
  short_body[7] -= 2;
  EXPECT_TRUE(refused(lbm("PBM ", 16, 16, 8, 1, short_body + cmap())));
  // A literal run and a repeat run past the 16-byte row.
  Bytes literal = byterun_rows(16, 15);
  put(literal, {16});
  put(literal, 17, 1);
  EXPECT_TRUE(refused(lbm("PBM ", 16, 16, 8, 1, cmap() + chunk("BODY", literal))));
  Bytes repeat = byterun_rows(16, 15);
  put(repeat, {257 - 8, 1, 257 - 9, 2});
  EXPECT_TRUE(refused(lbm("PBM ", 16, 16, 8, 1, cmap() + chunk("BODY", repeat))));
}

TEST_F(LbmGate, WalksChunksAsAnIffReaderDoes) {
  // Whatever a CMAP or a BODY holds past what is decoded, the next chunk
  // starts after its length and pad byte.
  const Bytes body = chunk("BODY", byterun_rows(16, 16));
  EXPECT_EQ(loads(lbm("PBM ", 16, 16, 8, 1, chunk("CMAP", Bytes(7, 1)) + body)), Bytes(256, 0x5A));
  Bytes slack = byterun_rows(16, 16);
  put(slack, 3, 0);
  EXPECT_EQ(loads(lbm("PBM ", 16, 16, 8, 1, chunk("BODY", slack) + cmap())), Bytes(256, 0x5A));
  // The first BODY, described by the BMHD and CAMG in force there.
  EXPECT_EQ(loads(lbm("PBM ", 16, 16, 8, 1, body + chunk("BODY", byterun_rows(16, 16, 1)))),
            Bytes(256, 0x5A));
  Bytes bmhd_256x1 = lbm("PBM ", 256, 1, 8, 1, {});
  bmhd_256x1 = Bytes(bmhd_256x1.begin() + 12, bmhd_256x1.end());
  EXPECT_EQ(loads(lbm("PBM ", 16, 16, 8, 1, bmhd_256x1 + chunk("BODY", byterun_rows(256, 1)))),
            Bytes(256, 0x5A));
  EXPECT_TRUE(refused(lbm("PBM ", 16, 16, 8, 1, chunk("CAMG", Bytes(2, 0)) + body)));
  const Bytes form = lbm("PBM ", 16, 16, 8, 1, {});
  const Bytes long_bmhd = chunk("BMHD", Bytes(form.begin() + 20, form.end()) + Bytes(2, 0));
  EXPECT_TRUE(refused(lbm("PBM ", 16, 16, 8, 1, long_bmhd + body)));
}

TEST_F(LbmGate, IgnoresPaddingBits) {
  // Width 8: each plane row is 1 byte of pixels and 1 pad byte.
  Bytes body, want;
  for (int i = 0; i < 32; ++i) put(body, {0xA5, 0xFF});
  for (int i = 0; i < 32; ++i) put(want, {1, 0, 1, 0, 0, 1, 0, 1});
  EXPECT_EQ(loads(lbm("ILBM", 8, 32, 1, 0, cmap(2) + chunk("BODY", body))), want);
}

TEST_F(LbmGate, RefusesWhatHoldsNoIndices) {
  const Bytes body = chunk("BODY", byterun_rows(4, 16 * 8));
  const Bytes ham = chunk("CAMG", {0, 0, 0x08, 0});
  const Bytes half_brite = chunk("CAMG", {0, 0, 0, 0x80});
  EXPECT_TRUE(refused(lbm("ILBM", 32, 16, 0, 1, cmap() + body)));    // no planes
  EXPECT_TRUE(refused(lbm("ILBM", 32, 16, 200, 1, cmap() + body)));  // no such depth
  EXPECT_TRUE(refused(lbm("ILBM", 32, 16, 8, 1, ham + cmap() + body)));
  EXPECT_TRUE(refused(lbm("ILBM", 32, 16, 8, 1, chunk("CAMG", {0, 0, 0x88, 4}) + cmap() + body)));
  EXPECT_TRUE(refused(lbm("ILBM", 32, 16, 8, 2, cmap() + body)));     // unknown compression
  EXPECT_TRUE(refused(lbm("ILBM", 32, 16, 8, 1, cmap() + body, 4)));  // unknown mask
  EXPECT_TRUE(refused(lbm("PBM ", 32, 16, 8, 1, cmap() + body, 1)));  // no mask plane in a PBM
  EXPECT_EQ(loads(lbm("ILBM", 32, 16, 8, 1, half_brite + cmap() + body)).size(), 512u);
  EXPECT_EQ(loads(lbm("ILBM", 32, 16, 8, 1, cmap() + body, 3)).size(), 512u);  // lasso
  // A mask plane after each row's 8 colour planes.
  EXPECT_EQ(loads(lbm("ILBM", 32, 16, 8, 1, cmap() + chunk("BODY", byterun_rows(4, 16 * 9)), 1)),
            bits_5a(512));
}

}  // namespace
