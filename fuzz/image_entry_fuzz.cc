// libFuzzer harness for image rows: each input becomes a file that goes
// through read_image_entry, the one function that turns an image row into
// its entry in the tool (open, header and size, gate, rewrite, the
// library's loader; for LBM the tool's own IFF reader and the BMP it hands
// on), with the limits the tool runs with.
//
// Input: the first byte picks the extension (bits 0-1) and a hole of zeros
// to put in the file (bits 2-3: none, 64 KiB, 1 MiB or 1 GiB, made sparse),
// at the offset that the next two bytes give (little-endian, modulo the
// file's size). The rest is the file. Holes reach the files that are read
// in several blocks and those past the intake's cap, which a file of a few
// KiB cannot.
//
// Inputs follow one another as the rows of one list do, with the run's
// buffers reused. While a row is judged, no file may grow past 8 MiB: a
// row writes no file, and one that did would end with SIGXFSZ, which
// libFuzzer reports. Start with -malloc_limit_mb=8 to bound the
// heap too, and -timeout to catch time that is not linear in the bytes read.
#include <allegro.h>
#include <fcntl.h>
#include <sanitizer/common_interface_defs.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "colormap/image_entry.h"
#include "colormap/rows.h"

namespace {

const char* const kExtensions[] = {"bmp", "lbm", "pcx", "tga"};
const off_t kHoles[] = {0, off_t{64} << 10, off_t{1} << 20, off_t{1} << 30};
constexpr rlim_t kMaxFileSize = rlim_t{8} << 20;

std::string g_folder;
std::string g_paths[4];

void remove_folder() {
  for (const std::string& path : g_paths) unlink(path.c_str());
  rmdir(g_folder.c_str());
}

void start() {
  if (install_allegro(SYSTEM_NONE, &errno, std::atexit) != 0) std::abort();
  set_color_depth(8);
  set_color_conversion(COLORCONV_NONE);
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/image_entry_fuzz_XXXXXX";
  if (!mkdtemp(&pattern[0])) std::abort();
  g_folder = pattern;
  for (int i = 0; i < 4; ++i) g_paths[i] = g_folder + "/input." + kExtensions[i];
  std::atexit(remove_folder);
  __sanitizer_set_death_callback(remove_folder);  // crashes keep their input in the artifacts
}

bool write_all(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = write(fd, data, size);
    if (written <= 0) return false;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

// Writes data[0, split), the hole, then data[split, size).
bool write_file(const std::string& path, const std::uint8_t* data, std::size_t size,
                std::size_t split, off_t hole) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool written = write_all(fd, data, split) && lseek(fd, hole, SEEK_CUR) >= 0 &&
                 write_all(fd, data + split, size - split) &&
                 ftruncate(fd, static_cast<off_t>(size) + hole) == 0;
  return close(fd) == 0 && written;
}

void set_file_size_limit(rlim_t limit) {
  const struct rlimit bound = {limit, RLIM_INFINITY};
  if (setrlimit(RLIMIT_FSIZE, &bound) != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool started = (start(), true);
  (void)started;
  if (size < 1) return 0;
  const std::string& path = g_paths[data[0] & 3];
  const off_t hole = kHoles[data[0] >> 2 & 3];
  ++data;
  --size;
  std::size_t split = 0;
  if (hole > 0) {
    if (size < 2) return 0;
    data += 2;
    size -= 2;
    split = (data[-2] | data[-1] << 8) % (size + 1);
  }
  if (!write_file(path, data, size, split, hole)) std::abort();

  ImageFormat format;
  if (!image_format_of(path.c_str(), &format)) std::abort();
  const platform::FileIdentity no_output;
  // One run's state for all inputs, as for the rows of one list: the
  // buffers carry over from one image to the next.
  static ImageRun run;
  set_file_size_limit(kMaxFileSize);
  const ImageOutcome outcome = read_image_entry(path.c_str(), format, no_output, run);
  set_file_size_limit(RLIM_INFINITY);
  if (outcome.kind == ImageOutcome::Kind::IsOutput) std::abort();
  return 0;
}
