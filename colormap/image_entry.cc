#include "colormap/image_entry.h"

#include <allegro.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>

#include "colormap/image_gate.h"
#include "colormap/memory_packfile.h"

namespace {

constexpr long long kEntryPixels = 256;

bool fail_open(const char* path, RunStreams& streams) {
  return fail_run(streams, "ERROR. Can't open the image \"%s\", probably bad file format.\n", path);
}

// Checks size and depth; on failure the run is ended (the caller still owns
// and releases the image).
bool check_image(BITMAP* image, const char* path, RunStreams& streams) {
  const long long total = static_cast<long long>(image->w) * image->h;
  if (total != kEntryPixels) {
    return fail_run(streams,
                    "ERROR. The image \"%s\" is %d * %d pixels (%lld pixels in total). It should "
                    "be an image of exactly 256 pixels in total.\n",
                    path, image->w, image->h, total);
  }
  const int depth = bitmap_color_depth(image);
  if (depth != 8) {
    const long long colors = (depth >= 0 && depth < 63) ? (1LL << depth) : 0;
    return fail_run(streams,
                    "ERROR. The image \"%s\" is in %d bits-per-pixel mode (%lld colors). It "
                    "should be in 8 bpp mode (256 colors).\n",
                    path, depth, colors);
  }
  return true;
}

// Collects the palette indices line by line from the top-left corner. On a
// bad pixel the indices before it are written and the run is failed.
bool collect_indices(BITMAP* image, const char* path, const RunSettings& settings,
                     RunStreams& streams, ImageEntryCache::Entry* entry) {
  std::size_t count = 0;
  for (int y = 0; y < image->h; ++y) {
    for (int x = 0; x < image->w; ++x) {
      const int value = getpixel(image, x, y);
      if (static_cast<unsigned>(value) > 255) {
        if (std::fwrite(entry->data(), 1, count, streams.output) != count) {
          return fail_write(streams, settings);
        }
        return fail_run(streams,
                        "ERROR. For some unknown reason the pixel [%d, %d] in the image \"%s\" is "
                        "color %d, while it should be between 0 and 255.\n",
                        x, y, path, value);
      }
      (*entry)[count++] = static_cast<unsigned char>(value);
    }
  }
  return true;
}

bool write_entry(const ImageEntryCache::Entry& entry, const RunSettings& settings,
                 RunStreams& streams) {
  if (std::fwrite(entry.data(), 1, entry.size(), streams.output) != entry.size()) {
    return fail_write(streams, settings);
  }
  return true;
}

// Files up to this size are read once and then checked and decoded from
// memory; a 256-pixel image is far smaller. Larger files go by their path.
constexpr std::size_t kInMemoryLimit = 64 * 1024;

// Reads the whole of a small regular file. False for anything else, which
// is then left to the library to open by its path.
bool read_small_file(int fd, const struct stat& file_stat, std::unique_ptr<unsigned char[]>* data,
                     std::size_t* size) {
  if (!S_ISREG(file_stat.st_mode) || file_stat.st_size < 0 ||
      static_cast<std::uint64_t>(file_stat.st_size) > kInMemoryLimit) {
    return false;
  }
  // One byte more than the size shows whether the file grew meanwhile.
  const std::size_t capacity = static_cast<std::size_t>(file_stat.st_size) + 1;
  data->reset(new unsigned char[capacity]);
  std::size_t got = 0;
  while (got < capacity) {
    const ssize_t part = ::read(fd, data->get() + got, capacity - got);
    if (part == 0) break;
    if (part < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    got += static_cast<std::size_t>(part);
  }
  if (got == capacity) return false;
  *size = got;
  return true;
}

BITMAP* load_from_memory(MemoryFile* file, ImageFormat format) {
  PACKFILE* packfile = open_memory_packfile(file);
  if (!packfile) return nullptr;
  BITMAP* image = nullptr;
  switch (format) {
    case ImageFormat::Bmp:
      image = load_bmp_pf(packfile, nullptr);
      break;
    case ImageFormat::Pcx:
      image = load_pcx_pf(packfile, nullptr);
      break;
    case ImageFormat::Tga:
      image = load_tga_pf(packfile, nullptr);
      break;
    case ImageFormat::Lbm:
      break;  // the library reads LBM files only by path
  }
  pack_fclose(packfile);
  return image;
}

// Checks and loads the image. Small BMP, PCX and TGA files open as `fd` are
// read from disk once; the rest go to the library by path: LBM files, large
// files, and files we did not open (paths with '#', which the library may
// take as an object inside a datafile, and files it may still find). Either
// way the check and the loader judge the same bytes.
BITMAP* load_checked_image(const char* path, ImageFormat format, int fd,
                           const struct stat& file_stat) {
  std::unique_ptr<unsigned char[]> data;
  MemoryFile file;
  if (fd >= 0 && format != ImageFormat::Lbm && read_small_file(fd, file_stat, &data, &file.size)) {
    file.data = data.get();
    PACKFILE* packfile = open_memory_packfile(&file);
    if (!packfile) return nullptr;
    const bool passes = image_passes_gate(packfile, format);
    pack_fclose(packfile);
    return passes ? load_from_memory(&file, format) : nullptr;
  }
  if (!image_passes_gate(path, format)) return nullptr;
  return load_bitmap(path, nullptr);
}

}  // namespace

// Enough for every distinct image of a large asset list, small enough to
// keep memory flat (about 300 KiB at most).
constexpr std::size_t kMaxCachedEntries = 1024;

ImageEntryCache::Key ImageEntryCache::key_of(const struct stat& file) {
  return Key{file.st_dev, file.st_ino, file.st_size, file.st_mtim, file.st_ctim};
}

bool ImageEntryCache::Key::operator==(const Key& other) const {
  return device == other.device && inode == other.inode && size == other.size &&
         modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec &&
         changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
}

std::size_t ImageEntryCache::KeyHash::operator()(const Key& key) const {
  return std::hash<std::uint64_t>()(static_cast<std::uint64_t>(key.inode) * 0x9E3779B97F4A7C15u ^
                                    static_cast<std::uint64_t>(key.device));
}

const ImageEntryCache::Entry* ImageEntryCache::find(const struct stat& file) const {
  const auto found = entries_.find(key_of(file));
  return found == entries_.end() ? nullptr : &found->second;
}

void ImageEntryCache::remember(const struct stat& file, const Entry& entry) {
  if (entries_.size() < kMaxCachedEntries) entries_.emplace(key_of(file), entry);
}

bool write_image_entry(const char* path, const RunSettings& settings, RunStreams& streams,
                       ImageEntryCache& cache) {
  ImageFormat format;
  if (!image_format_of(path, &format)) return fail_open(path, streams);
  struct stat path_stat;
  const bool found = stat(path, &path_stat) == 0;
  if (found && same_regular_file(path_stat, streams.output_stat)) {
    return fail_run(streams, "ERROR. The image \"%s\" is the output file.\n", path);
  }
  // A path with '#' may name an object inside a datafile, not this file.
  const bool cacheable = found && S_ISREG(path_stat.st_mode) && !std::strchr(path, '#');
  if (cacheable) {
    if (const ImageEntryCache::Entry* entry = cache.find(path_stat)) {
      return write_entry(*entry, settings, streams);
    }
  }

  const int fd = cacheable ? ::open(path, O_RDONLY | O_CLOEXEC) : -1;
  struct stat file_stat;
  const bool opened = fd >= 0 && fstat(fd, &file_stat) == 0;
  BITMAP* image = load_checked_image(path, format, opened ? fd : -1, file_stat);
  if (fd >= 0) ::close(fd);
  if (!image) return fail_open(path, streams);
  ImageEntryCache::Entry entry;
  const bool valid =
      check_image(image, path, streams) && collect_indices(image, path, settings, streams, &entry);
  destroy_bitmap(image);
  if (!valid) return false;
  if (opened) cache.remember(file_stat, entry);
  return write_entry(entry, settings, streams);
}
