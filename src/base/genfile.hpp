// File-name routines shared by the readers, and reading a text stream line by line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <source_location>

// Whether a status query on path succeeds (nothing is opened).
bool fileexists(const char *path);
// A new string "name.suffix", allocated on behalf of the caller; the caller frees it.
char *addsuffix(const char *name, const char *suffix,
                std::source_location where = std::source_location::current());
// A new string with the last component of path: trailing slashes are dropped (a lone "/"
// stays "/"), an empty path gives ".". The caller frees it.
char *getbasename(const char *path);

// A reusable line buffer; a zero-initialised one is empty. Release with freelinebuffer.
struct LineBuffer {
  char *text;  // NUL-terminated after every successful readfileline
  uint64_t length;
  uint64_t allocated;
};
void freelinebuffer(LineBuffer *line);

// Reads the next line of stream into line (replacing its content), without the newline:
// 0, or -1 at the end of the file when nothing was read. A last line without a newline is
// delivered like any other. With a maximum length, a line longer than that stops the reading
// at that point and gives -2 (line holds the first maxlength characters).
int readfileline(FILE *stream, LineBuffer *line,
                 std::source_location where = std::source_location::current());
int readfileline(FILE *stream, LineBuffer *line, uint64_t maxlength,
                 std::source_location where = std::source_location::current());
