// Turns one image row into its 256-byte entry: the palette index of every
// pixel, line by line from the top-left corner.
#pragma once

#include <sys/stat.h>

#include <array>
#include <cstddef>
#include <unordered_map>

#include "colormap/private_file.h"
#include "colormap/run.h"

// The entries of the images already written in this run, by file identity
// and version, so that an image named again is not checked and decoded
// again. A file whose size, modification time or status-change time differs
// from when it was read is read anew.
class ImageEntryCache {
 public:
  using Entry = std::array<unsigned char, 256>;

  const Entry* find(const struct stat& file) const;
  void remember(const struct stat& file, const Entry& entry);

  // The private file through which small LBM images reach the library's
  // loader, which reads only by path; made once a run.
  PrivateFile& lbm_copy() { return lbm_copy_; }

 private:
  struct Key {
    dev_t device;
    ino_t inode;
    off_t size;
    struct timespec modified;
    struct timespec changed;
    bool operator==(const Key& other) const;
  };
  struct KeyHash {
    std::size_t operator()(const Key& key) const;
  };
  static Key key_of(const struct stat& file);

  std::unordered_map<Key, Entry, KeyHash> entries_;
  PrivateFile lbm_copy_;
};

// Appends exactly 256 bytes to the output, or fails the run and returns false.
bool write_image_entry(const char* path, const RunSettings& settings, RunStreams& streams,
                       ImageEntryCache& cache);
