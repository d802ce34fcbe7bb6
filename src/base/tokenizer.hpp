// A cursor over a text held in memory and the tokens the library and frequency file readers
// share: blank skipping, comment and empty lines, integer and floating-point tokens of at most
// 127 characters, and tag values that run to the end of the line.
#pragma once

#include <cstdint>

// The text runs from pos to end (exclusive); line counts the newlines consumed, from 1.
struct TextCursor {
  const char *pos;
  const char *end;
  uint64_t line;
};

// The longest number token that can be read.
constexpr uint64_t maxtokenlength = 127;

inline bool isblankchar(char c) { return c == ' ' || c == '\t'; }
inline bool atend(const TextCursor *cursor) { return cursor->pos >= cursor->end; }
// True at the end of the text or on a newline.
inline bool atendofline(const TextCursor *cursor) {
  return cursor->pos >= cursor->end || *cursor->pos == '\n';
}

// Moves past spaces and tabs (never past a newline).
void skipblanks(TextCursor *cursor);
// Moves past the rest of the line and its newline (if any), counting it.
void skipline(TextCursor *cursor);
// Moves past empty lines and lines whose first character is '#'. A line of blanks is neither.
void skipcommentlines(TextCursor *cursor);
// True when the text at the cursor starts with the keyword (byte by byte); does not move.
bool lookingat(const TextCursor *cursor, const char *keyword);

// The token readers return null on success and leave the cursor after the token. On failure
// they return the reason ("numeric value expected" or "input too long") and leave the cursor
// at the position of the fault. A token ends at a blank, a newline or the end of the text; a
// character outside the token's set before that end makes it invalid.

// A decimal integer made of digits (and '-' when allowminus), converted as by "%ld": the
// conversion stops at the first character it cannot use ("1-2" reads 1), a token that yields
// no number fails.
const char *readintegertoken(TextCursor *cursor, bool allowminus, int64_t *ret_value);
// A floating-point number made of digits, '+', '-', '.', 'e' and 'E', converted as by "%lf".
const char *readfloattoken(TextCursor *cursor, double *ret_value);
// The rest of the line, verbatim, without its newline: "empty tag" when it is empty. The cursor
// is left on the newline (or at the end of the text).
const char *readtagvalue(TextCursor *cursor, const char **ret_start, uint64_t *ret_length);
