// The chunk index of a distribution file: the empty gzip members that carry it, and the
// reader that takes only the tops of the tail tables through it.
//
// Contents: member layout; record checks; writing the members; finding and checking the
// index; inflating chunks; reading the tops of the tables.
#include "statistics/distindex.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "base/error.hpp"
#include "base/mapfile.hpp"
#include "statistics/distribution.hpp"

namespace {

// ---------------------------------------------------------------------------------------
// Member layout
//
// Each index member is a gzip member with an extra field and no data:
//   1f 8b 08 04 | mtime 0 | xfl 0 | os 3 | XLEN | 'Z' 'C' LEN payload | 03 00 | crc 0 | size 0
// The payloads, in order, hold 16-byte entries (start as 64 bits, length and CRC as 32 bits,
// little-endian); the last payload ends with a footer: the magic, the number of entries and
// the file offset of the first index member.

constexpr unsigned char memberhead[10] = {0x1f, 0x8b, 8, 4, 0, 0, 0, 0, 0, 3};
constexpr unsigned char subfieldid[2] = {'Z', 'C'};
// An empty final block with fixed codes, then the CRC and length of no data.
constexpr unsigned char emptyend[10] = {3, 0, 0, 0, 0, 0, 0, 0, 0, 0};
constexpr unsigned char footermagic[8] = {'Z', 'L', 'K', 'C', 'H', 'N', 'K', '1'};
constexpr uint64_t entrybytes = 16;
constexpr uint64_t footerbytes = 24;
constexpr uint64_t entriespermember = 4000;  // a payload stays below the 65531 an extra allows
constexpr uint64_t memberoverhead = sizeof memberhead + 2 + 4 + sizeof emptyend;
// The gzip header of the member that holds the records, as the writer makes it.
constexpr unsigned char datahead[10] = {0x1f, 0x8b, 8, 0, 0, 0, 0, 0, 2, 3};
constexpr uint64_t recordheadbytes = 32;
// No chunk is longer: the writer's are far shorter, and a chunk is inflated whole.
constexpr uint64_t largestchunk = UINT64_C(1) << 20;

void putle(std::vector<unsigned char> *out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; i++) out->push_back(static_cast<unsigned char>(value >> (8 * i)));
}

uint64_t getle(const unsigned char *at, int bytes) {
  uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; i--) value = (value << 8) | at[i];
  return value;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Record checks

bool distrecord_plausible(int64_t minimum, int64_t maximum, int64_t offset, double multiplier) {
  constexpr int64_t limit = ScoreTraits<int64_t>::plusinfinity;
  const auto inrange = [](int64_t v) { return v >= -limit && v <= limit; };
  return multiplier > 0.0 && multiplier <= 1000.0 && inrange(minimum) && inrange(maximum) &&
         inrange(offset) && minimum <= maximum;
}

