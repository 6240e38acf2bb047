#include "split/text_palette.h"

#include <cstring>
#include <string_view>

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kJascMagic = "JASC-PAL";
constexpr std::string_view kGimpMagic = "GIMP Palette";
constexpr std::size_t kMaxColours = 256;
constexpr char kColourProblem[] = "expected three numbers from 0 to 255";

// Hands out the lines of a text held in memory, line ends dropped.
class Lines {
 public:
  explicit Lines(std::string_view text) : text_(text) {
    if (text_.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
      text_.remove_prefix(kByteOrderMark.size());
    }
  }

  bool next(std::string_view* line) {
    if (text_.empty()) return false;
    ++number_;
    const std::size_t end = text_.find('\n');
    *line = text_.substr(0, end);
    text_.remove_prefix(end == std::string_view::npos ? text_.size() : end + 1);
    if (!line->empty() && line->back() == '\r') line->remove_suffix(1);
    return true;
  }

  long number() const { return number_; }

 private:
  std::string_view text_;
  long number_ = 0;
};

bool is_blank(char c) { return c == ' ' || c == '\t'; }

void skip_blanks(std::string_view* text) {
  while (!text->empty() && is_blank(text->front())) text->remove_prefix(1);
}

bool blank_line(std::string_view line) {
  skip_blanks(&line);
  return line.empty();
}

// A number of 1 to 3 digits, at most `max`, taken off the front of `text`.
bool take_number(std::string_view* text, unsigned max, unsigned* value) {
  std::size_t digits = 0;
  unsigned result = 0;
  while (digits < text->size() && (*text)[digits] >= '0' && (*text)[digits] <= '9') {
    if (++digits > 3) return false;
    result = result * 10 + static_cast<unsigned>((*text)[digits - 1] - '0');
  }
  if (digits == 0 || result > max) return false;
  text->remove_prefix(digits);
  *value = result;
  return true;
}

// Three channels separated by blanks, leading blanks allowed; `rest` gets
// what follows the third number.
bool take_colour(std::string_view line, unsigned char* rgb, std::string_view* rest) {
  skip_blanks(&line);
  for (int channel = 0; channel < 3; ++channel) {
    if (channel > 0) {
      if (line.empty() || !is_blank(line.front())) return false;
      skip_blanks(&line);
    }
    unsigned value;
    if (!take_number(&line, 255, &value)) return false;
    rgb[channel] = static_cast<unsigned char>(value);
  }
  *rest = line;
  return true;
}

bool fail(TextPaletteError* error, long line, std::string problem) {
  error->line = line;
  error->problem = std::move(problem);
  return false;
}

// JASC-PAL: the magic, the version 0100, the number of colours, then exactly
// that many lines of "R G B". Only blank lines may follow.
bool parse_jasc(Lines& lines, PaletteColours* colours, TextPaletteError* error) {
  std::string_view line;
  lines.next(&line);  // the magic, already checked
  if (!lines.next(&line) || line != "0100") return fail(error, 2, "expected the version \"0100\"");
  unsigned count = 0;
  const bool counted =
      lines.next(&line) && take_number(&line, kMaxColours, &count) && blank_line(line) && count > 0;
  if (!counted) return fail(error, 3, "expected the number of colours, from 1 to 256");
  const long count_line = lines.number();
  for (unsigned i = 0; i < count; ++i) {
    if (!lines.next(&line)) {
      return fail(error, lines.number() + 1,
                  "the file ends after " + std::to_string(i) + " of the " + std::to_string(count) +
                      " colours line " + std::to_string(count_line) + " gives");
    }
    std::string_view rest;
    if (!take_colour(line, &colours->rgb[3 * i], &rest) || !blank_line(rest)) {
      return fail(error, lines.number(), kColourProblem);
    }
  }
  colours->count = count;
  while (lines.next(&line)) {
    if (!blank_line(line)) {
      return fail(error, lines.number(),
                  "more colours than the " + std::to_string(count) + " line " +
                      std::to_string(count_line) + " gives");
    }
  }
  return true;
}

bool starts_with(std::string_view text, std::string_view start) {
  return text.substr(0, start.size()) == start;
}

// GIMP: the magic, then "Name:" and "Columns:" lines before the colours,
// comments (#) and blank lines anywhere, and colour lines of "R G B",
// optionally followed by blanks and a name.
bool parse_gimp(Lines& lines, PaletteColours* colours, TextPaletteError* error) {
  std::string_view line;
  lines.next(&line);  // the magic, already checked
  std::size_t count = 0;
  while (lines.next(&line)) {
    if (blank_line(line) || line.front() == '#') continue;
    if (count == 0 && starts_with(line, "Name:")) continue;
    if (count == 0 && starts_with(line, "Columns:")) {
      line.remove_prefix(std::strlen("Columns:"));
      skip_blanks(&line);
      unsigned columns;
      if (!take_number(&line, kMaxColours, &columns) || !blank_line(line)) {
        return fail(error, lines.number(), "expected the number of columns, from 0 to 256");
      }
      continue;
    }
    if (count == kMaxColours) return fail(error, lines.number(), "more than 256 colours");
    std::string_view rest;
    if (!take_colour(line, &colours->rgb[3 * count], &rest) ||
        !(rest.empty() || is_blank(rest.front()))) {
      return fail(error, lines.number(), std::string(kColourProblem) + ", then a name if any");
    }
    ++count;
  }
  if (count == 0) return fail(error, lines.number(), "no colours");
  colours->count = count;
  return true;
}

}  // namespace

TextPalette text_palette_kind(const char* text, std::size_t size) {
  std::string_view line;
  Lines lines(std::string_view(text, size));
  if (!lines.next(&line)) return TextPalette::None;
  if (line == kJascMagic) return TextPalette::Jasc;
  if (line == kGimpMagic) return TextPalette::Gimp;
  return TextPalette::None;
}

bool parse_text_palette(TextPalette kind, const char* text, std::size_t size,
                        PaletteColours* colours, TextPaletteError* error) {
  Lines lines(std::string_view(text, size));
  colours->count = 0;
  switch (kind) {
    case TextPalette::Jasc:
      return parse_jasc(lines, colours, error);
    case TextPalette::Gimp:
      return parse_gimp(lines, colours, error);
    case TextPalette::None:
      break;
  }
  return fail(error, 1, "expected \"JASC-PAL\" or \"GIMP Palette\"");
}
