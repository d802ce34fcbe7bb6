// Reading a gzip-compressed file in two passes: the first adds up the decompressed length,
// the second decompresses into a buffer of exactly that length, so the content is never
// copied or regrown.
#include "base/readgzip.hpp"

#include <zlib.h>

#include <cerrno>

#include "base/error.hpp"

namespace {

constexpr unsigned measureblock = 16384;
// The stream's own input buffer; larger than zlib's default to cut the number of reads.
constexpr unsigned inputbuffer = 131072;
// gzread counts in unsigned int and answers in int: long contents are read in pieces.
constexpr uint64_t readpiece = UINT64_C(1) << 30;

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

bool closegzip(gzFile file, const char *path) {
  if (gzclose(file) != Z_OK) {
    reporttext("cannot close gzipped file \"%s\"", path);
    return false;
  }
  return true;
}

}  // namespace

unsigned char *readgzipfile(const char *path, uint64_t *ret_length, std::source_location where) {
  gzFile file = opengzip(path);
  if (file == nullptr) return nullptr;
  uint64_t length = 0;
  unsigned char block[measureblock];
  for (;;) {
    const int got = gzread(file, block, measureblock);
    if (got < 0) {
      reportreaderror(file, path);
      gzclose(file);
      return nullptr;
    }
    if (got == 0) break;
    length += static_cast<uint64_t>(got);
  }
  if (!closegzip(file, path)) return nullptr;

  // Never allocate zero bytes: an empty content still gets a (terminating) byte.
  unsigned char *buffer = allocorexit_at<unsigned char>(nullptr, length + 1, where.file_name(),
                                                        where.line());
  file = opengzip(path);
  if (file == nullptr) {
    std::free(buffer);
    return nullptr;
  }
  uint64_t filled = 0;
  while (filled < length) {
    const uint64_t want = (length - filled < readpiece) ? length - filled : readpiece;
    const int got = gzread(file, buffer + filled, static_cast<unsigned>(want));
    if (got < 0) {
      reportreaderror(file, path);
      gzclose(file);
      std::free(buffer);
      return nullptr;
    }
    if (got == 0) break;  // the file shrank between the passes
    filled += static_cast<uint64_t>(got);
  }
  if (!closegzip(file, path)) {
    std::free(buffer);
    return nullptr;
  }
  buffer[filled] = '\0';
  *ret_length = filled;
  return buffer;
}
