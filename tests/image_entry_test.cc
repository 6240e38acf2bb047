#include "colormap/image_entry.h"

#include <allegro.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

class ImageEntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "image_entry_test.XXXXXX";
    ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
    folder_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  std::string write(const std::string& name, const std::string& bytes) {
    const std::string path = folder_ + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  static struct stat stat_of(const std::string& path) {
    struct stat file;
    EXPECT_EQ(stat(path.c_str(), &file), 0);
    return file;
  }

  std::string folder_;
};

// An uncompressed 16 x 16 8-bit grey TGA whose pixels are all `value`.
std::string flat_tga(unsigned char value) {
  std::string file(18, '\0');
  file[2] = 3;
  file[12] = file[14] = 16;
  file[16] = 8;
  return file + std::string(256, static_cast<char>(value));
}

// A row names its file again after the file changed in ways its times do
// not show: each row must see the bytes of its own moment.
TEST_F(ImageEntryTest, AFileNamedAgainIsReadAgain) {
  const std::string path = write("a.tga", flat_tga(0x11));
  const platform::FileIdentity output;
  ImageRun run;
  ASSERT_EQ(read_image_entry(path.c_str(), ImageFormat::Tga, output, run).entry[0], 0x11);

  // Rewritten in place with the same size, its times then put back, as a
  // kernel with coarse timestamps would leave them.
  const struct stat before = stat_of(path);
  write("a.tga", flat_tga(0x22));
  const struct timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  EXPECT_EQ(read_image_entry(path.c_str(), ImageFormat::Tga, output, run).entry[255], 0x22);

  // Written through a shared mapping made writable before: no time moves.
  const int fd = ::open(path.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  void* mapped = mmap(nullptr, 18 + 256, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ASSERT_NE(mapped, MAP_FAILED);
  ::close(fd);
  std::memset(static_cast<char*>(mapped) + 18, 0x33, 256);
  EXPECT_EQ(read_image_entry(path.c_str(), ImageFormat::Tga, output, run).entry[0], 0x33);
  munmap(mapped, 18 + 256);
}

// An uncompressed 16 x 16 8-bit grey TGA whose pixel i is i.
std::string grey_tga() {
  std::string file(18, '\0');
  file[2] = 3;
  file[12] = file[14] = 16;
  file[16] = 8;
  file[17] = 0x20;  // top to bottom
  for (int i = 0; i < 256; ++i) file.push_back(static_cast<char>(i));
  return file;
}

// What a row names, end to end through the one pipeline every image row takes.
TEST_F(ImageEntryTest, RowsAreJudgedByTheirOwnPathAndExtension) {
  const std::string image = write("tile#1.tga", grey_tga());
  // A hostile datafile where the library's "file#object" convention would
  // look; the row's path names the image itself.
  write("tile", std::string("slh.ALL.\0\0\0\1propNAME\0\0\x10\0", 24) + std::string(4096, 'A'));
  ASSERT_EQ(::link(image.c_str(), (folder_ + "/same.bmp").c_str()), 0);
  ASSERT_EQ(mkdir((folder_ + "/folder.pcx").c_str(), 0700), 0);
  ASSERT_EQ(mkfifo((folder_ + "/pipe.tga").c_str(), 0600), 0);
  write("empty.tga", "");
  platform::FileIdentity output;
  ASSERT_TRUE(platform::identity_of_path(write("out.tga", grey_tga()).c_str(), &output));

  using Kind = ImageOutcome::Kind;
  const struct {
    const char* name;
    ImageFormat format;
    Kind kind;
  } cases[] = {
      {"tile#1.tga", ImageFormat::Tga, Kind::Entry},
      {"same.bmp", ImageFormat::Bmp, Kind::CannotOpen},  // a TGA named .bmp, after the .tga
      {"tile#1.tga", ImageFormat::Tga, Kind::Entry},
      {"missing.bmp", ImageFormat::Bmp, Kind::CannotOpen},
      {"folder.pcx", ImageFormat::Pcx, Kind::CannotOpen},
      {"pipe.tga", ImageFormat::Tga, Kind::CannotOpen},  // never waited on
      {"empty.tga", ImageFormat::Tga, Kind::CannotOpen},
      {"out.tga", ImageFormat::Tga, Kind::IsOutput},
  };
  ImageRun run;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ImageOutcome got =
        read_image_entry((folder_ + "/" + c.name).c_str(), c.format, output, run);
    EXPECT_EQ(static_cast<int>(got.kind), static_cast<int>(c.kind));
    if (c.kind == Kind::Entry) {
      for (int i = 0; i < 256; ++i) ASSERT_EQ(got.entry[i], i);
    }
  }
}

std::string be32(std::size_t value) {
  std::string out;
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(value >> shift));
  return out;
}

