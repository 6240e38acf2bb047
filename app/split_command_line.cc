#include "app/split_command_line.h"

#include <cstring>
#include <vector>

#include "colormap/rows.h"

namespace {

constexpr int kEntryPixels = 256;

// An argument as a usage error shows it: control characters (a newline,
// say) as \xHH, so that the message stays one line. Other bytes as given.
std::string shown(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += c;
    }
  }
  return out;
}

bool parse_format(const std::string& text, PictureFormat* format) {
  static const struct {
    const char* name;
    PictureFormat format;
  } kFormats[] = {
      {"BMP", PictureFormat::Bmp}, {"PCX", PictureFormat::Pcx}, {"TGA", PictureFormat::Tga}};
  for (const auto& known : kFormats) {
    if (equals_ignoring_case(text.c_str(), known.name)) {
      *format = known.format;
      return true;
    }
  }
  return false;
}

// Digits only, no sign, from 1 to 256.
bool parse_side(const std::string& text, int* side) {
  if (text.empty() || text.size() > 3) return false;
  int value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > kEntryPixels) return false;
  *side = value;
  return true;
}

// WIDTHxHEIGHT of 256 pixels.
std::string parse_shape(const std::string& text, SplitSettings* settings) {
  const std::size_t cross = text.find_first_of("xX");
  int width, height;
  if (cross == std::string::npos || !parse_side(text.substr(0, cross), &width) ||
      !parse_side(text.substr(cross + 1), &height)) {
    return "--shape \"" + shown(text) + "\": expected WIDTHxHEIGHT of 256 pixels, such as 16x16";
  }
  if (width * height != kEntryPixels) {
    return "--shape " + shown(text) + " is " + std::to_string(width * height) +
           " pixels; a picture of an entry holds 256 (16x16, 256x1, 32x8, ...)";
  }
  settings->width = width;
  settings->height = height;
  return std::string();
}

SplitCommand usage_error(std::string error) {
  SplitCommand command;
  command.action = SplitCommand::Action::UsageError;
  command.error = std::move(error);
  return command;
}

}  // namespace

SplitCommand parse_split_command_line(int argc, const char* const argv[]) {
  SplitCommand command;
  std::vector<std::string> operands;
  bool options_ended = false;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (options_ended || argument.size() < 2 || argument[0] != '-') {
      operands.push_back(argument);
      continue;
    }
    if (argument == "--") {
      options_ended = true;
      continue;
    }
    const std::size_t equals = argument.find('=');
    const std::string name = argument.substr(0, equals);
    const bool takes_value = name == "--format" || name == "--shape" || name == "--palette";
    if (name == "--help" || name == "--version" || name == "--force") {
      if (equals != std::string::npos) return usage_error(name + " takes no value");
      if (name == "--help") command.action = SplitCommand::Action::Help;
      if (name == "--version" && command.action != SplitCommand::Action::Help) {
        command.action = SplitCommand::Action::Version;
      }
      if (name == "--force") command.settings.force = true;
      continue;
    }
    if (!takes_value) return usage_error("unknown option \"" + shown(argument) + "\"");
    std::string value;
    if (equals != std::string::npos) {
      value = argument.substr(equals + 1);
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      return usage_error(name + " needs a value");
    }
    if (name == "--format") {
      if (!parse_format(value, &command.settings.format)) {
        return usage_error("--format \"" + shown(value) + "\": expected bmp, pcx or tga");
      }
    } else if (name == "--shape") {
      const std::string error = parse_shape(value, &command.settings);
      if (!error.empty()) return usage_error(error);
    } else {
      if (value.empty()) return usage_error("--palette needs a file");
      command.palette_path = value;
    }
  }
  if (command.action != SplitCommand::Action::Split) return command;
  if (operands.size() != 2) {
    return usage_error(operands.size() < 2 ? "expected COLORMAP and DIR"
                                           : "unexpected argument \"" + shown(operands[2]) + "\"");
  }
  command.settings.map_path = operands[0];
  command.settings.folder = operands[1];
  return command;
}
