// The matches between search and table: sorted chunks per worker, runs spilled to an
// unlinked temporary file beyond the worker's budget, and the merge of every run in the
// table's order.
#include "scan/scanstore.hpp"

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/error.hpp"

namespace {

constexpr uint64_t largestchunk = uint64_t{1} << 16;  // records: 2 MB
constexpr uint64_t smallestchunk = 64;
constexpr uint64_t mergewidth = 64;                   // file runs merged at once
constexpr uint64_t readrecords = uint64_t{1} << 13;   // a file run's read buffer: 256 kB
constexpr uint64_t writerecords = uint64_t{1} << 15;  // 1 MB

// A temporary file in folder that no name points to: it goes when its descriptor is closed,
// however the process ends.
int anonymousfile(const std::string &folder) {
  std::string name = folder + "/zelko-matches.XXXXXX";
  const int fd = mkstemp(name.data());
  if (fd < 0) {
    return reporterror("cannot create a temporary file in `%s' for the sorted matches: %s "
                       "(see --tmpdir)",
                       folder.c_str(), std::strerror(errno));
  }
  unlink(name.c_str());
  return fd;
}

int writeall(int fd, const HitRecord *records, uint64_t count, const std::string &folder) {
  const char *bytes = reinterpret_cast<const char *>(records);
  size_t left = count * sizeof(HitRecord);
  while (left > 0) {
    const ssize_t written = write(fd, bytes, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      const int error = written < 0 ? errno : ENOSPC;
      return reporterror("cannot write the sorted matches to a temporary file in `%s': %s "
                         "(see --tmpdir and --memory)",
                         folder.c_str(), std::strerror(error));
    }
    bytes += written;
    left -= static_cast<size_t>(written);
  }
  return 0;
}

// Records appended to a file through a buffer.
struct RunWriter {
  int fd = -1;
  const std::string *folder = nullptr;
  std::vector<HitRecord> buffer;
  uint64_t written = 0;  // records in the file
  int failed = 0;
  void put(const HitRecord &hit) {
    buffer.push_back(hit);
    if (buffer.size() >= writerecords) flush();
  }
  void flush() {
    if (failed == 0 && !buffer.empty()) {
      failed = writeall(fd, buffer.data(), buffer.size(), *folder);
      written += buffer.size();
    }
    buffer.clear();
  }
};

// A read position in one sorted run: a chunk in memory, or a file run read in blocks.
struct Cursor {
  const HitRecord *current = nullptr;
  const HitRecord *end = nullptr;
  // A file run: the records not yet read into the buffer.
  int fd = -1;
  uint64_t offset = 0, remaining = 0;
  std::unique_ptr<HitRecord[]> buffer;
  // A chunk: its owner, released once read.
  Chunk *chunk = nullptr;

  // The next block of a file run: 1 while records are left, 0 at the end, -1 on failure.
  int refill() {
    if (fd < 0 || remaining == 0) return 0;
    if (buffer == nullptr) buffer.reset(new HitRecord[readrecords]);
    const uint64_t count = std::min(remaining, readrecords);
    char *bytes = reinterpret_cast<char *>(buffer.get());
    size_t done = 0;
    const size_t wanted = count * sizeof(HitRecord);
    while (done < wanted) {
      const ssize_t got =
          pread(fd, bytes + done, wanted - done,
                static_cast<off_t>(offset * sizeof(HitRecord) + done));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        return reporterror("cannot read the sorted matches back from their temporary file: %s",
                           got < 0 ? std::strerror(errno) : "it ended early");
      }
      done += static_cast<size_t>(got);
    }
    offset += count;
    remaining -= count;
    current = buffer.get();
    end = current + count;
    return 1;
  }
  // Moves past the current record: 1 with another one, 0 at the end, -1 on failure.
  int advance() {
    if (++current < end) return 1;
    if (chunk != nullptr) {
      chunk->reset();
      chunk = nullptr;
      return 0;
    }
    return refill();
  }
};

