// The process-wide memory-map registry. It has no lock: files are mapped by the main thread
// before search threads start and unmapped after they have been joined.
#include "base/mapfile.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <mutex>

#include "base/error.hpp"

namespace {

constexpr int mapslots = 64;

struct MapSlot {
  void *address;  // null when the slot is free
  int fd;         // the mapped file's descriptor, kept open
  uint64_t length;
  char *path;  // owned copy, for the message of a failing close
  const char *unit;
  unsigned long line;
};

struct MapRegistry {
  MapSlot slots[mapslots];
  uint64_t totalmapped;
};

MapRegistry registry;
// Whether a descriptor beyond the slots takes any free slot (set by a library whose host may
// hold many files open); otherwise slot and descriptor number are one.
std::atomic<bool> anyslot{false};
// Calls of several threads (library calls side by side) open and map files at once.
std::mutex registrylock;

struct Caller {
  std::string_view unit;
  unsigned long line;
  int width() const { return static_cast<int>(unit.size()); }
};

Caller callerof(std::source_location where) {
  return Caller{sourceunit(where.file_name()), static_cast<unsigned long>(where.line())};
}

// Undoes a failed mapping after the file was opened: the run ends after such a failure, but
// a caller that probes for a file must not lose descriptors or accounting.
void *abandon(int fd, MapSlot *slot) {
  if (slot != nullptr) {
    registry.totalmapped -= slot->length;
    slot->length = 0;
  }
  close(fd);
  return nullptr;
}

}  // namespace

void *mapwholefile(const char *path, bool writable, uint64_t *ret_length,
                   std::source_location where) {
  std::lock_guard<std::mutex> guard(registrylock);
  const Caller caller = callerof(where);
  const int fd = open(path, O_RDONLY);
  if (fd < 0) {
    reporttext("%.*s, line %lu: cannot read file \"%s\": open failed: %s", caller.width(),
               caller.unit.data(), caller.line, path, std::strerror(errno));
    return nullptr;
  }
  struct stat status;
  if (fstat(fd, &status) != 0) {
    reporttext("%.*s, line %lu: cannot read file \"%s\": cannot access status of file: %s",
               caller.width(), caller.unit.data(), caller.line, path, std::strerror(errno));
    return abandon(fd, nullptr);
  }
  const uint64_t length = static_cast<uint64_t>(status.st_size);
  if (length == 0) {
    reporttext("%.*s, line %lu: cannot read file \"%s\": it is empty", caller.width(),
               caller.unit.data(), caller.line, path);
    return abandon(fd, nullptr);
  }
  int index = fd;
  if (fd >= mapslots && anyslot.load()) {
    index = 0;
    while (index < mapslots &&
           (registry.slots[index].address != nullptr || registry.slots[index].length != 0))
      index++;
  }
  if (index >= mapslots) {
    reporttext("%.*s, line %lu: cannot read file \"%s\": filedescriptor %ld is too large",
               caller.width(), caller.unit.data(), caller.line, path, static_cast<long>(fd));
    return abandon(fd, nullptr);
  }
  MapSlot *slot = registry.slots + index;
  if (slot->address != nullptr) {
    reporttext("%.*s, line %lu: cannot read file \"%s\": filedescriptor %ld already in use",
               caller.width(), caller.unit.data(), caller.line, path, static_cast<long>(fd));
    return abandon(fd, nullptr);
  }
  slot->length = length;
  registry.totalmapped += length;
  const int protection = writable ? (PROT_READ | PROT_WRITE) : PROT_READ;
  void *address = mmap(nullptr, length, protection, MAP_PRIVATE, fd, 0);
  if (address == MAP_FAILED) {
    reporttext("%.*s, line %lu: cannot read file \"%s\": memorymapping via filedescriptor %ld "
               "failed: %s",
               caller.width(), caller.unit.data(), caller.line, path, static_cast<long>(fd),
               std::strerror(errno));
    return abandon(fd, slot);
  }
  if (madvise(address, length, MADV_WILLNEED) != 0) {
    reporttext("%.*s, line %lu: cannot read file \"%s\": memorymapping via filedescriptor %ld "
               "failed: madvise throws error: %s",
               caller.width(), caller.unit.data(), caller.line, path, static_cast<long>(fd),
               std::strerror(errno));
    munmap(address, length);
    return abandon(fd, slot);
  }
  slot->address = address;
  slot->fd = fd;
  slot->path = copystring(path);
  slot->unit = where.file_name();
  slot->line = caller.line;
  *ret_length = length;
  return address;
}

