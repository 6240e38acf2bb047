#include "colormap/run.h"

#include <allegro.h>

#include <cstdarg>
#include <vector>

namespace {

std::string format_message(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (length <= 0) return std::string();
  std::vector<char> text(static_cast<size_t>(length) + 1);
  std::vsnprintf(text.data(), text.size(), format, args);
  return std::string(text.data(), static_cast<size_t>(length));
}

// The library formats every message into a 4096-byte buffer and cuts what
// does not fit; long paths are sent in pieces so the line arrives whole.
// Text is plain bytes to the library, so a piece may end anywhere.
void send_message(const std::string& text) {
  constexpr std::size_t kPiece = 2048;
  for (std::size_t start = 0; start < text.size(); start += kPiece) {
    allegro_message("%s", text.substr(start, kPiece).c_str());
  }
}

}  // namespace

void report(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = format_message(format, args);
  va_end(args);
  send_message(text);
}

void close_run_streams(RunStreams& streams) {
  streams.ini.close();
  if (streams.output) {
    std::fclose(streams.output);
    platform::move_messages_past_output(streams.output_identity);
  }
  streams.output = nullptr;
}

bool fail_run(RunStreams& streams, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = format_message(format, args);
  va_end(args);
  close_run_streams(streams);
  send_message(text);
  return false;
}

bool fail_write(RunStreams& streams, const RunSettings& settings) {
  return fail_run(streams, "ERROR. Can't write file \"%s\".\n", settings.output_path.c_str());
}
