// What the three motif readers share: a line cursor over the file's text, words and count
// tokens, and the sink that checks a finished motif and keeps or skips it. Private to the
// readers of src/motifconv.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "motifconv/motif.hpp"

// The text line by line; every line is handed out without its newline and without a
// carriage return before it.
struct LineCursor {
  std::string_view text;
  size_t pos;     // start of the next line
  uint64_t line;  // number of the line last handed out (0 before the first)
};

// The next line in *ret_line, or false at the end of the text.
bool nextline(LineCursor *cursor, std::string_view *ret_line);
// Looks at the next line without taking it.
bool peekline(const LineCursor *cursor, std::string_view *ret_line);

inline bool isblankbyte(char c) { return c == ' ' || c == '\t'; }
inline bool isletterbyte(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
inline bool isdigitbyte(char c) { return c >= '0' && c <= '9'; }
// Characters that may start a number.
inline bool isnumberstart(char c) { return isdigitbyte(c) || c == '.' || c == '-' || c == '+'; }

std::string_view trimblanks(std::string_view text);
bool isblankline(std::string_view line);
bool startswith(std::string_view text, std::string_view prefix);
// The words of text, separated by blanks.
std::vector<std::string_view> splitwords(std::string_view text);

// "`word' " followed by the text: a problem that quotes the input.
std::string quotedword(std::string_view word, const char *text);

// A decimal number ("12", "0.796178", "1e-3", "+4"), read whole; false for anything else,
// for numbers beyond the range of double and for infinities and NaN.
bool readnumber(std::string_view token, double *ret_value);

// Column letters must be letters and differ also when upper and lower case are not told
// apart (sequence alphabets fold case); the problem, or an empty text.
std::string letterproblem(std::string_view letters);

// Collects the motifs of one file.
struct MotifSink {
  const char *filename;
  std::vector<Motif> *motifs;
  uint64_t found;    // motifs met in the file, kept or skipped
  uint64_t skipped;
};

// Ends a motif. With a problem (found by the reader at problemline) or one found by the checks
// of its counts, the motif is skipped with a warning; otherwise it is kept.
void finishmotif(MotifSink *sink, Motif *motif, const std::string &problem, uint64_t problemline);

// Reports "Parsing error in file `%s', line %lu: %s." and returns -1.
int layouterror(const MotifSink *sink, uint64_t line, const char *reason);

// The readers of each format, over the whole text.
int readjaspar(LineCursor *cursor, MotifSink *sink);
int readtransfac(LineCursor *cursor, MotifSink *sink);
int readmeme(LineCursor *cursor, MotifSink *sink);

// The motif's name from the file name, for files that name none: the base name without a
// ".gz" ending and then without its last extension.
std::string namefromfile(const char *filename);
