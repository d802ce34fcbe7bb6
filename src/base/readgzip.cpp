// Reading a gzip-compressed file in one pass into a buffer sized from the gzip trailer where
// the file has one, grown as needed otherwise (pipes, fifos, multi-member files).
#include "base/readgzip.hpp"

#include <zlib.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/error.hpp"
#include "base/mapfile.hpp"

namespace {

constexpr uint64_t firstallocation = UINT64_C(1) << 16;
// The stream's own input buffer; larger than zlib's default to cut the number of reads.
constexpr unsigned inputbuffer = 131072;
// gzread counts in unsigned int and answers in int: long contents are read in pieces.
constexpr uint64_t readpiece = UINT64_C(1) << 30;
constexpr uint64_t textpiece = UINT64_C(1) << 20;

gzFile opengzip(const char *path) {
  errno = 0;
  gzFile file = gzopen(path, "rb");
  if (file == nullptr) {
    if (errno != 0) {
      reporttext("error when uncompressing file \"%s\": cannot open file \"%s\"", path, path);
    } else {
      reporttext("error when uncompressing file \"%s\": not enough memory to allocate the "
                 "decompression state",
                 path);
    }
    return nullptr;
  }
  gzbuffer(file, inputbuffer);
  return file;
}

void reportreaderror(gzFile file, const char *path) {
  int errnum = 0;
  const char *text = gzerror(file, &errnum);
  if (errnum == Z_ERRNO) {
    reporttext("file system error when decompressing file \"%s\"", path);
  } else {
    reporttext("error when decompressing file \"%s\": %s", path, text);
  }
}

// The uncompressed length a regular gzip file records in its last four bytes, or 0 when the
// file is no regular file or too short to hold a trailer.
uint64_t recordedlength(const char *path) {
  struct stat status;
  if (stat(path, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size < 18) return 0;
  const int fd = open(path, O_RDONLY);
  if (fd < 0) return 0;
  unsigned char trailer[4];
  const bool read = pread(fd, trailer, 4, status.st_size - 4) == 4;
  close(fd);
  if (!read) return 0;
  const uint64_t recorded = uint64_t(trailer[0]) | uint64_t(trailer[1]) << 8 |
                            uint64_t(trailer[2]) << 16 | uint64_t(trailer[3]) << 24;
  // Deflate expands by at most about 1032 to 1: a damaged trailer claims no more than that.
  return std::min(recorded, static_cast<uint64_t>(status.st_size) * 1032);
}

// Per thread: calls of several threads read files at once.
thread_local bool endedearly = false;

bool closegzip(gzFile file, const char *path) {
  const int closed = gzclose(file);
  endedearly = closed == Z_BUF_ERROR;
  if (closed != Z_OK) {
    reporttext("cannot close gzipped file \"%s\"", path);
    return false;
  }
  return true;
}

}  // namespace

namespace {

// Follows the lines of a text as it is read: the number of the current line and the bytes of
// it seen so far.
struct TextCheck {
  uint64_t maxline;  // 0: no check
  uint64_t line = 1;
  uint64_t linelength = 0;

  // Looks at the next bytes: false with the message set when they break the rule.
  bool accept(const unsigned char *bytes, uint64_t length, const char *path) {
    for (uint64_t i = 0; i < length; i++) {
      if (bytes[i] == '\n') {
        line++;
        linelength = 0;
        continue;
      }
      if (bytes[i] == '\0') {
        reporttext("line %lu of file \"%s\" holds a NUL byte: no text",
                   static_cast<unsigned long>(line), path);
        return false;
      }
      if (++linelength > maxline) {
        reporttext("line %lu of file \"%s\" is longer than %lu bytes",
                   static_cast<unsigned long>(line), path, static_cast<unsigned long>(maxline));
        return false;
      }
    }
    return true;
  }
};

unsigned char *readgzip(const char *path, uint64_t maxline, uint64_t *ret_length,
                        std::source_location where) {
  endedearly = false;
  gzFile file = opengzip(path);
  if (file == nullptr) return nullptr;
  // One pass into a growing buffer, so that a pipe or a fifo is read as well as a file. The
  // first allocation takes the length a regular file's gzip trailer records (modulo 2^32), so
  // that a single-member file of up to 4 GiB is read without regrowing.
  uint64_t allocated = std::max<uint64_t>(recordedlength(path), firstallocation) + 1;
  unsigned char *buffer =
      allocorexit_at<unsigned char>(nullptr, allocated, where.file_name(), where.line());
  advisehugepages(buffer, allocated);
  uint64_t filled = 0;
  const auto failed = [&]() -> unsigned char * {
    reportreaderror(file, path);
    gzclose(file);
    std::free(buffer);
    return nullptr;
  };
  TextCheck check{maxline};
  const auto refused = [&]() -> unsigned char * {
    gzclose(file);
    std::free(buffer);
    return nullptr;
  };
  for (;;) {
    if (filled + 1 == allocated) {
      // Full: most often exactly at the end the trailer promised. A small probe read tells
      // before the buffer is grown (and copied) for nothing.
      unsigned char probe[4096];
      const int probed = gzread(file, probe, sizeof probe);
      if (probed < 0) return failed();
      if (probed == 0) break;
      if (maxline != 0 && !check.accept(probe, static_cast<uint64_t>(probed), path))
        return refused();
      allocated += std::max<uint64_t>(allocated / 2, sizeof probe);
      buffer = allocorexit_at<unsigned char>(buffer, allocated, where.file_name(), where.line());
      std::memcpy(buffer + filled, probe, static_cast<size_t>(probed));
      filled += static_cast<uint64_t>(probed);
      continue;
    }
    const uint64_t room = allocated - 1 - filled;
    // A checked text is read in smaller pieces, so that a file that breaks the rule is
    // refused before much of it is held.
    const uint64_t piece = maxline != 0 ? textpiece : readpiece;
    const uint64_t want = room < piece ? room : piece;
    const int got = gzread(file, buffer + filled, static_cast<unsigned>(want));
    if (got < 0) return failed();
    if (got == 0) break;
    if (maxline != 0 && !check.accept(buffer + filled, static_cast<uint64_t>(got), path))
      return refused();
    filled += static_cast<uint64_t>(got);
  }
  if (!closegzip(file, path)) {
    std::free(buffer);
    return nullptr;
  }
  // Never allocate zero bytes: an empty content still gets a (terminating) byte.
  if (filled + 1 < allocated) {
    buffer = allocorexit_at<unsigned char>(buffer, filled + 1, where.file_name(), where.line());
  }
  buffer[filled] = '\0';
  *ret_length = filled;
  return buffer;
}
}  // namespace

unsigned char *readgzipfile(const char *path, uint64_t *ret_length, std::source_location where) {
  return readgzip(path, 0, ret_length, where);
}

unsigned char *readgziptext(const char *path, uint64_t maxline, uint64_t *ret_length,
                            std::source_location where) {
  return readgzip(path, maxline, ret_length, where);
}

bool gzipendedearly() { return endedearly; }