int unmapfile(const void *address, std::source_location where) {
  std::lock_guard<std::mutex> guard(registrylock);
  const Caller caller = callerof(where);
  if (address == nullptr) {
    reporttext("%.*s: l. %ld: deletememorymap failed: mapped file is NULL", caller.width(),
               caller.unit.data(), static_cast<long>(caller.line));
    return -1;
  }
  int index = 0;
  while (index < mapslots && registry.slots[index].address != address) index++;
  if (index == mapslots) {
    reporttext("%.*s: l. %ld: deletememorymap failed: cannot find filedescriptor for given "
               "address",
               caller.width(), caller.unit.data(), static_cast<long>(caller.line));
    return -2;
  }
  MapSlot *slot = registry.slots + index;
  const int fd = slot->fd;
  if (munmap(slot->address, slot->length) != 0) {
    const std::string_view mapunit = sourceunit(slot->unit);
    reporttext("%.*s: l. %ld: deletememorymap failed: munmap failed: mapped in file \"%.*s\","
               "line %lu: %s",
               caller.width(), caller.unit.data(), static_cast<long>(caller.line),
               static_cast<int>(mapunit.size()), mapunit.data(), slot->line,
               std::strerror(errno));
    return -3;
  }
  slot->address = nullptr;
  if (registry.totalmapped < slot->length) {
    std::fprintf(stderr, "want to unmap %lu bytes, but only %lu bytes have been allocated\n",
                 static_cast<unsigned long>(slot->length),
                 static_cast<unsigned long>(registry.totalmapped));
    std::exit(EXIT_FAILURE);
  }
  registry.totalmapped -= slot->length;
  slot->length = 0;
  slot->unit = nullptr;
  char *path = slot->path;
  slot->path = nullptr;
  int result = 0;
  if (close(fd) != 0) {
    reporttext("%.*s: l. %lu: deletememorymap failed: cannot close file \"%s\": %s",
               caller.width(), caller.unit.data(), caller.line, path, std::strerror(errno));
    result = -4;
  }
  std::free(path);
  return result;
}

bool ismappedfile(const void *address) {
  std::lock_guard<std::mutex> guard(registrylock);
  if (address == nullptr) return false;
  for (const MapSlot &slot : registry.slots) {
    if (slot.address == address) return true;
  }
  return false;
}

void setmapslotsanydescriptor(bool any) { anyslot.store(any); }

void *readwholefile(const char *path, uint64_t *ret_length, std::source_location where) {
  const Caller caller = callerof(where);
  const int fd = open(path, O_RDONLY);
  if (fd < 0) {
    reporttext("%.*s, line %lu: cannot read file \"%s\": open failed: %s", caller.width(),
               caller.unit.data(), caller.line, path, std::strerror(errno));
    return nullptr;
  }
  struct stat status;
  if (fstat(fd, &status) != 0) {
    reporttext("%.*s, line %lu: cannot read file \"%s\": cannot access status of file: %s",
               caller.width(), caller.unit.data(), caller.line, path, std::strerror(errno));
    close(fd);
    return nullptr;
  }
  const uint64_t length = static_cast<uint64_t>(status.st_size);
  if (length == 0) {
    reporttext("%.*s, line %lu: cannot read file \"%s\": it is empty", caller.width(),
               caller.unit.data(), caller.line, path);
    close(fd);
    return nullptr;
  }
  unsigned char *buffer = allocorexit_at<unsigned char>(nullptr, length, where.file_name(),
                                                        where.line());
  advisehugepages(buffer, length);
  uint64_t done = 0;
  while (done < length) {
    const ssize_t got = read(fd, buffer + done, length - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      reporttext("%.*s, line %lu: cannot read file \"%s\": read failed: %s", caller.width(),
                 caller.unit.data(), caller.line, path,
                 got < 0 ? std::strerror(errno) : "the file ended early");
      std::free(buffer);
      close(fd);
      return nullptr;
    }
    done += static_cast<uint64_t>(got);
  }
  close(fd);
  *ret_length = length;
  return buffer;
}

uint64_t mappedbytes() {
  std::lock_guard<std::mutex> guard(registrylock);
  return registry.totalmapped;
}

void advisehugepages(void *block, uint64_t length) {
  constexpr uint64_t hugepage = UINT64_C(1) << 21;
  if (length < 4 * hugepage) return;
  const uintptr_t first = reinterpret_cast<uintptr_t>(block);
  const uintptr_t start = (first + hugepage - 1) & ~uintptr_t(hugepage - 1);
  const uintptr_t end = (first + length) & ~uintptr_t(hugepage - 1);
  if (end > start) madvise(reinterpret_cast<void *>(start), end - start, MADV_HUGEPAGE);
}

void prefaultwritable(void *block, uint64_t length) {
#ifdef MADV_POPULATE_WRITE
  if (length < (UINT64_C(1) << 14)) return;
  const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const uintptr_t first = reinterpret_cast<uintptr_t>(block);
  const uintptr_t start = (first + page - 1) & ~(page - 1);
  const uintptr_t end = (first + length) & ~(page - 1);
  if (end > start) madvise(reinterpret_cast<void *>(start), end - start, MADV_POPULATE_WRITE);
#else
  (void)block;
  (void)length;
#endif
}