// The k-way merge of cursors (each holding a current record) in the order, giving each record
// to sink in turn: a binary heap of cursor numbers, the smallest current record on top.
template <typename Sink>
int mergecursors(std::vector<Cursor> &cursors, const HitOrder &order, Sink &&sink) {
  std::vector<uint32_t> heap;
  for (uint32_t i = 0; i < cursors.size(); i++) {
    if (cursors[i].current < cursors[i].end) heap.push_back(i);
  }
  const auto after = [&](uint32_t a, uint32_t b) {
    return order(*cursors[b].current, *cursors[a].current);
  };
  std::make_heap(heap.begin(), heap.end(), after);
  while (!heap.empty()) {
    Cursor &top = cursors[heap.front()];
    if (const int result = sink(*top.current); result != 0) return result;
    const int more = top.advance();
    if (more < 0) return -1;
    if (more == 0) {
      std::pop_heap(heap.begin(), heap.end(), after);
      heap.pop_back();
      continue;
    }
    // The top's new record sinks to its place.
    size_t hole = 0;
    const size_t n = heap.size();
    const uint32_t moving = heap[0];
    for (;;) {
      size_t child = 2 * hole + 1;
      if (child >= n) break;
      if (child + 1 < n && after(heap[child], heap[child + 1])) child++;
      if (!after(moving, heap[child])) break;
      heap[hole] = heap[child];
      hole = child;
    }
    heap[hole] = moving;
  }
  return 0;
}

// A cursor on a file run, its first block read: 0 or -1.
int opencursor(const FileRun &run, Cursor *cursor) {
  cursor->fd = run.fd;
  cursor->offset = run.offset;
  cursor->remaining = run.count;
  return cursor->refill() < 0 ? -1 : 0;
}

}  // namespace

std::string spillfolder(const std::string &dir) {
  if (!dir.empty()) return dir;
  const char *variable = std::getenv("TMPDIR");
  if (variable != nullptr && variable[0] != '\0') return variable;
  return "/tmp";
}

// ---- Chunks --------------------------------------------------------------------------------

void ChunkFree::operator()(HitRecord *chunk) const { std::free(chunk); }

Chunk newchunk(uint64_t records) { return Chunk(allocorexit<HitRecord>(nullptr, records)); }

// ---- WorkerStore ---------------------------------------------------------------------------

WorkerStore::~WorkerStore() {
  if (fd >= 0) close(fd);
}

void WorkerStore::setup(const StoreSettings *settings, uint64_t profiles) {
  settings_ = settings;
  counts.assign(profiles, ScoreCounts{});
  const uint64_t budget = settings->budget / sizeof(HitRecord);
  chunkcapacity_ = std::clamp<uint64_t>(budget / 4, smallestchunk, largestchunk);
}

int WorkerStore::add(const HitRecord &hit, uint64_t profile) {
  ScoreCount &count = counts[profile][hit.score];
  count.count++;
  count.pvalue = hit.pvalue;
  return keep(hit);
}

int WorkerStore::keep(const HitRecord &hit) {
  if (chunks.empty() || chunksizes.back() == chunkcapacity_) {
    if (!chunks.empty()) {
      HitRecord *full = chunks.back().get();
      std::sort(full, full + chunkcapacity_, settings_->order);
    }
    if (!settings_->tmpdir.empty() &&
        held * sizeof(HitRecord) >= settings_->budget && spill() != 0) {
      return -1;
    }
    chunks.push_back(newchunk(chunkcapacity_));
    chunksizes.push_back(0);
  }
  chunks.back()[chunksizes.back()++] = hit;
  held++;
  peakheld = std::max(peakheld, held);
  return 0;
}

void WorkerStore::seal() {
  if (chunks.empty()) return;
  HitRecord *last = chunks.back().get();
  std::sort(last, last + chunksizes.back(), settings_->order);
}

