// Writer of the distribution file: records through a level-9 gzip stream into a temporary
// file that replaces the output file only when complete.
#include "statistics/distwriter.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
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
  writer->finalname = copystring(filename);
  errno = 0;
  writer->file = gzopen(filename, "w9");
  if (writer->file == nullptr) {
    freeandnull(writer->finalname);
    return openfailure(filename, errno != 0);
  }
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
  writer->file = gzdopen(descriptor, "w9");
  if (writer->file == nullptr) {
    close(descriptor);
    distwriter_abandon(writer);
    return openfailure(filename, false);
  }
  return 0;
}

namespace {

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
  const uint64_t size = distribution->size;
  if (size == 0 || distribution->tail == nullptr || distribution->maximum < distribution->minimum ||
      static_cast<uint64_t>(distribution->maximum - distribution->minimum) != size - 1 ||
      !(multiplier > 0.0 && multiplier <= 1000.0)) {
    return internalerror();
  }
  const int64_t header[3] = {distribution->minimum, distribution->maximum, distribution->offset};
  if (writepiece(writer, header, sizeof header) != 0) return -1;
  if (writepiece(writer, &multiplier, sizeof multiplier) != 0) return -1;
  const char *table = reinterpret_cast<const char *>(distribution->tail);
  const uint64_t bytes = size * sizeof(double);
  for (uint64_t done = 0; done < bytes;) {
    const uint64_t piece = std::min(bytes - done, largestwrite);
    if (writepiece(writer, table + done, piece) != 0) return -1;
    done += piece;
  }
  return 0;
}

int distwriter_finish(DistributionWriter *writer) {
  gzFile file = writer->file;
  writer->file = nullptr;
  bool failed = file != nullptr && gzclose(file) != Z_OK;
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
  if (writer->temporaryname != nullptr) {
    unlink(writer->temporaryname);
    pendingtemporary = nullptr;
    freeandnull(writer->temporaryname);
  }
  freeandnull(writer->finalname);
}
