// Writer of the distribution file: records deflated at level 9 into one gzip member, then the
// chunk index, into a temporary file that replaces the output file only when complete.
#include "statistics/distwriter.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <zlib.h>

#include "base/error.hpp"

namespace {

// Single writes and deflate's input and output stay below this.
constexpr uint64_t largestwrite = UINT64_C(1) << 30;
// Compressed bytes are written out in blocks of this size as they come, like a gzip stream
// with the usual buffer, so that a write failure shows while the record that filled the
// block is put, and a small file is written as it is closed.
constexpr uint64_t outputblock = 8192;

// The temporary file of the writer in progress, removed should the process exit on a fatal
// error (an allocation failure) or be ended by an interrupt, a termination or a hangup
// before the writer is finished or abandoned.
const char *volatile pendingtemporary = nullptr;
bool cleanupregistered = false;

void removependingtemporary() {
  if (pendingtemporary != nullptr) unlink(pendingtemporary);
}

// Removes the temporary file, then lets the signal end the process as it would have.
extern "C" void removeonsignal(int signalnumber) {
  const char *temporary = pendingtemporary;
  if (temporary != nullptr) unlink(temporary);
  std::signal(signalnumber, SIG_DFL);
  std::raise(signalnumber);
}

// Signals that the process was started to ignore (a run under nohup) stay ignored.
void watchsignals() {
  for (int signalnumber : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction current {};
    if (sigaction(signalnumber, nullptr, &current) == 0 && current.sa_handler == SIG_IGN)
      continue;
    std::signal(signalnumber, removeonsignal);
  }
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
    watchsignals();
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
  uint64_t done = 0;
  for (;;) {
    const uint64_t take = std::min(length - done, largestwrite);
    const bool lastpiece = done + take == length;
    stream->next_in = const_cast<unsigned char *>(input + done);
    stream->avail_in = static_cast<uInt>(take);
    const int mode = lastpiece ? flush : Z_NO_FLUSH;
    do {
      if (output->allocated - output->length < 65536) {
        output->allocated = std::max<uint64_t>(2 * output->allocated, UINT64_C(1) << 20);
        output->data = allocorexit<unsigned char>(output->data, output->allocated);
      }
      const uint64_t room = std::min<uint64_t>(output->allocated - output->length, largestwrite);
      stream->next_out = output->data + output->length;
      stream->avail_out = static_cast<uInt>(room);
      if (deflate(stream, mode) == Z_STREAM_ERROR) return false;
      output->length += room - stream->avail_out;
    } while (stream->avail_out == 0 || stream->avail_in > 0);
    done += take;
    if (lastpiece) return true;
  }
}

uint32_t crcof(const unsigned char *data, uint64_t length) {
  uLong crc = crc32(0L, Z_NULL, 0);
  for (uint64_t done = 0; done < length;) {
    const uint64_t piece = std::min(length - done, largestwrite);
    crc = crc32(crc, data + done, static_cast<uInt>(piece));
    done += piece;
  }
  return static_cast<uint32_t>(crc);
}

// The bytes a failed write names: the record's tail table, as handed to the stream.
uint64_t tablebytes(const CompressedRecord *record) {
  return std::min(record->length - 32, largestwrite);
}

// Puts the gzip header, once.
void startmember(DistributionWriter *writer) {
  // A header that says level 9 (extra flags 2) and Unix, as a level-9 gzip stream has it.
  static constexpr unsigned char gzipheader[10] = {0x1f, 0x8b, 8, 0, 0, 0, 0, 0, 2, 3};
  if (writer->started) return;
  writer->pending.insert(writer->pending.end(), gzipheader, gzipheader + sizeof gzipheader);
  writer->fileoffset = sizeof gzipheader;
  writer->crc = static_cast<uint32_t>(crc32(0L, Z_NULL, 0));
  writer->started = true;
}

// Puts one record's compressed data and chunks at the end of the file and writes out what
// fills whole blocks.
int putrecord(DistributionWriter *writer, const CompressedRecord *record) {
  std::vector<unsigned char> &pending = writer->pending;
  startmember(writer);
  for (uint64_t i = 0; i < record->chunkcount; i++) {
    DistIndexChunk chunk = record->chunks[i];
    chunk.start += writer->fileoffset;
    writer->chunks.push_back(chunk);
  }
  writer->fileoffset += record->compressedlength;
  writer->crc = static_cast<uint32_t>(
      crc32_combine(writer->crc, record->crc, static_cast<z_off_t>(record->length)));
  writer->written += record->length;
  // The pending bytes completed to a block, then the record's whole blocks straight from its
  // data; what is left waits for the next record or the end.
  const unsigned char *data = record->data;
  uint64_t left = record->compressedlength;
  if (pending.size() + left < outputblock) {
    pending.insert(pending.end(), data, data + left);
    return 0;
  }
  const uint64_t fill = (outputblock - pending.size() % outputblock) % outputblock;
  pending.insert(pending.end(), data, data + fill);
  data += fill;
  left -= fill;
  const uint64_t whole = left / outputblock * outputblock;
  if (!writeall(writer->descriptor, pending.data(), pending.size()) ||
      !writeall(writer->descriptor, data, whole)) {
    return reporterror("Failed to write %lu bytes to `%s'.",
                       static_cast<unsigned long>(tablebytes(record)), writer->filename);
  }
  pending.assign(data + whole, data + left);
  return 0;
}

}  // namespace

