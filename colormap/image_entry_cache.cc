#include "colormap/image_entry_cache.h"

#include <cstdint>
#include <functional>

namespace {

// Enough for every distinct image of a large asset list, small enough to
// keep memory flat (about 300 KiB at most).
constexpr std::size_t kMaxCachedEntries = 1024;

bool same_time(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

}  // namespace

ImageEntryCache::Key ImageEntryCache::key_of(const struct stat& file, ImageFormat format) {
  return Key{file.st_dev, file.st_ino, file.st_size, file.st_mtim, file.st_ctim, format};
}

bool ImageEntryCache::Key::operator==(const Key& other) const {
  return device == other.device && inode == other.inode && size == other.size &&
         same_time(modified, other.modified) && same_time(changed, other.changed) &&
         format == other.format;
}

std::size_t ImageEntryCache::KeyHash::operator()(const Key& key) const {
  return std::hash<std::uint64_t>()(static_cast<std::uint64_t>(key.inode) * 0x9E3779B97F4A7C15u ^
                                    static_cast<std::uint64_t>(key.device) ^
                                    static_cast<std::uint64_t>(key.format));
}

const ImageEntryCache::Entry* ImageEntryCache::find(const struct stat& file,
                                                    ImageFormat format) const {
  const auto found = entries_.find(key_of(file, format));
  return found == entries_.end() ? nullptr : &found->second;
}

void ImageEntryCache::remember(const struct stat& file, ImageFormat format, const Entry& entry) {
  if (entries_.size() < kMaxCachedEntries) entries_.emplace(key_of(file, format), entry);
}
