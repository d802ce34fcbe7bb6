// Line-by-line reading of a converter's input: lines of up to maxconverterline characters,
// numbered from 1, seen the way the C string routines see them (up to the first NUL byte),
// without their newline. A longer line ends the reading instead of being held in memory.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

// Far beyond any line of the formats, which are a few hundred characters at most.
constexpr size_t maxconverterline = 65536;

struct LineReader {
  std::FILE *stream = nullptr;
  char *buffer = nullptr;  // maxconverterline + 2 bytes, allocated on the first line
  size_t capacity = 0;
  std::string_view text;    // the current line, without its newline
  bool hasnewline = false;  // whether the current line ended with a newline
  unsigned long number = 0; // line number of the current line
  bool failed = false;      // a read error (not the end of the file) stopped the reading
  bool toolong = false;     // line number + 1 is longer than maxconverterline: reading stopped
};

// Reads the next line: true, or false at the end of the file, after a read error or at a line
// longer than maxconverterline (then text is empty and failed and toolong tell them apart).
inline bool readline(LineReader *reader) {
  if (reader->buffer == nullptr) {
    reader->capacity = maxconverterline + 2;
    reader->buffer = static_cast<char *>(std::malloc(reader->capacity));
    if (reader->buffer == nullptr) {
      std::fputs("out of memory\n", stderr);
      std::exit(EXIT_FAILURE);
    }
  }
  reader->text = std::string_view();
  reader->hasnewline = false;
  size_t length = 0;
  for (int c; (c = getc_unlocked(reader->stream)) != EOF;) {
    reader->buffer[length++] = static_cast<char>(c);
    if (c == '\n') break;
    if (length > maxconverterline) {
      reader->toolong = true;
      return false;
    }
  }
  if (length == 0) {
    reader->failed = std::ferror(reader->stream) != 0;
    return false;
  }
  reader->buffer[length] = '\0';
  reader->number++;
  reader->hasnewline = reader->buffer[length - 1] == '\n';
  reader->text = std::string_view(reader->buffer, std::strlen(reader->buffer));
  if (!reader->text.empty() && reader->text.back() == '\n') reader->text.remove_suffix(1);
  return true;
}

inline void freelinereader(LineReader *reader) {
  std::free(reader->buffer);
  reader->buffer = nullptr;
  reader->capacity = 0;
  reader->text = std::string_view();
}

inline bool startswith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

inline bool isspacechar(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The first word of text as "%s" reads it: leading white space skipped, up to the next white
// space. Empty when text holds no word.
inline std::string_view firstword(std::string_view text) {
  size_t start = 0;
  while (start < text.size() && isspacechar(text[start])) start++;
  size_t stop = start;
  while (stop < text.size() && !isspacechar(text[stop])) stop++;
  return text.substr(start, stop - start);
}

// A decimal integer at the start of text as "%d" reads it: leading white space, an optional
// sign, at least one digit; the digits end at the first other character. False when there is
// no digit or the value does not fit an int.
inline bool readint(std::string_view text, int *ret_value) {
  size_t i = 0;
  while (i < text.size() && isspacechar(text[i])) i++;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const size_t firstdigit = i;
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; i++) {
    value = value * 10 + (text[i] - '0');
    if (value > 2147483648LL) return false;
  }
  if (i == firstdigit) return false;
  if (negative) value = -value;
  if (value > 2147483647LL || value < -2147483648LL) return false;
  *ret_value = static_cast<int>(value);
  return true;
}
