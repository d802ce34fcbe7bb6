// Writer of the distribution file: records through a level-9 gzip stream into a temporary
// file that replaces the output file only when complete.
#include "statistics/distwriter.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/error.hpp"

namespace {

// gzwrite takes an unsigned length; tables are handed over in pieces well below it.
constexpr uint64_t largestwrite = UINT64_C(1) << 30;

// The temporary file of the writer in progress, removed should the process exit on a fatal
// error (an allocation failure) before the writer is finished or abandoned.
const char *pendingtemporary = nullptr;
bool cleanupregistered = false;

void removependingtemporary() {
  if (pendingtemporary != nullptr) unlink(pendingtemporary);
}

int openfailure(const char *filename, bool systemcause) {
  if (systemcause) return reporterror("Couldn't open probability distribution file `%s'.", filename);
  return reporterror("Couldn't open probability distribution file `%s' (out of memory).",
                     filename);
}

// Writes straight to the output name, as for a device or a pipe.
int opendirect(DistributionWriter *writer, const char *filename) {
  errno = 0;
  writer->descriptor = open(filename, O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (writer->descriptor < 0) return openfailure(filename, errno != 0);
  writer->finalname = copystring(filename);
  return 0;
}

// The permission bits a new file gets from the process's file-creation mask.
mode_t creationmode() {
  const mode_t mask = umask(0);
  umask(mask);
  return static_cast<mode_t>(0666 & ~mask);
}

}  // namespace

int distwriter_open(DistributionWriter *writer, const char *filename) {
  *writer = DistributionWriter{};
  writer->filename = filename;
  writer->descriptor = -1;
  struct stat link, target;
  const bool exists = lstat(filename, &link) == 0;
  const bool resolves = exists && stat(filename, &target) == 0;
  if (exists && (!resolves || !S_ISREG(target.st_mode))) return opendirect(writer, filename);

  // A link to a regular file: the file it names is replaced, the link stays.
  mode_t mode = creationmode();
  if (exists) {
    mode = target.st_mode & 07777;
    if (S_ISLNK(link.st_mode)) {
      char *resolved = realpath(filename, nullptr);
      if (resolved == nullptr) return openfailure(filename, true);
      writer->finalname = copystring(resolved);
      std::free(resolved);
    }
  }
  if (writer->finalname == nullptr) writer->finalname = copystring(filename);

  const size_t length = std::strlen(writer->finalname);
  writer->temporaryname = allocorexit<char>(nullptr, length + 8);
  std::memcpy(writer->temporaryname, writer->finalname, length);
  std::memcpy(writer->temporaryname + length, ".XXXXXX", 8);
  const int descriptor = mkstemp(writer->temporaryname);
  if (descriptor < 0) {
    freeandnull(writer->temporaryname);
    freeandnull(writer->finalname);
    return openfailure(filename, true);
  }
  if (!cleanupregistered) {
    std::atexit(removependingtemporary);
    cleanupregistered = true;
  }
  pendingtemporary = writer->temporaryname;
  fchmod(descriptor, mode);
  writer->descriptor = descriptor;
  return 0;
}

namespace {

bool describestable(const ScoreDistribution *distribution, double multiplier) {
  const uint64_t size = distribution->size;
  return size != 0 && distribution->tail != nullptr &&
         distribution->maximum >= distribution->minimum &&
         static_cast<uint64_t>(distribution->maximum - distribution->minimum) == size - 1 &&
         multiplier > 0.0 && multiplier <= 1000.0;
}

// The compressed stream of records appended one at a time, started on the first one.
int startstream(DistributionWriter *writer) {
  if (writer->file != nullptr) return 0;
  writer->file = gzdopen(writer->descriptor, "w9");
  if (writer->file == nullptr) return openfailure(writer->filename, false);
  writer->descriptor = -1;  // the stream owns it now
  return 0;
}

int writepiece(DistributionWriter *writer, const void *data, uint64_t length) {
  if (gzwrite(writer->file, data, static_cast<unsigned>(length)) != static_cast<int>(length)) {
    return reporterror("Failed to write %lu bytes to `%s'.", static_cast<unsigned long>(length),
                       writer->filename);
  }
  writer->written += length;
  return 0;
}

}  // namespace

int distwriter_append(DistributionWriter *writer, const ScoreDistribution *distribution,
                      double multiplier) {
  if (!describestable(distribution, multiplier)) return internalerror();
  if (startstream(writer) != 0) return -1;
  const int64_t header[3] = {distribution->minimum, distribution->maximum, distribution->offset};
  if (writepiece(writer, header, sizeof header) != 0) return -1;
  if (writepiece(writer, &multiplier, sizeof multiplier) != 0) return -1;
  const char *table = reinterpret_cast<const char *>(distribution->tail);
  const uint64_t bytes = distribution->size * sizeof(double);
  for (uint64_t done = 0; done < bytes;) {
    const uint64_t piece = std::min(bytes - done, largestwrite);
    if (writepiece(writer, table + done, piece) != 0) return -1;
    done += piece;
  }
  return 0;
}

int distwriter_finish(DistributionWriter *writer) {
  // A file without records is still one (empty) gzip stream.
  if (writer->file == nullptr && writer->descriptor >= 0 && !writer->complete &&
      startstream(writer) != 0) {
    distwriter_abandon(writer);
    return -1;
  }
  gzFile file = writer->file;
  writer->file = nullptr;
  bool failed = file != nullptr && gzclose(file) != Z_OK;
  if (writer->descriptor >= 0) {
    failed = close(writer->descriptor) != 0 || failed;
    writer->descriptor = -1;
  }
  if (!failed && writer->temporaryname != nullptr &&
      rename(writer->temporaryname, writer->finalname) != 0) {
    failed = true;
  }
  if (failed) {
    reporterror("Failed to write %lu bytes to `%s'.", static_cast<unsigned long>(writer->written),
                writer->filename);
    distwriter_abandon(writer);
    return -1;
  }
  pendingtemporary = nullptr;
  freeandnull(writer->temporaryname);
  freeandnull(writer->finalname);
  return 0;
}

void distwriter_abandon(DistributionWriter *writer) {
  if (writer->file != nullptr) {
    gzclose(writer->file);
    writer->file = nullptr;
  }
  if (writer->descriptor >= 0) {
    close(writer->descriptor);
    writer->descriptor = -1;
  }
  if (writer->temporaryname != nullptr) {
    unlink(writer->temporaryname);
    pendingtemporary = nullptr;
    freeandnull(writer->temporaryname);
  }
  freeandnull(writer->finalname);
}

// ---------------------------------------------------------------------------------------
// Records compressed apart (by the threads that computed them) and written in one go
//
// Each record is deflated at level 9 on its own and ends on a byte boundary with an empty
// stored block, so the records simply follow each other in one gzip member after the gzip
// header; one final empty block ends the stream, and the checksums of the records combine
// into the stream's.

namespace {

void putle32(unsigned char *at, uint32_t value) {
  for (int i = 0; i < 4; i++) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

// Writes all of data to the descriptor: false on failure.
bool writeall(int descriptor, const unsigned char *data, uint64_t length) {
  while (length > 0) {
    const ssize_t done = write(descriptor, data, std::min<uint64_t>(length, largestwrite));
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    data += done;
    length -= static_cast<uint64_t>(done);
  }
  return true;
}

// Compressed output of one record, grown as deflate fills it.
struct Output {
  unsigned char *data = nullptr;
  uint64_t length = 0;
  uint64_t allocated = 0;
};

// Feeds length bytes to the stream (flush at the end of the input), collecting the output.
bool deflateinto(z_stream *stream, const unsigned char *input, uint64_t length, int flush,
                 Output *output) {
  constexpr uint64_t piece = UINT64_C(1) << 30;  // avail_in is an unsigned int
  uint64_t done = 0;
  for (;;) {
    const uint64_t take = std::min(length - done, piece);
    const bool lastpiece = done + take == length;
    stream->next_in = const_cast<unsigned char *>(input + done);
    stream->avail_in = static_cast<uInt>(take);
    const int mode = lastpiece ? flush : Z_NO_FLUSH;
    do {
      if (output->allocated - output->length < 65536) {
        output->allocated = std::max<uint64_t>(2 * output->allocated, UINT64_C(1) << 20);
        output->data = allocorexit<unsigned char>(output->data, output->allocated);
      }
      const uint64_t room = std::min<uint64_t>(output->allocated - output->length, piece);
      stream->next_out = output->data + output->length;
      stream->avail_out = static_cast<uInt>(room);
      if (deflate(stream, mode) == Z_STREAM_ERROR) return false;
      output->length += room - stream->avail_out;
    } while (stream->avail_out == 0 || stream->avail_in > 0);
    done += take;
    if (lastpiece) return true;
  }
}

}  // namespace

int distwriter_compress_record(const ScoreDistribution *distribution, double multiplier,
                               CompressedRecord *ret_record) {
  *ret_record = CompressedRecord{};
  if (!describestable(distribution, multiplier)) return internalerror();
  const int64_t numbers[3] = {distribution->minimum, distribution->maximum, distribution->offset};
  unsigned char header[32];
  std::memcpy(header, numbers, sizeof numbers);
  std::memcpy(header + sizeof numbers, &multiplier, sizeof multiplier);
  const auto *table = reinterpret_cast<const unsigned char *>(distribution->tail);
  const uint64_t bytes = distribution->size * sizeof(double);

  z_stream stream{};
  if (deflateInit2(&stream, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    return internalerror();
  }
  Output output;
  const bool ok = deflateinto(&stream, header, sizeof header, Z_NO_FLUSH, &output) &&
                  deflateinto(&stream, table, bytes, Z_SYNC_FLUSH, &output);
  deflateEnd(&stream);
  if (!ok) {
    std::free(output.data);
    return internalerror();
  }
  uLong crc = crc32(0L, header, sizeof header);
  for (uint64_t done = 0; done < bytes;) {
    const uint64_t piece = std::min(bytes - done, largestwrite);
    crc = crc32(crc, table + done, static_cast<uInt>(piece));
    done += piece;
  }
  ret_record->data = allocorexit<unsigned char>(output.data, std::max<uint64_t>(output.length, 1));
  ret_record->compressedlength = output.length;
  ret_record->length = sizeof header + bytes;
  ret_record->crc = static_cast<uint32_t>(crc);
  return 0;
}

void distwriter_free_record(CompressedRecord *record) {
  freeandnull(record->data);
  *record = CompressedRecord{};
}

int distwriter_write_records(DistributionWriter *writer, CompressedRecord *records,
                             uint64_t count) {
  if (writer->file != nullptr || writer->descriptor < 0 || writer->complete) {
    return internalerror();
  }
  // A header that says level 9 (extra flags 2) and Unix, as a level-9 gzip stream has it.
  const unsigned char header[10] = {0x1f, 0x8b, 8, 0, 0, 0, 0, 0, 2, 3};
  // The final block: fixed codes, nothing but the end-of-block code.
  const unsigned char lastblock[2] = {3, 0};
  // A failure names the bytes of the record being written, or all bytes of the file when the
  // gzip header or the end of the stream is refused (as closing a record-by-record stream
  // whose data is still buffered does).
  bool ok = writeall(writer->descriptor, header, sizeof header);
  bool recordfailed = false;
  uint64_t failedbytes = 0;
  uint64_t total = 0;
  uint32_t crc = static_cast<uint32_t>(crc32(0L, Z_NULL, 0));
  for (uint64_t i = 0; i < count; i++) {
    CompressedRecord *record = &records[i];
    crc = static_cast<uint32_t>(
        crc32_combine(crc, record->crc, static_cast<z_off_t>(record->length)));
    total += record->length;
    if (ok) {
      ok = writeall(writer->descriptor, record->data, record->compressedlength);
      if (ok) writer->written += record->length;
      if (!ok) {
        recordfailed = true;
        failedbytes = record->length;
      }
    }
    distwriter_free_record(record);
  }
  unsigned char trailer[8];
  putle32(trailer, crc);
  putle32(trailer + 4, static_cast<uint32_t>(total));
  if (ok) {
    ok = writeall(writer->descriptor, lastblock, sizeof lastblock) &&
         writeall(writer->descriptor, trailer, sizeof trailer);
  }
  if (!recordfailed) failedbytes = total;
  writer->complete = true;
  if (!ok) {
    return reporterror("Failed to write %lu bytes to `%s'.",
                       static_cast<unsigned long>(failedbytes), writer->filename);
  }
  return 0;
}
