// File-name routines and line reading.
#include "base/genfile.hpp"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

#include "base/error.hpp"

bool fileexists(const char *path) {
  struct stat status;
  return stat(path, &status) == 0;
}

char *addsuffix(const char *name, const char *suffix, std::source_location where) {
  const size_t namelength = std::strlen(name);
  const size_t suffixlength = std::strlen(suffix);
  char *result = allocorexit_at<char>(nullptr, namelength + suffixlength + 2, where.file_name(),
                                      where.line());
  std::memcpy(result, name, namelength);
  result[namelength] = '.';
  std::memcpy(result + namelength + 1, suffix, suffixlength + 1);
  return result;
}

char *getbasename(const char *path) {
  const size_t length = std::strlen(path);
  char *copy = static_cast<char *>(std::malloc(length + 2));
  if (copy == nullptr) {
    std::fprintf(stderr, "getbasename: cannot allocate memory for copy of \"%s\"\n", path);
    std::exit(EXIT_FAILURE);
  }
  if (length == 0) {
    std::strcpy(copy, ".");
    return copy;
  }
  size_t end = length;
  while (end > 1 && path[end - 1] == '/') end--;
  size_t start = end;
  while (start > 0 && path[start - 1] != '/') start--;
  if (start == end) start = end - 1;  // the path was "/" (or only slashes)
  std::memcpy(copy, path + start, end - start);
  copy[end - start] = '\0';
  return copy;
}

void freelinebuffer(LineBuffer *line) {
  freeandnull(line->text);
  line->length = 0;
  line->allocated = 0;
}

int readfileline(FILE *stream, LineBuffer *line, std::source_location where) {
  return readfileline(stream, line, UINT64_MAX, where);
}

int readfileline(FILE *stream, LineBuffer *line, uint64_t maxlength,
                 std::source_location where) {
  line->length = 0;
  bool toolong = false;
  bool readanything = false;
  // Streams are read by one thread at a time: no per-character locking.
  for (;;) {
    const int c = getc_unlocked(stream);
    if (c == EOF) break;
    readanything = true;
    if (c == '\n') break;
    if (line->length == maxlength) {
      toolong = true;
      break;
    }
    if (line->length + 1 >= line->allocated) {
      line->allocated = line->allocated * 2 + 128;
      line->text = allocorexit_at<char>(line->text, line->allocated, where.file_name(),
                                        where.line());
    }
    line->text[line->length++] = static_cast<char>(c);
  }
  if (!readanything) return -1;
  if (line->text == nullptr) {
    line->allocated = 128;
    line->text = allocorexit_at<char>(nullptr, line->allocated, where.file_name(), where.line());
  }
  line->text[line->length] = '\0';
  return toolong ? -2 : 0;
}
