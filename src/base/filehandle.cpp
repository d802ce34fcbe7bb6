// The process-wide registry of tracked file handles, indexed by descriptor number. It has no
// lock: only the main thread opens and closes files.
#include "base/filehandle.hpp"

#include <cerrno>
#include <cstring>
#include <mutex>

#include "base/error.hpp"

namespace {

constexpr size_t maxpathlength = 4096;
constexpr size_t maxmodelength = 2;
constexpr uint64_t tablegrowth = 16;

struct HandleEntry {
  char path[maxpathlength + 1];
  char mode[maxmodelength + 1];
  const char *unit;  // caller's source file; non-null marks the entry occupied
  unsigned long line;
};

struct HandleRegistry {
  HandleEntry *entries;
  uint64_t allocated;
  uint64_t opencount;
};

HandleRegistry registry;
// Calls of several threads (library calls side by side) open and close files at once.
std::mutex registrylock;

std::string_view unitof(std::source_location where) { return sourceunit(where.file_name()); }

void coverdescriptor(uint64_t fd) {
  if (fd < registry.allocated) return;
  uint64_t newsize = registry.allocated;
  while (newsize <= fd) newsize += tablegrowth;
  registry.entries = allocorexit(registry.entries, newsize);
  for (uint64_t i = registry.allocated; i < newsize; i++) registry.entries[i].unit = nullptr;
  registry.allocated = newsize;
}

}  // namespace

FILE *openfilehandle(const char *path, const char *mode, std::source_location where) {
  std::lock_guard<std::mutex> guard(registrylock);
  FILE *stream = std::fopen(path, mode);
  if (stream == nullptr) {
    reporttext("cannot open file \"%s\": %s", path, std::strerror(errno));
    return nullptr;
  }
  const int fd = fileno(stream);
  if (fd < 0) {
    std::fprintf(stderr, "cannot find filedescriptor: %s\n", std::strerror(errno));
    fatalcase();
  }
  const std::string_view unit = unitof(where);
  const unsigned long line = where.line();
  coverdescriptor(static_cast<uint64_t>(fd));
  HandleEntry *entry = registry.entries + fd;
  if (entry->unit != nullptr) {
    std::fprintf(stderr,
                 "file %.*s, line %lu: open file \"%s\" with mode \"%s\": handle %lu already "
                 "occupied\n",
                 static_cast<int>(unit.size()), unit.data(), line, path, mode,
                 static_cast<unsigned long>(fd));
    fatalcase();
  }
  if (std::strlen(mode) > maxmodelength) {
    std::fprintf(stderr, "file %.*s, line %lu: cannot open file \"%s\": illegal open mode \"%s\"\n",
                 static_cast<int>(unit.size()), unit.data(), line, path, mode);
    fatalcase();
  }
  if (std::strlen(path) > maxpathlength) {
    std::fprintf(stderr, "file %.*s, line %lu: cannot open file \"%s\": path is too long\n",
                 static_cast<int>(unit.size()), unit.data(), line, path);
    fatalcase();
  }
  std::strcpy(entry->path, path);
  std::strcpy(entry->mode, mode);
  entry->unit = where.file_name();
  entry->line = line;
  registry.opencount++;
  return stream;
}

int closefilehandle(FILE *stream, std::source_location where) {
  std::lock_guard<std::mutex> guard(registrylock);
  const int fd = fileno(stream);
  const std::string_view unit = unitof(where);
  if (fd < 0 || static_cast<uint64_t>(fd) >= registry.allocated) {
    std::fprintf(stderr,
                 "file %.*s, line %lu: cannot open file: fd=%lu, not enough file handles "
                 "available\n",
                 static_cast<int>(unit.size()), unit.data(),
                 static_cast<unsigned long>(where.line()), static_cast<unsigned long>(fd));
    fatalcase();
  }
  HandleEntry *entry = registry.entries + fd;
  if (entry->unit == nullptr) {
    std::fprintf(stderr,
                 "file %.*s, line %lu: cannot open file: fd=%lu, file handle not occurpied\n",
                 static_cast<int>(unit.size()), unit.data(),
                 static_cast<unsigned long>(where.line()), static_cast<unsigned long>(fd));
    fatalcase();
  }
  if (std::fclose(stream) != 0) {
    return reporttext("cannot close file \"%s\": %s", entry->path, std::strerror(errno));
  }
  entry->unit = nullptr;
  registry.opencount--;
  if (registry.opencount == 0) {
    freeandnull(registry.entries);
    registry.allocated = 0;
  }
  return 0;
}

uint64_t filehandletablesize() {
  std::lock_guard<std::mutex> guard(registrylock);
  return registry.allocated;
}
uint64_t openfilehandlecount() {
  std::lock_guard<std::mutex> guard(registrylock);
  return registry.opencount;
}
