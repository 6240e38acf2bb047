#include "colormap/formats/lbm_layout.h"

#include "colormap/formats/bytes.h"

namespace lbm {

namespace {

constexpr std::size_t kFormHeader = 12;  // FORM, its length and its type

Header read_bmhd(const unsigned char* bmhd, bool pbm, std::uint64_t camg) {
  Header header;
  header.pbm = pbm;
  header.width = be16_at(bmhd);
  header.height = be16_at(bmhd + 2);
  header.planes = bmhd[8];
  header.masking = bmhd[9];
  header.compression = bmhd[10];
  header.camg = camg;
  return header;
}

}  // namespace

// Every chunk up to the BODY, the BODY too, must lie inside the FORM and the
// bytes.
bool find_picture(const unsigned char* data, std::size_t size, Picture* picture) {
  *picture = Picture();
  if (size < kFormHeader || !is_id(data, "FORM")) return false;
  const bool pbm = is_id(data + 8, "PBM ");
  if (!pbm && !is_id(data + 8, "ILBM")) return false;
  // Nothing past the BODY is read, as for every other format: a file cut
  // after it still holds the whole picture.
  const std::uint64_t form_end = 8 + be32_at(data + 4);
  if (form_end < kFormHeader) return false;
  const std::size_t end = form_end < size ? static_cast<std::size_t>(form_end) : size;

  const unsigned char* bmhd = nullptr;
  std::uint64_t camg = 0;
  std::size_t at = kFormHeader;
  for (;;) {
    if (end - at < kChunkHeader) return false;
    const unsigned char* id = data + at;
    const std::uint64_t length = be32_at(id + 4);
    const std::size_t payload = at + kChunkHeader;
    if (length > end - payload) return false;
    const unsigned char* bytes = data + payload;
    // A chunk whose size differs from its layout's has no clear meaning.
    if (is_id(id, "BMHD")) {
      if (length != kBmhdSize) return false;
      bmhd = bytes;
    } else if (is_id(id, "CAMG")) {
      if (length != kCamgSize) return false;
      camg = be32_at(bytes);
    } else if (is_id(id, "CMAP")) {
      picture->colours = bytes;
      picture->colour_bytes = static_cast<std::size_t>(length);
    } else if (is_id(id, "BODY")) {
      if (!bmhd) return false;  // no reader knows how to decode it
      picture->body = bytes;
      picture->body_bytes = static_cast<std::size_t>(length);
    }
    if (bmhd) picture->header = read_bmhd(bmhd, pbm, camg);
    if (picture->body) return true;
    // Every chunk is padded to even length, whatever its kind.
    const std::uint64_t next = payload + length + (length & 1);
    if (next >= end) return false;
    at = static_cast<std::size_t>(next);
  }
}

const unsigned char* find_colours(const unsigned char* data, std::size_t size, std::size_t* bytes) {
  *bytes = 0;
  if (size < kFormHeader || !is_id(data, "FORM")) return nullptr;
  const std::uint64_t form_end = 8 + be32_at(data + 4);
  const std::size_t end = form_end < size ? static_cast<std::size_t>(form_end) : size;
  const unsigned char* colours = nullptr;
  bool body_met = false;
  // Each step passes one chunk of at least a header: linear in the bytes.
  for (std::size_t at = kFormHeader; end >= at && end - at >= kChunkHeader;) {
    const unsigned char* id = data + at;
    const std::uint64_t length = be32_at(id + 4);
    const std::size_t payload = at + kChunkHeader;
    if (length > end - payload) break;
    if (is_id(id, "CMAP")) {
      colours = id + kChunkHeader;
      *bytes = static_cast<std::size_t>(length);
      if (body_met) break;
    } else if (is_id(id, "BODY")) {
      if (colours) break;
      body_met = true;
    }
    const std::uint64_t next = payload + length + (length & 1);
    if (next > end) break;
    at = static_cast<std::size_t>(next);
  }
  return colours;
}

HeaderWalk::Step HeaderWalk::start(const unsigned char* data, std::size_t size, bool last) {
  *this = HeaderWalk();
  if (size < kFormHeader || !is_id(data, "FORM")) return Step::Malformed;
  pbm_ = is_id(data + 8, "PBM ");
  if (!pbm_ && !is_id(data + 8, "ILBM")) return Step::Malformed;
  form_end_ = 8 + be32_at(data + 4);
  if (form_end_ < kFormHeader) return Step::Malformed;
  at_ = kFormHeader;
  return walk(data + kFormHeader, size - kFormHeader, last);
}

void HeaderWalk::pass_zeros(std::uint64_t end) {
  if (end > form_end_) end = form_end_;
  if (end > at_) at_ += (end - at_) / kChunkHeader * kChunkHeader;
}

Header HeaderWalk::header() const {
  Header header = bmhd_;
  header.camg = camg_;
  return header;
}

// `data` holds the file's bytes from at_ on. Nothing but the chunk headers
// and the BMHD and CAMG payloads is looked at, so this loop is all that a
// long run of chunks costs.
HeaderWalk::Step HeaderWalk::walk(const unsigned char* data, std::size_t size, bool last) {
  const std::uint64_t base = at_;
  for (;;) {
    if (form_end_ - at_ < kChunkHeader) return Step::Ended;
    const std::uint64_t offset = at_ - base;
    const std::uint64_t given = offset < size ? size - offset : 0;
    if (given < kChunkHeader) return last ? Step::Ended : Step::NeedBytes;
    const unsigned char* id = data + offset;
    // Once the BODY starts, the header in force is known, however long it is.
    if (is_id(id, "BODY")) return has_bmhd_ ? Step::Body : Step::Malformed;
    const std::uint64_t length = be32_at(id + 4);
    const std::uint64_t payload = at_ + kChunkHeader;
    if (length > form_end_ - payload) return Step::Ended;
    // A chunk whose size differs from its layout's has no clear meaning.
    const bool bmhd = is_id(id, "BMHD");
    const bool camg = is_id(id, "CAMG");
    if ((bmhd && length != kBmhdSize) || (camg && length != kCamgSize)) return Step::Malformed;
    if ((bmhd || camg) && given - kChunkHeader < length) {
      return last ? Step::Ended : Step::NeedBytes;
    }
    if (bmhd) {
      bmhd_ = read_bmhd(id + kChunkHeader, pbm_, 0);
      has_bmhd_ = true;
    } else if (camg) {
      camg_ = be32_at(id + kChunkHeader);
    }
    // Every chunk is padded to even length, whatever its kind.
    const std::uint64_t next = payload + length + (length & 1);
    if (next >= form_end_) return Step::Ended;
    at_ = next;
  }
}

bool read_header(const unsigned char* data, std::size_t size, Header* header, bool* settled) {
  HeaderWalk walk;
  const HeaderWalk::Step step = walk.start(data, size, false);
  *settled = step != HeaderWalk::Step::NeedBytes;
  if (step == HeaderWalk::Step::Malformed || !walk.has_header()) return false;
  *header = walk.header();
  return true;
}

}  // namespace lbm
