// BGZF-compressed tables through a stream (fopencookie over htslib's BGZF writer), and their
// tabix index.
#include "zelko/compressedfile.hpp"

#include <htslib/bgzf.h>
#include <htslib/tbx.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

ssize_t writecompressed(void *cookie, const char *bytes, size_t length) {
  CompressedStream *compressed = static_cast<CompressedStream *>(cookie);
  if (bgzf_write(compressed->bgzf, bytes, length) != static_cast<ssize_t>(length)) {
    if (compressed->error == 0) compressed->error = errno != 0 ? errno : EIO;
    errno = compressed->error;
    return -1;
  }
  return static_cast<ssize_t>(length);
}

// Closing the stream closes the compressor, whose last block and end marker go out then.
int closecompressed(void *cookie) {
  CompressedStream *compressed = static_cast<CompressedStream *>(cookie);
  errno = 0;
  const int closed = bgzf_close(compressed->bgzf);
  compressed->bgzf = nullptr;
  if (closed != 0 && compressed->error == 0) compressed->error = errno != 0 ? errno : EIO;
  return compressed->error == 0 ? 0 : -1;
}

}  // namespace

int compressedstream_open(int descriptor, uint64_t threads, CompressedStream *compressed) {
  const int copy = dup(descriptor);
  if (copy < 0) return -1;
  errno = 0;
  compressed->bgzf = bgzf_dopen(copy, "w");
  if (compressed->bgzf == nullptr) {
    const int error = errno != 0 ? errno : ENOMEM;
    close(copy);
    errno = error;
    return -1;
  }
  if (threads > 0) bgzf_mt(compressed->bgzf, static_cast<int>(threads), 256);
  cookie_io_functions_t functions{};
  functions.write = writecompressed;
  functions.close = closecompressed;
  compressed->stream = fopencookie(compressed, "w", functions);
  if (compressed->stream == nullptr) {
    const int error = errno;
    bgzf_close(compressed->bgzf);
    compressed->bgzf = nullptr;
    errno = error;
    return -1;
  }
  return 0;
}

int compressedstream_close(CompressedStream *compressed) {
  if (compressed->stream == nullptr) return 0;
  const int closed = std::fclose(compressed->stream);
  compressed->stream = nullptr;
  if (closed != 0 || compressed->error != 0) {
    errno = compressed->error != 0 ? compressed->error : EIO;
    return -1;
  }
  return 0;
}

bool compressedname(const char *path) {
  const size_t length = std::strlen(path);
  return length > 3 && std::strcmp(path + length - 3, ".gz") == 0;
}

int writetableindex(const std::string &path, IndexedTable table, uint64_t longest,
                    std::string *ret_message) {
  tbx_conf_t conf = tbx_conf_bed;
  if (table == INDEXED_GFF3) conf = tbx_conf_gff;
  if (table == INDEXED_TSV) {
    // sequence_name, start and stop (1-based, closed); the header row goes first.
    conf = tbx_conf_t{TBX_GENERIC, 3, 5, 6, '#', 1};
  }
  // A .tbi indexes positions below 2^29; longer sequences need a .csi.
  const int minshift = longest >= (uint64_t{1} << 29) ? 14 : 0;
  if (tbx_index_build(path.c_str(), minshift, &conf) != 0) {
    *ret_message = "cannot index `" + path + "' (" + (minshift > 0 ? ".csi" : ".tbi") +
                   "): the table is not in genome order, or a sequence name repeats";
    return -1;
  }
  return 0;
}