int distwriter_append(DistributionWriter *writer, const ScoreDistribution *distribution,
                      double multiplier) {
  CompressedRecord record;
  if (distwriter_compress_record(distribution, multiplier, &record) != 0) return -1;
  const int status = putrecord(writer, &record);
  distwriter_free_record(&record);
  return status;
}

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

  // Chunks: the header, then the table in pieces of distindexchunkbytes counted from its top
  // (the lowest piece takes the remainder). Each ends with a full flush, so that it can be
  // inflated on its own.
  const uint64_t lowest = bytes % distindexchunkbytes;
  const uint64_t count = 1 + bytes / distindexchunkbytes + (lowest != 0 ? 1 : 0);
  DistIndexChunk *chunks = allocorexit<DistIndexChunk>(nullptr, count);
  z_stream stream{};
  if (deflateInit2(&stream, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    std::free(chunks);
    return internalerror();
  }
  Output output;
  bool ok = true;
  uint64_t done = 0;
  for (uint64_t c = 0; c < count && ok; c++) {
    const unsigned char *piece = c == 0 ? header : table + done;
    const uint64_t length = c == 0 ? sizeof header
                            : c == 1 && lowest != 0 ? lowest
                                                    : distindexchunkbytes;
    chunks[c] = {output.length, static_cast<uint32_t>(length), crcof(piece, length)};
    ok = deflateinto(&stream, piece, length, Z_FULL_FLUSH, &output);
    if (c > 0) done += length;
  }
  deflateEnd(&stream);
  if (!ok) {
    std::free(output.data);
    std::free(chunks);
    return internalerror();
  }
  uint32_t crc = chunks[0].crc;
  for (uint64_t c = 1; c < count; c++) {
    crc = static_cast<uint32_t>(crc32_combine(crc, chunks[c].crc, chunks[c].length));
  }
  ret_record->data = allocorexit<unsigned char>(output.data, std::max<uint64_t>(output.length, 1));
  ret_record->compressedlength = output.length;
  ret_record->length = sizeof header + bytes;
  ret_record->crc = crc;
  ret_record->chunks = chunks;
  ret_record->chunkcount = count;
  return 0;
}

void distwriter_free_record(CompressedRecord *record) {
  freeandnull(record->data);
  freeandnull(record->chunks);
  *record = CompressedRecord{};
}

int distwriter_write_records(DistributionWriter *writer, CompressedRecord *records,
                             uint64_t count) {
  int status = 0;
  for (uint64_t i = 0; i < count; i++) {
    if (status == 0) status = putrecord(writer, &records[i]);
    distwriter_free_record(&records[i]);
  }
  return status;
}

int distwriter_finish(DistributionWriter *writer) {
  // A file without records is still one (empty) gzip stream, with an empty index.
  startmember(writer);
  bool failed = writer->descriptor < 0;
  if (!failed) {
    // The final block (fixed codes, nothing but the end-of-block code), the trailer, the index.
    std::vector<unsigned char> &pending = writer->pending;
    const unsigned char lastblock[2] = {3, 0};
    unsigned char trailer[8];
    putle32(trailer, writer->crc);
    putle32(trailer + 4, static_cast<uint32_t>(writer->written));
    pending.insert(pending.end(), lastblock, lastblock + sizeof lastblock);
    pending.insert(pending.end(), trailer, trailer + sizeof trailer);
    const uint64_t firstmember = writer->fileoffset + sizeof lastblock + sizeof trailer;
    distindex_append_members(writer->chunks.data(), writer->chunks.size(), firstmember, &pending);
    failed = !writeall(writer->descriptor, pending.data(), pending.size());
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
  writer->pending = {};
  writer->chunks = {};
  return 0;
}

void distwriter_abandon(DistributionWriter *writer) {
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