bool disttail_plausible(const double *tail, uint64_t size) {
  constexpr double highest = 1.0 + 1e-3;
  for (uint64_t i = 0; i < size; i++) {
    if (!(tail[i] >= 0.0 && tail[i] <= highest)) return false;
    if (i > 0 && tail[i] > tail[i - 1]) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------
// Writing the members

void distindex_append_members(const DistIndexChunk *chunks, uint64_t count, uint64_t firstmember,
                              std::vector<unsigned char> *out) {
  uint64_t done = 0;
  do {
    const uint64_t take = std::min(count - done, entriespermember);
    const bool last = done + take == count;
    const uint64_t payload = take * entrybytes + (last ? footerbytes : 0);
    out->insert(out->end(), memberhead, memberhead + sizeof memberhead);
    putle(out, payload + 4, 2);
    out->insert(out->end(), subfieldid, subfieldid + sizeof subfieldid);
    putle(out, payload, 2);
    for (uint64_t i = done; i < done + take; i++) {
      putle(out, chunks[i].start, 8);
      putle(out, chunks[i].length, 4);
      putle(out, chunks[i].crc, 4);
    }
    if (last) {
      out->insert(out->end(), footermagic, footermagic + sizeof footermagic);
      putle(out, count, 8);
      putle(out, firstmember, 8);
    }
    out->insert(out->end(), emptyend, emptyend + sizeof emptyend);
    done += take;
  } while (done < count);
}

namespace {

// ---------------------------------------------------------------------------------------
// Finding and checking the index

// A regular file mapped read-only for the length of a read.
struct MappedFile {
  const unsigned char *bytes = nullptr;
  uint64_t length = 0;
  MappedFile(const MappedFile &) = delete;
  MappedFile &operator=(const MappedFile &) = delete;
  explicit MappedFile(const char *filename) {
    // Checked before opening: opening a FIFO would wait for a writer.
    struct stat status;
    if (stat(filename, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size == 0) return;
    const int descriptor = open(filename, O_RDONLY);
    if (descriptor < 0) return;
    if (fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0) {
      void *address = mmap(nullptr, static_cast<size_t>(status.st_size), PROT_READ, MAP_PRIVATE,
                           descriptor, 0);
      if (address != MAP_FAILED) {
        bytes = static_cast<const unsigned char *>(address);
        length = static_cast<uint64_t>(status.st_size);
      }
    }
    close(descriptor);
  }
  ~MappedFile() {
    if (bytes != nullptr) munmap(const_cast<unsigned char *>(bytes), length);
  }
};

struct ChunkIndex {
  std::vector<DistIndexChunk> chunks;
  uint64_t dataend;  // where the deflate data of the records ends (the final block follows)
};

// One index member at pos: its payload, and the position after it; false if it is not one.
bool parsemember(const MappedFile &file, uint64_t pos, const unsigned char **ret_payload,
                 uint64_t *ret_payloadlength, uint64_t *ret_next) {
  const unsigned char *at = file.bytes + pos;
  if (file.length - pos < memberoverhead) return false;
  if (std::memcmp(at, memberhead, sizeof memberhead) != 0) return false;
  const uint64_t extralength = getle(at + 10, 2);
  if (extralength < 4 || std::memcmp(at + 12, subfieldid, 2) != 0) return false;
  const uint64_t payload = getle(at + 14, 2);
  if (payload + 4 != extralength || file.length - pos < memberoverhead + payload) return false;
  if (std::memcmp(at + 16 + payload, emptyend, sizeof emptyend) != 0) return false;
  *ret_payload = at + 16;
  *ret_payloadlength = payload;
  *ret_next = pos + memberoverhead + payload;
  return true;
}

// The index at the end of the file, checked against the records' gzip member: chunks that
// start where the data starts, follow each other, and whose lengths and CRC-32s combine into
// the member's trailer.
bool findindex(const MappedFile &file, ChunkIndex *ret_index) {
  const uint64_t length = file.length;
  if (length < sizeof datahead + 8 + memberoverhead + footerbytes) return false;
  if (std::memcmp(file.bytes, datahead, sizeof datahead) != 0) return false;
  const unsigned char *footer = file.bytes + length - sizeof emptyend - footerbytes;
  if (std::memcmp(footer, footermagic, sizeof footermagic) != 0) return false;
  const uint64_t count = getle(footer + 8, 8);
  const uint64_t firstmember = getle(footer + 16, 8);
  if (firstmember < sizeof datahead + 8 || firstmember >= length) return false;
  if (count > (length - firstmember) / entrybytes) return false;

  std::vector<DistIndexChunk> &chunks = ret_index->chunks;
  chunks.clear();
  chunks.reserve(count);
  for (uint64_t pos = firstmember; pos < length;) {
    const unsigned char *payload;
    uint64_t payloadlength, next;
    if (!parsemember(file, pos, &payload, &payloadlength, &next)) return false;
    const bool last = next == length;
    if (last) {
      if (payloadlength < footerbytes) return false;
      payloadlength -= footerbytes;
    }
    if (payloadlength % entrybytes != 0) return false;
    for (uint64_t at = 0; at < payloadlength; at += entrybytes) {
      chunks.push_back({getle(payload + at, 8), static_cast<uint32_t>(getle(payload + at + 8, 4)),
                        static_cast<uint32_t>(getle(payload + at + 12, 4))});
    }
    pos = next;
  }
  if (chunks.size() != count) return false;

  const unsigned char *trailer = file.bytes + firstmember - 8;
  const uint64_t dataend = firstmember - 8;
  uLong crc = crc32(0L, Z_NULL, 0);
  uint64_t total = 0;
  // Every chunk inflates to something, so takes at least one byte of its own.
  uint64_t expectedstart = sizeof datahead;
  for (const DistIndexChunk &chunk : chunks) {
    const bool inorder = &chunk == &chunks.front() ? chunk.start == expectedstart
                                                   : chunk.start >= expectedstart;
    if (!inorder || chunk.start >= dataend || chunk.length == 0) return false;
    if (chunk.length > largestchunk) return false;
    expectedstart = chunk.start + 1;
    crc = crc32_combine(crc, chunk.crc, static_cast<z_off_t>(chunk.length));
    total += chunk.length;
  }
  if (static_cast<uint32_t>(crc) != getle(trailer, 4)) return false;
  if (static_cast<uint32_t>(total) != getle(trailer + 4, 4)) return false;
  ret_index->dataend = dataend;
  return true;
}

// ---------------------------------------------------------------------------------------
// Inflating chunks

struct ChunkInflater {
  z_stream stream{};
  bool ready = false;
  ChunkInflater() { ready = inflateInit2(&stream, -15) == Z_OK; }
  ~ChunkInflater() {
    if (ready) inflateEnd(&stream);
  }
  ChunkInflater(const ChunkInflater &) = delete;
  ChunkInflater &operator=(const ChunkInflater &) = delete;
};

// Inflates chunk number c into out (its length in bytes) and checks its CRC-32.
bool inflatechunk(ChunkInflater *inflater, const MappedFile &file, const ChunkIndex &index,
                  uint64_t c, unsigned char *out) {
  const DistIndexChunk &chunk = index.chunks[c];
  const uint64_t end = c + 1 < index.chunks.size() ? index.chunks[c + 1].start : index.dataend;
  z_stream *stream = &inflater->stream;
  if (!inflater->ready || inflateReset(stream) != Z_OK) return false;
  stream->next_in = const_cast<unsigned char *>(file.bytes + chunk.start);
  stream->avail_in = static_cast<uInt>(std::min<uint64_t>(end - chunk.start, UINT32_MAX));
  stream->next_out = out;
  stream->avail_out = chunk.length;
  while (stream->avail_out > 0) {
    const int status = inflate(stream, Z_NO_FLUSH);
    if (status != Z_OK) break;  // the end of the stream, a damaged one, or no progress
  }
  if (stream->avail_out != 0) return false;
  return static_cast<uint32_t>(crc32(0L, out, chunk.length)) == chunk.crc;
}

// ---------------------------------------------------------------------------------------
// Reading the tops of the tables

// Entries inflated from the top of a table down, chunk after chunk; grown only by what was
// read, so a record that claims a huge table costs no more than the data that backs it.
struct TopEntries {
  double *entries = nullptr;  // the chunks' entries, the top chunk first, each in its order
  uint64_t length = 0;
  uint64_t allocated = 0;
  TopEntries() = default;
  TopEntries(const TopEntries &) = delete;
  TopEntries &operator=(const TopEntries &) = delete;
  ~TopEntries() { std::free(entries); }
  double *append(uint64_t count) {
    if (length + count > allocated) {
      allocated = std::max(2 * allocated, length + count);
      entries = allocorexit<double>(entries, allocated);
    }
    length += count;
    return entries + length - count;
  }
};

// The record that starts at chunk *cursor: its top into the Profile; *cursor moves past it.
bool readtop(ChunkInflater *inflater, const MappedFile &file, const ChunkIndex &index,
             uint64_t *cursor, double target, TopEntries *top, Profile *profile) {
  const std::vector<DistIndexChunk> &chunks = index.chunks;
  uint64_t c = *cursor;
  if (c >= chunks.size() || chunks[c].length != recordheadbytes) return false;
  unsigned char head[recordheadbytes];
  if (!inflatechunk(inflater, file, index, c, head)) return false;
  int64_t numbers[3];
  double multiplier;
  std::memcpy(numbers, head, sizeof numbers);
  std::memcpy(&multiplier, head + sizeof numbers, sizeof multiplier);
  const int64_t minimum = numbers[0], maximum = numbers[1], offset = numbers[2];
  if (!distrecord_plausible(minimum, maximum, offset, multiplier)) return false;
  const uint64_t size = static_cast<uint64_t>(maximum - minimum) + 1;
  if (size == 0 || size > UINT64_MAX / sizeof(double)) return false;

  // The table's chunks: whole entries each, exactly the table's bytes together.
  const uint64_t first = c + 1;
  uint64_t bytes = 0;
  for (c = first; c < chunks.size() && bytes < size * sizeof(double); c++) {
    if (chunks[c].length % sizeof(double) != 0) return false;
    bytes += chunks[c].length;
  }
  if (bytes != size * sizeof(double)) return false;
  const uint64_t end = c;

  // From the top down, chunk by chunk, until the entry above the target (and, for parity,
  // the one below an odd index) is held.
  top->length = 0;
  uint64_t held = size;  // entries from held up are read
  uint64_t need = 0;     // the lowest entry needed
  bool found = false;
  for (uint64_t k = end; k > first && !(found && held <= need);) {
    k--;
    const uint64_t entries = chunks[k].length / sizeof(double);
    double *chunk = top->append(entries);
    if (!inflatechunk(inflater, file, index, k, reinterpret_cast<unsigned char *>(chunk))) {
      return false;
    }
    held -= entries;
    for (uint64_t i = entries; !found && i > 0; i--) {
      if (chunk[i - 1] > target) {
        found = true;
        need = (held + i - 1) & ~UINT64_C(1);
      }
    }
  }
  if (!found) need = 0;
  if (held > need) return false;  // cannot happen: the loop reads down to need

  // The chunks back in table order, from need up.
  const uint64_t keep = size - need;
  double *tail = allocorexit<double>(nullptr, keep);
  prefaultwritable(tail, keep * sizeof(double));
  uint64_t tableindex = size;  // start of the chunk being placed
  for (uint64_t k = end, at = 0; k > first && tableindex > need;) {
    k--;
    const uint64_t entries = chunks[k].length / sizeof(double);
    tableindex -= entries;
    const uint64_t from = std::max(tableindex, need);
    std::memcpy(tail + (from - need), top->entries + at + (from - tableindex),
                (tableindex + entries - from) * sizeof(double));
    at += entries;
  }
  if (!disttail_plausible(tail, keep)) {
    std::free(tail);
    return false;
  }
  freedistribution(&profile->distribution);
  profile->distribution = {minimum + static_cast<int64_t>(need), maximum, offset, tail, keep};
  profile->multiplier = multiplier;
  *cursor = end;
  return true;
}

}  // namespace

bool distindex_read_tops(const char *filename, ProfileCollection *collection, double target) {
  MappedFile file(filename);
  if (file.bytes == nullptr) return false;
  ChunkIndex index;
  if (!findindex(file, &index)) return false;
  ChunkInflater inflater;
  TopEntries top;
  uint64_t cursor = 0;
  for (uint64_t i = 0; i < collection->numofprofiles; i++) {
    if (!readtop(&inflater, file, index, &cursor, target, &top, &collection->profiles[i])) {
      for (uint64_t j = 0; j <= i; j++) freedistribution(&collection->profiles[j].distribution);
      return false;
    }
  }
  return true;
}
