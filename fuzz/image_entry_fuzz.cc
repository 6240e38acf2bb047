// libFuzzer harness for the image gate. The first input byte picks the
// format (its extension), the rest is the file. Whatever the gate lets
// through goes on to load_bitmap and the pixel loop, the work image_entry.cc
// does after the gate, so that a file the gate wrongly accepts shows up as a
// crash, a sanitizer report or a bitmap the tool could not use.
#include <allegro.h>
#include <sanitizer/common_interface_defs.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "colormap/image_gate.h"

namespace {

const char* const kExtensions[] = {"bmp", "lbm", "pcx", "tga"};
constexpr long long kMaxPixels = 1LL << 24;

volatile unsigned g_sink;  // keeps the pixel loop
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
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/image_gate_fuzz_XXXXXX";
  if (!mkdtemp(&pattern[0])) std::abort();
  g_folder = pattern;
  for (int i = 0; i < 4; ++i) g_paths[i] = g_folder + "/input." + kExtensions[i];
  std::atexit(remove_folder);
  __sanitizer_set_death_callback(remove_folder);  // crashes keep their input in the artifacts
}

bool write_file(const std::string& path, const std::uint8_t* data, std::size_t size) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  const bool written = std::fwrite(data, 1, size, file) == size;
  return std::fclose(file) == 0 && written;
}

// The work of write_image_entry once the gate has passed the file.
void load_and_read(const char* path) {
  BITMAP* image = load_bitmap(path, nullptr);
  if (!image) return;
  const long long pixels = static_cast<long long>(image->w) * image->h;
  // The gate promises a size the tool can use.
  if (image->w < 1 || image->h < 1 || pixels > kMaxPixels) std::abort();
  if (pixels == 256 && bitmap_color_depth(image) == 8) {
    for (int y = 0; y < image->h; ++y) {
      for (int x = 0; x < image->w; ++x) {
        const int value = getpixel(image, x, y);
        if (value < 0 || value > 255) std::abort();
        g_sink = g_sink + static_cast<unsigned>(value);
      }
    }
  }
  destroy_bitmap(image);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool started = (start(), true);
  (void)started;
  if (size < 1) return 0;
  const std::string& path = g_paths[data[0] & 3];
  if (!write_file(path, data + 1, size - 1)) std::abort();
  ImageFormat format;
  if (!image_format_of(path.c_str(), &format)) std::abort();
  if (image_passes_gate(path.c_str(), format)) load_and_read(path.c_str());
  return 0;
}
