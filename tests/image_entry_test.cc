#include "colormap/image_entry.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

class ImageEntryCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/image_entry_test.XXXXXX";
    folder_ = mkdtemp(name);
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

TEST_F(ImageEntryCacheTest, AFileIsKnownUntilItChanges) {
  ImageEntryCache cache;
  ImageEntryCache::Entry entry;
  for (std::size_t i = 0; i < entry.size(); ++i) entry[i] = static_cast<unsigned char>(255 - i);
  const std::string path = write("a.pcx", "first");
  const std::string other = write("b.pcx", "first");
  const std::string link = folder_ + "/link.pcx";
  ASSERT_EQ(::link(path.c_str(), link.c_str()), 0);
  cache.remember(stat_of(path), entry);

  const ImageEntryCache::Entry* found = cache.find(stat_of(path));
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(*found, entry);
  // The same bytes in another file are another file.
  EXPECT_EQ(cache.find(stat_of(other)), nullptr);
  // A hard link is the same file.
  EXPECT_NE(cache.find(stat_of(link)), nullptr);

  // Rewritten with the same size, and then even with its times put back:
  // the status-change time still tells.
  const struct stat before = stat_of(path);
  write("a.pcx", "other");
  EXPECT_EQ(cache.find(stat_of(path)), nullptr);
  const struct timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  EXPECT_EQ(stat_of(path).st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(cache.find(stat_of(path)), nullptr);
}

}  // namespace
