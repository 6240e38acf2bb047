#include "colormap/image_entry.h"

#include <allegro.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "colormap/image_gate.h"
#include "colormap/image_rewrite.h"
#include "colormap/memory_packfile.h"
#include "colormap/private_file.h"

namespace {

constexpr long long kEntryPixels = 256;

bool fail_open(const char* path, RunStreams& streams) {
  return fail_run(streams, "ERROR. Can't open the image \"%s\", probably bad file format.\n", path);
}

bool fail_size(const char* path, long long width, long long height, RunStreams& streams) {
  return fail_run(streams,
                  "ERROR. The image \"%s\" is %lld * %lld pixels (%lld pixels in total). It should "
                  "be an image of exactly 256 pixels in total.\n",
                  path, width, height, width * height);
}

// Checks size and depth; on failure the run is ended (the caller still owns
// and releases the image).
bool check_image(BITMAP* image, const char* path, RunStreams& streams) {
  const long long total = static_cast<long long>(image->w) * image->h;
  if (total != kEntryPixels) return fail_size(path, image->w, image->h, streams);
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
  // A loaded image is a memory bitmap; at depth 8 its lines hold the indices
  // as they are, one byte each, and none can be out of range.
  if (is_memory_bitmap(image) && bitmap_color_depth(image) == 8) {
    for (int y = 0; y < image->h; ++y) {
      std::memcpy(entry->data() + count, image->line[y], static_cast<std::size_t>(image->w));
      count += static_cast<std::size_t>(image->w);
    }
    return true;
  }
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

// Files up to this size are held in memory; a 256-pixel image is far
// smaller. Larger ones are read in blocks of this size.
constexpr std::size_t kInMemoryLimit = 64 * 1024;

// Where an image's bytes come from. A path with '#' goes through the
// library's own opener, pack_fopen, where it may name an object inside a
// datafile. For any other path pack_fopen is a plain open that reads as many
// bytes as the file had when it was opened; doing just that here spares the
// packfile's seeks and its byte-by-byte copy.
class ImageSource {
 public:
  ImageSource() = default;
  ImageSource(const ImageSource&) = delete;
  ImageSource& operator=(const ImageSource&) = delete;
  ~ImageSource() { close(); }

  // Opens the path and takes the identity of the file opened, when there is
  // one (`identified`).
  bool open(const char* path) {
    if (std::strchr(path, '#')) {
      packfile_ = pack_fopen(path, F_READ);
      if (!packfile_) return false;
      const bool plain =
          packfile_->is_normal_packfile && !packfile_->normal.parent && packfile_->normal.hndl >= 0;
      identified_ = plain && fstat(packfile_->normal.hndl, &stat_) == 0;
      return true;
    }
    fd_ = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return false;
    identified_ = fstat(fd_, &stat_) == 0;
    regular_ = identified_ && S_ISREG(stat_.st_mode);
    if (regular_) left_ = static_cast<std::uint64_t>(stat_.st_size);
    return true;
  }

  bool identified() const { return identified_; }
  const struct stat& file_stat() const { return stat_; }

  // Up to `size` bytes; fewer only at the end. -1 on a read error.
  long read(unsigned char* out, std::size_t size) {
    if (packfile_) {
      const long got = pack_fread(out, static_cast<long>(size), packfile_);
      return pack_ferror(packfile_) ? -1 : got;
    }
    if (size > left_) size = static_cast<std::size_t>(left_);
    std::size_t got = 0;
    while (got < size) {
      const ssize_t part = ::read(fd_, out + got, size - got);
      if (part == 0) break;
      if (part < 0) {
        if (errno == EINTR) continue;
        return -1;
      }
      got += static_cast<std::size_t>(part);
    }
    left_ -= got;
    return static_cast<long>(got);
  }

  void close() {
    if (packfile_) pack_fclose(packfile_);
    if (fd_ >= 0) ::close(fd_);
    packfile_ = nullptr;
    fd_ = -1;
  }

 private:
  PACKFILE* packfile_ = nullptr;
  int fd_ = -1;
  bool identified_ = false;
  bool regular_ = false;
  std::uint64_t left_ = UINT64_MAX;
  struct stat stat_ = {};
};

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

BITMAP* load_by_path(const char* path, ImageFormat format) {
  switch (format) {
    case ImageFormat::Bmp:
      return load_bmp(path, nullptr);
    case ImageFormat::Lbm:
      return load_lbm(path, nullptr);
    case ImageFormat::Pcx:
      return load_pcx(path, nullptr);
    case ImageFormat::Tga:
      return load_tga(path, nullptr);
  }
  return nullptr;
}

bool gate_memory(MemoryFile* file, ImageFormat format, GateSize* size) {
  return image_passes_gate(file->data, file->size, format, size);
}

enum class LoadResult { Refused, Loaded, WrongSize };

// Only a 256-pixel image is decoded. Any other size is reported from the
// header the gate checked, which is the size the loader would give, so that
// no image is ever decoded into more memory than an entry needs.
LoadResult size_result(const GateSize& size) {
  return size.width * size.height == kEntryPixels ? LoadResult::Loaded : LoadResult::WrongSize;
}

// A whole file held in memory: judged, then decoded, from those bytes.
LoadResult load_small_file(const unsigned char* data, std::size_t size, ImageFormat format,
                           PrivateFile& lbm_copy, BITMAP** image, GateSize* image_size) {
  MemoryFile file;
  file.data = data;
  file.size = size;
  std::vector<unsigned char> rewritten;
  if (!gate_memory(&file, format, image_size)) {
    // A well-formed file the loader would refuse or misread gets an
    // equivalent one that it reads exactly; anything else stays refused.
    if (!rewrite_for_library(format, data, size, &rewritten)) return LoadResult::Refused;
    file.data = data = rewritten.data();
    file.size = size = rewritten.size();
    if (!gate_memory(&file, format, image_size)) return LoadResult::Refused;
  }
  if (size_result(*image_size) == LoadResult::WrongSize) return LoadResult::WrongSize;
  if (format != ImageFormat::Lbm) {
    *image = load_from_memory(&file, format);
  } else if (lbm_copy.replace(data, size)) {
    *image = load_by_path(lbm_copy.path(), format);
  }
  return *image ? LoadResult::Loaded : LoadResult::Refused;
}

// Serves the head already read, then the rest of the source in blocks, and
// keeps every byte served in `copy` when there is one.
struct TeeSource {
  const unsigned char* head;
  std::size_t head_size;
  ImageSource* source;
  PrivateFile* copy;
  std::unique_ptr<unsigned char[]> block;
  MemoryFile current;  // the bytes being served
  bool failed = false;

  bool next_block() {
    if (failed) return false;
    if (!block) {
      block.reset(new unsigned char[kInMemoryLimit]);
      current.data = head;
      current.size = head_size;
      current.position = 0;
      return head_size > 0;
    }
    const long got = source->read(block.get(), kInMemoryLimit);
    if (got <= 0 || (copy && !copy->append(block.get(), static_cast<std::size_t>(got)))) {
      failed = true;
      return false;
    }
    current.data = block.get();
    current.size = static_cast<std::size_t>(got);
    current.position = 0;
    return true;
  }
  bool available() { return current.position < current.size || next_block(); }
};

TeeSource& tee(void* userdata) { return *static_cast<TeeSource*>(userdata); }
int tee_fclose(void*) { return 0; }
int tee_getc(void* userdata) {
  TeeSource& t = tee(userdata);
  return t.available() ? t.current.data[t.current.position++] : EOF;
}
int tee_ungetc(int, void*) { return EOF; }
long tee_fread(void* out, long count, void* userdata) {
  TeeSource& t = tee(userdata);
  long done = 0;
  while (done < count && t.available()) {
    std::size_t part = t.current.size - t.current.position;
    if (part > static_cast<std::size_t>(count - done))
      part = static_cast<std::size_t>(count - done);
    std::memcpy(static_cast<unsigned char*>(out) + done, t.current.data + t.current.position, part);
    t.current.position += part;
    done += static_cast<long>(part);
  }
  return done;
}
int tee_putc(int, void*) { return EOF; }
long tee_fwrite(const void*, long, void*) { return 0; }
int tee_fseek(void*, int) { return -1; }  // the gate never seeks
int tee_feof(void* userdata) { return !tee(userdata).available(); }
int tee_ferror(void* userdata) { return tee(userdata).failed; }

const PACKFILE_VTABLE kTeeVtable = {tee_fclose, tee_getc,  tee_ungetc, tee_fread, tee_putc,
                                    tee_fwrite, tee_fseek, tee_feof,   tee_ferror};

// A file larger than kInMemoryLimit is judged as it streams past. Only a
// 256-pixel image needs its bytes again, for the loader: they go to a
// private file as they are judged. Any other size is reported from the
// header the gate checked, so a huge image is never decoded into memory.
LoadResult load_large_file(const unsigned char* head, std::size_t head_size, ImageSource* source,
                           ImageFormat format, BITMAP** image, GateSize* size) {
  MemoryFile head_file;
  head_file.data = head;
  head_file.size = head_size;
  GateSize header;
  gate_memory(&head_file, format, &header);  // fails at the cut; gives the header's size
  const bool entry_sized = header.width * header.height == kEntryPixels;
  PrivateFile copy;
  if (entry_sized && (!copy.create() || !copy.append(head, head_size))) {
    return LoadResult::Refused;
  }
  TeeSource source_copy{head, head_size, source, entry_sized ? &copy : nullptr, nullptr, {}};
  PACKFILE* packfile = pack_fopen_vtable(&kTeeVtable, &source_copy);
  if (!packfile) return LoadResult::Refused;
  const bool passes = image_passes_gate(packfile, format, size);
  pack_fclose(packfile);
  if (!passes) return LoadResult::Refused;
  if (size_result(*size) == LoadResult::WrongSize) return LoadResult::WrongSize;
  if (!entry_sized || !copy.finish()) return LoadResult::Refused;
  *image = load_by_path(copy.path(), format);
  return *image ? LoadResult::Loaded : LoadResult::Refused;
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
  // Every byte judged and decoded is read once, so a file switched
  // meanwhile cannot slip past the gate.
  ImageSource source;
  if (!source.open(path)) return fail_open(path, streams);
  const struct stat& file_stat = source.file_stat();
  if (source.identified() && same_regular_file(file_stat, streams.output_stat)) {
    return fail_run(streams, "ERROR. The image \"%s\" is the output file.\n", path);
  }
  const bool cacheable =
      source.identified() && S_ISREG(file_stat.st_mode) && !std::strchr(path, '#');
  if (cacheable) {
    if (const ImageEntryCache::Entry* entry = cache.find(file_stat)) {
      return write_entry(*entry, settings, streams);
    }
  }

  // One byte more than the limit tells a small file from a large one.
  std::unique_ptr<unsigned char[]> head(new unsigned char[kInMemoryLimit + 1]);
  const long got = source.read(head.get(), kInMemoryLimit + 1);
  BITMAP* image = nullptr;
  GateSize size;
  LoadResult result = LoadResult::Refused;
  if (got >= 0 && static_cast<std::size_t>(got) <= kInMemoryLimit) {
    source.close();
    result = load_small_file(head.get(), static_cast<std::size_t>(got), format, cache.lbm_copy(),
                             &image, &size);
  } else if (got > 0) {
    result =
        load_large_file(head.get(), static_cast<std::size_t>(got), &source, format, &image, &size);
  }
  source.close();
  if (result == LoadResult::WrongSize) {
    return fail_size(path, static_cast<long long>(size.width), static_cast<long long>(size.height),
                     streams);
  }
  if (!image) return fail_open(path, streams);
  ImageEntryCache::Entry entry;
  const bool valid =
      check_image(image, path, streams) && collect_indices(image, path, settings, streams, &entry);
  destroy_bitmap(image);
  if (!valid) return false;
  if (cacheable) cache.remember(file_stat, entry);
  return write_entry(entry, settings, streams);
}