std::string chunk(const char* id, const std::string& payload) {
  return std::string(id, 4) + be32(payload.size()) + payload +
         (payload.size() & 1 ? std::string(1, '\0') : "");
}

std::string bmhd(int width, int height, int planes = 8) {
  std::string payload(20, '\0');
  payload[1] = static_cast<char>(width);
  payload[3] = static_cast<char>(height);
  payload[8] = static_cast<char>(planes);
  return chunk("BMHD", payload);
}

// A FORM of `type` that claims `extra` bytes more than its chunks hold.
std::string form(const char* type, const std::string& chunks, std::size_t extra = 0) {
  return "FORM" + be32(4 + chunks.size() + extra) + type + chunks;
}

// The header in force at a BODY past the bytes an image may take is found by
// walking on, a small window at a time, across chunks of every length: it
// names the size or the depth, or makes the picture one that cannot be
// opened, and nothing past those bytes is decoded.
TEST_F(ImageEntryTest, TheHeaderAtAFarBodyDecides) {
  const std::string body = chunk("BODY", std::string(256, '\7'));
  const std::string junk = chunk("JUNK", std::string(101, 'j'));
  using Kind = ImageOutcome::Kind;
  const struct {
    const char* name;
    std::string file;
    Kind kind;
    std::uint64_t width, height;
    int depth;
  } cases[] = {
      {"last header 256 pixels",
       form("PBM ", bmhd(100, 100) + chunk("ANNO", "odd") + chunk("CAMG", std::string(4, '\0')) +
                        bmhd(16, 16) + body),
       Kind::CannotOpen, 0, 0, 0},
      {"last header wrong size", form("PBM ", bmhd(16, 16) + junk + bmhd(20, 30) + body),
       Kind::WrongSize, 20, 30, 0},
      {"last header deep", form("ILBM", bmhd(16, 16) + junk + bmhd(16, 16, 24) + body),
       Kind::WrongDepth, 0, 0, 24},
      {"malformed header",
       form("PBM ", bmhd(16, 16) + junk + chunk("BMHD", std::string(19, '\0')) + body),
       Kind::CannotOpen, 0, 0, 0},
      {"no body in the form", form("PBM ", bmhd(16, 16) + junk + bmhd(20, 30)) + body,
       Kind::WrongSize, 20, 30, 0},
      {"file cut short", form("PBM ", bmhd(16, 16) + junk + bmhd(20, 30), 1000), Kind::WrongSize,
       20, 30, 0},
  };
  ImageRun run;
  run.limits.first_read = 32;  // the window of the walk on, room for a BMHD
  run.limits.max_bytes = 64;
  const platform::FileIdentity output;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = write("a.lbm", c.file);
    const ImageOutcome got = read_image_entry(path.c_str(), ImageFormat::Lbm, output, run);
    EXPECT_EQ(static_cast<int>(got.kind), static_cast<int>(c.kind));
    EXPECT_EQ(got.size.width, c.width);
    EXPECT_EQ(got.size.height, c.height);
    EXPECT_EQ(got.depth, c.depth);
  }
}

}  // namespace