// The sorted chunks merged into one run at the end of the spill file, and released.
int WorkerStore::spill() {
  if (fd < 0) {
    fd = anonymousfile(settings_->tmpdir);
    if (fd < 0) return -1;
  }
  std::vector<Cursor> cursors(chunks.size());
  for (size_t i = 0; i < chunks.size(); i++) {
    cursors[i].current = chunks[i].get();
    cursors[i].end = cursors[i].current + chunksizes[i];
    cursors[i].chunk = &chunks[i];
  }
  RunWriter writer;
  writer.fd = fd;
  writer.folder = &settings_->tmpdir;
  writer.buffer.reserve(writerecords);
  const int merged = mergecursors(cursors, settings_->order, [&writer](const HitRecord &hit) {
    writer.put(hit);
    return writer.failed;
  });
  writer.flush();
  chunks.clear();
  chunksizes.clear();
  const uint64_t released = held * sizeof(HitRecord);
  held = 0;
  if (merged != 0 || writer.failed != 0) return -1;
  fileruns.push_back({fd, spilled, writer.written});
  spilled += writer.written;
  // Chunks are too small for the allocator to give them back by itself.
  if (released >= (uint64_t{16} << 20)) malloc_trim(0);
  return 0;
}

// ---- The merge -----------------------------------------------------------------------------

int mergeruns(std::vector<WorkerStore> *stores, const HitOrder &order, const std::string &tmpdir,
              RecordFunction row, void *context) {
  std::vector<FileRun> fileruns;
  for (WorkerStore &store : *stores) {
    fileruns.insert(fileruns.end(), store.fileruns.begin(), store.fileruns.end());
  }
  // Too many file runs for one merge: groups of them merged into runs of a further file.
  int mergefd = -1;
  struct CloseMergeFile {
    int *fd;
    ~CloseMergeFile() {
      if (*fd >= 0) close(*fd);
    }
  } closemergefile{&mergefd};
  uint64_t mergefilerecords = 0;
  while (fileruns.size() > mergewidth) {
    if (mergefd < 0) {
      mergefd = anonymousfile(tmpdir);
      if (mergefd < 0) return -1;
    }
    std::vector<FileRun> next;
    for (size_t first = 0; first < fileruns.size(); first += mergewidth) {
      const size_t last = std::min(fileruns.size(), first + mergewidth);
      std::vector<Cursor> cursors(last - first);
      for (size_t i = first; i < last; i++) {
        if (opencursor(fileruns[i], &cursors[i - first]) != 0) return -1;
      }
      RunWriter writer;
      writer.fd = mergefd;
      writer.folder = &tmpdir;
      writer.buffer.reserve(writerecords);
      const int merged = mergecursors(cursors, order, [&writer](const HitRecord &hit) {
        writer.put(hit);
        return writer.failed;
      });
      writer.flush();
      if (merged != 0 || writer.failed != 0) return -1;
      next.push_back({mergefd, mergefilerecords, writer.written});
      mergefilerecords += writer.written;
    }
    fileruns.swap(next);
  }
  std::vector<Cursor> cursors;
  for (WorkerStore &store : *stores) {
    for (size_t i = 0; i < store.chunks.size(); i++) {
      Cursor cursor;
      cursor.current = store.chunks[i].get();
      cursor.end = cursor.current + store.chunksizes[i];
      cursor.chunk = &store.chunks[i];
      cursors.push_back(std::move(cursor));
    }
  }
  for (const FileRun &run : fileruns) {
    cursors.emplace_back();
    if (opencursor(run, &cursors.back()) != 0) return -1;
  }
  // Chunks released while the merge goes on are handed back to the system now and then.
  uint64_t sincetrim = 0;
  return mergecursors(cursors, order, [&](const HitRecord &hit) {
    if (++sincetrim == (uint64_t{1} << 22)) {
      sincetrim = 0;
      malloc_trim(0);
    }
    return row(hit, context);
  });
}
