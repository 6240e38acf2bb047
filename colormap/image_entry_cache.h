// The entries of the images already written in this run, so that an image
// named again is not read, checked and decoded again. Keyed by the file's
// identity and version and by the format its row names: the same file under
// another extension is judged afresh, as naming it alone would be. A file
// whose size, modification time or status-change time differs from when it
// was read is read anew.
#pragma once

#include <sys/stat.h>

#include <array>
#include <cstddef>
#include <unordered_map>

#include "colormap/formats/image_format.h"

class ImageEntryCache {
 public:
  using Entry = std::array<unsigned char, 256>;

  const Entry* find(const struct stat& file, ImageFormat format) const;
  void remember(const struct stat& file, ImageFormat format, const Entry& entry);

 private:
  struct Key {
    dev_t device;
    ino_t inode;
    off_t size;
    struct timespec modified;
    struct timespec changed;
    ImageFormat format;
    bool operator==(const Key& other) const;
  };
  struct KeyHash {
    std::size_t operator()(const Key& key) const;
  };
  static Key key_of(const struct stat& file, ImageFormat format);

  std::unordered_map<Key, Entry, KeyHash> entries_;
};
