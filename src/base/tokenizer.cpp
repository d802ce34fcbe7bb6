// Blank skipping and the number and tag-value tokens of the library and frequency readers.
#include "base/tokenizer.hpp"

#include <cstdio>
#include <cstring>

namespace {

bool integercharacter(char c, bool allowminus) {
  return (c >= '0' && c <= '9') || (allowminus && c == '-');
}

bool floatcharacter(char c) {
  return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E';
}

bool tokenend(const TextCursor *cursor) {
  return cursor->pos >= cursor->end || isblankchar(*cursor->pos) || *cursor->pos == '\n';
}

// Copies the token at the cursor into buffer (maxtokenlength + 1 bytes, NUL-terminated).
// On failure the cursor stays at the offending character.
template <typename Accept>
const char *collecttoken(TextCursor *cursor, Accept accept, char *buffer) {
  uint64_t length = 0;
  while (!tokenend(cursor)) {
    if (!accept(*cursor->pos)) return "numeric value expected";
    if (length == maxtokenlength) return "input too long";
    buffer[length++] = *cursor->pos++;
  }
  buffer[length] = '\0';
  return nullptr;
}

}  // namespace

void skipblanks(TextCursor *cursor) {
  while (cursor->pos < cursor->end && isblankchar(*cursor->pos)) cursor->pos++;
}

void skipline(TextCursor *cursor) {
  const void *newline = std::memchr(cursor->pos, '\n', cursor->end - cursor->pos);
  if (newline == nullptr) {
    cursor->pos = cursor->end;
  } else {
    cursor->pos = static_cast<const char *>(newline) + 1;
    cursor->line++;
  }
}

void skipcommentlines(TextCursor *cursor) {
  while (cursor->pos < cursor->end) {
    if (*cursor->pos == '\n') {
      cursor->pos++;
      cursor->line++;
    } else if (*cursor->pos == '#') {
      skipline(cursor);
    } else {
      break;
    }
  }
}

bool lookingat(const TextCursor *cursor, const char *keyword) {
  const size_t length = std::strlen(keyword);
  return static_cast<size_t>(cursor->end - cursor->pos) >= length &&
         std::memcmp(cursor->pos, keyword, length) == 0;
}

const char *readintegertoken(TextCursor *cursor, bool allowminus, int64_t *ret_value) {
  char buffer[maxtokenlength + 1];
  const char *start = cursor->pos;
  const char *reason =
      collecttoken(cursor, [allowminus](char c) { return integercharacter(c, allowminus); },
                   buffer);
  if (reason != nullptr) return reason;
  long value;
  if (std::sscanf(buffer, "%ld", &value) != 1) {
    cursor->pos = start;
    return "numeric value expected";
  }
  *ret_value = value;
  return nullptr;
}

const char *readfloattoken(TextCursor *cursor, double *ret_value) {
  char buffer[maxtokenlength + 1];
  const char *start = cursor->pos;
  const char *reason = collecttoken(cursor, floatcharacter, buffer);
  if (reason != nullptr) return reason;
  if (std::sscanf(buffer, "%lf", ret_value) != 1) {
    cursor->pos = start;
    return "numeric value expected";
  }
  return nullptr;
}

const char *readtagvalue(TextCursor *cursor, const char **ret_start, uint64_t *ret_length) {
  const char *start = cursor->pos;
  const void *newline = std::memchr(start, '\n', cursor->end - start);
  const char *stop = newline == nullptr ? cursor->end : static_cast<const char *>(newline);
  if (stop == start) return "empty tag";
  *ret_start = start;
  *ret_length = static_cast<uint64_t>(stop - start);
  cursor->pos = stop;
  return nullptr;
}
