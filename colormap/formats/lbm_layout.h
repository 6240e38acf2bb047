// The IFF layout (ILBM and PBM) as an IFF reader takes it: a FORM of chunks,
// each padded to even length, in any order; the BMHD and CAMG in force at
// the first BODY describe that BODY.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace lbm {

constexpr std::size_t kChunkHeader = 8;  // id and big-endian length
constexpr std::size_t kBmhdSize = 20;
constexpr std::size_t kCamgSize = 4;
constexpr std::uint64_t kHam = 0x800;  // CAMG: hold-and-modify codes, not indices

enum Masking : std::uint64_t { kNoMask = 0, kMaskPlane = 1, kTransparentColour = 2, kLasso = 3 };

struct Header {
  bool pbm = false;  // chunky 8-bit pixels rather than bit planes
  std::uint64_t width = 0;
  std::uint64_t height = 0;
  std::uint64_t planes = 0;
  std::uint64_t masking = 0;
  std::uint64_t compression = 0;
  std::uint64_t camg = 0;  // the display mode, 0 without a CAMG chunk
};

// What one walk of the FORM up to its first BODY found.
struct Picture {
  Header header;
  const unsigned char* colours = nullptr;  // the CMAP in force, or null
  std::size_t colour_bytes = 0;
  const unsigned char* body = nullptr;  // the first BODY's payload, or null
  std::size_t body_bytes = 0;
};

inline bool is_id(const unsigned char* bytes, const char* id) {
  return std::memcmp(bytes, id, 4) == 0;
}

// A walk of the chunks up to the first BODY for the header in force there,
// fed the file's bytes a window at a time. Chunks are passed over by their
// lengths, so only the windows that hold their headers are needed, however
// far apart they lie.
class HeaderWalk {
 public:
  enum class Step {
    Body,       // the BODY reached: header() is the one in force there
    NeedBytes,  // go on with the file's bytes from resume_at()
    Ended,      // the FORM or the bytes ended before a BODY: header() is the last met
    Malformed,  // no FORM, a BODY before any BMHD, a BMHD or CAMG of the wrong length
  };

  // Starts on the file's first bytes. `last`: no bytes follow them.
  Step start(const unsigned char* data, std::size_t size, bool last);
  // Goes on with the file's bytes from resume_at() on.
  Step resume(const unsigned char* data, std::size_t size, bool last) {
    return walk(data, size, last);
  }
  std::uint64_t resume_at() const { return at_; }
  // The file's bytes from resume_at() to `end` are all zero, as a hole in a
  // sparse file reads: empty chunks with no name, passed over at once.
  void pass_zeros(std::uint64_t end);

  bool has_header() const { return has_bmhd_; }
  // The last BMHD met, with the last CAMG met.
  Header header() const;

 private:
  Step walk(const unsigned char* data, std::size_t size, bool last);

  bool pbm_ = false;
  bool has_bmhd_ = false;
  Header bmhd_;
  std::uint64_t camg_ = 0;
  std::uint64_t form_end_ = 0;
  std::uint64_t at_ = 0;  // the file offset of the next chunk's header
};

// The header in force at the first BODY, from the first bytes of a file: as
// far as they reach, when the BODY lies past them (`settled` is then false:
// more bytes may tell more). False without a BMHD, or when the chunks up to
// there are malformed.
bool read_header(const unsigned char* data, std::size_t size, Header* header, bool* settled);

// The whole picture: true only when the BODY, and every chunk before it, lies
// whole inside the FORM and the file.
bool find_picture(const unsigned char* data, std::size_t size, Picture* picture);

// The colours of a picture as the library's loader takes them (lbm.c:122-134
// and 276): the CMAP in force at the first BODY, or else the first CMAP
// after it. Only chunks lying whole inside the FORM and the bytes count.
// Null, with `*bytes` 0, when there is none.
const unsigned char* find_colours(const unsigned char* data, std::size_t size, std::size_t* bytes);

// Depth 24 or 32: one plane per bit of red, green, blue (and alpha).
inline bool is_deep(const Header& h) { return !h.pbm && (h.planes == 24 || h.planes == 32); }

inline bool is_ham(const Header& h) { return !h.pbm && (h.camg & kHam) != 0; }

// Layouts with a meaning: 1 to 8 planes of indices (PBM: 8, chunky), or a
// deep picture; each mask of the format, a mask plane only in an ILBM; no or
// ByteRun1 compression.
inline bool layout_known(const Header& h) {
  const bool planes_known = h.pbm ? h.planes == 8 : (h.planes >= 1 && h.planes <= 8) || is_deep(h);
  return planes_known && h.masking <= kLasso && !(h.pbm && h.masking == kMaskPlane) &&
         h.compression <= 1;
}

}  // namespace lbm
