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
#include "base/threads.hpp"

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
// All records at once, compressed in blocks by several threads
//
// The stream is cut into blocks that are deflated independently at level 9, each primed with
// the 32 KiB of data before it, so the compression is nearly that of one stream. Every block
// but the last ends on a byte boundary with an empty stored block, so the blocks simply follow
// each other in one gzip member; the checksums of the blocks combine into the stream's.

namespace {

constexpr uint64_t blocksize = UINT64_C(1) << 21;
constexpr uint64_t window = UINT64_C(1) << 15;

// A piece of the uncompressed stream: a record header or a table.
struct Segment {
  const unsigned char *data;
  uint64_t length;
  uint64_t start;  // offset in the stream
};

struct CompressedBlock {
  unsigned char *data;  // owned
  uint64_t length;
  uint32_t crc;
};

struct BlockWork {
  const Segment *segments;
  uint64_t numofsegments;
  uint64_t total;  // length of the stream
  CompressedBlock *blocks;
  uint64_t numofblocks;
  Mutex lock;
  uint64_t nextblock;
  bool failed;
};

// Copies stream bytes [from, from + length) into buffer.
void gather(const BlockWork *work, uint64_t from, uint64_t length, unsigned char *buffer) {
  const Segment *segment = std::upper_bound(work->segments, work->segments + work->numofsegments,
                                            from, [](uint64_t offset, const Segment &s) {
                                              return offset < s.start;
                                            }) - 1;
  for (uint64_t done = 0; done < length; segment++) {
    const uint64_t skip = from + done - segment->start;
    const uint64_t piece = std::min(segment->length - skip, length - done);
    std::memcpy(buffer + done, segment->data + skip, piece);
    done += piece;
  }
}

bool compressblock(const BlockWork *work, uint64_t index, unsigned char *input) {
  const uint64_t start = index * blocksize;
  const uint64_t length = std::min(blocksize, work->total - start);
  const bool last = index + 1 == work->numofblocks;
  CompressedBlock *block = &work->blocks[index];
  z_stream stream{};
  if (deflateInit2(&stream, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  bool ok = true;
  if (start > 0) {
    const uint64_t primed = std::min(start, window);
    gather(work, start - primed, primed, input);
    ok = deflateSetDictionary(&stream, input, static_cast<uInt>(primed)) == Z_OK;
  }
  gather(work, start, length, input);
  block->crc = static_cast<uint32_t>(crc32(0L, input, static_cast<uInt>(length)));
  // Room for the worst case plus the end marks of a flushed block.
  const uint64_t room = deflateBound(&stream, static_cast<uLong>(length)) + 16;
  block->data = allocorexit<unsigned char>(nullptr, room);
  stream.next_in = input;
  stream.avail_in = static_cast<uInt>(length);
  stream.next_out = block->data;
  stream.avail_out = static_cast<uInt>(room);
  const int status = ok ? deflate(&stream, last ? Z_FINISH : Z_SYNC_FLUSH) : Z_STREAM_ERROR;
  ok = ok && (last ? status == Z_STREAM_END : status == Z_OK) && stream.avail_in == 0;
  block->length = room - stream.avail_out;
  deflateEnd(&stream);
  return ok;
}

void *compressblocks(void *argument) {
  BlockWork *work = static_cast<BlockWork *>(argument);
  unsigned char *input = allocorexit<unsigned char>(nullptr, blocksize);
  for (;;) {
    uint64_t index;
    {
      MutexGuard guard(&work->lock);
      if (work->nextblock >= work->numofblocks || work->failed) break;
      index = work->nextblock++;
    }
    if (!compressblock(work, index, input)) {
      MutexGuard guard(&work->lock);
      work->failed = true;
    }
  }
  std::free(input);
  return nullptr;
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

}  // namespace

int distwriter_write_all(DistributionWriter *writer, const ScoreDistribution *const *distributions,
                         const double *multipliers, uint64_t count, uint64_t jobs) {
  if (writer->file != nullptr || writer->descriptor < 0 || writer->complete) {
    return internalerror();
  }
  // The record headers, and the stream as a list of segments.
  struct Header {
    int64_t numbers[3];
    double multiplier;
  };
  static_assert(sizeof(Header) == 32);
  Header *headers = allocorexit<Header>(nullptr, count);
  Segment *segments = allocorexit<Segment>(nullptr, 2 * count);
  uint64_t total = 0, numofsegments = 0;
  for (uint64_t i = 0; i < count; i++) {
    const ScoreDistribution *distribution = distributions[i];
    if (!describestable(distribution, multipliers[i])) {
      std::free(headers);
      std::free(segments);
      return internalerror();
    }
    headers[i] = {{distribution->minimum, distribution->maximum, distribution->offset},
                  multipliers[i]};
    segments[numofsegments++] = {reinterpret_cast<const unsigned char *>(&headers[i]),
                                 sizeof(Header), total};
    total += sizeof(Header);
    const uint64_t bytes = distribution->size * sizeof(double);
    segments[numofsegments++] = {reinterpret_cast<const unsigned char *>(distribution->tail),
                                 bytes, total};
    total += bytes;
  }

  BlockWork work{};
  work.segments = segments;
  work.numofsegments = numofsegments;
  work.total = total;
  work.numofblocks = total == 0 ? 0 : (total + blocksize - 1) / blocksize;
  work.blocks = allocorexit<CompressedBlock>(nullptr, std::max<uint64_t>(work.numofblocks, 1));
  for (uint64_t b = 0; b < work.numofblocks; b++) work.blocks[b] = {nullptr, 0, 0};
  if (mutexinit(&work.lock) != 0) fatalcase();
  // The calling thread compresses too; helpers that cannot be started leave it more to do.
  Thread helpers[128];
  uint64_t started = 0;
  for (; started + 1 < jobs && started < 128 && started + 1 < work.numofblocks; started++) {
    if (threadcreate(&helpers[started], compressblocks, &work) != 0) break;
  }
  compressblocks(&work);
  for (uint64_t t = 0; t < started; t++) threadjoin(&helpers[t], nullptr);
  mutexdestroy(&work.lock);

  // A header that says level 9 (extra flags 2) and Unix, as a level-9 gzip stream has it.
  unsigned char header[10] = {0x1f, 0x8b, 8, 0, 0, 0, 0, 0, 2, 3};
  unsigned char trailer[8];
  bool ok = !work.failed && writeall(writer->descriptor, header, sizeof header);
  uint32_t crc = static_cast<uint32_t>(crc32(0L, Z_NULL, 0));
  for (uint64_t b = 0; b < work.numofblocks; b++) {
    const uint64_t length = std::min(blocksize, total - b * blocksize);
    crc = static_cast<uint32_t>(crc32_combine(crc, work.blocks[b].crc, static_cast<z_off_t>(length)));
    if (ok) {
      ok = writeall(writer->descriptor, work.blocks[b].data, work.blocks[b].length);
      if (ok) writer->written += length;
    }
    std::free(work.blocks[b].data);
  }
  if (work.numofblocks == 0 && ok) {
    // No data: one final empty block.
    const unsigned char empty[2] = {3, 0};
    ok = writeall(writer->descriptor, empty, sizeof empty);
  }
  putle32(trailer, crc);
  putle32(trailer + 4, static_cast<uint32_t>(total));
  if (ok) ok = writeall(writer->descriptor, trailer, sizeof trailer);
  std::free(work.blocks);
  std::free(segments);
  std::free(headers);
  writer->complete = true;
  if (work.failed) return internalerror();
  if (!ok) {
    return reporterror("Failed to write %lu bytes to `%s'.",
                       static_cast<unsigned long>(std::min(total, writer->written + blocksize)),
                       writer->filename);
  }
  return 0;
}
