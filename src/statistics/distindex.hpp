// The chunk index of a distribution file, and the reader that uses it to take from each
// record only the top of its tail table.
//
// The writer ends the deflate data at fixed points (a full flush: byte-aligned, no reference
// to earlier data): after each record's 32 numbers, and in the tail table every
// `distindexchunkbytes` counted down from the table's top. After the gzip member that holds
// the records it appends empty gzip members whose extra field lists every such chunk: where
// its deflate data starts in the file, its length before compression and its CRC-32. The
// members hold no data, so the file still decompresses to the records alone, and any gzip
// reader takes it as before.
//
// A p-value or E-value threshold, and every p-value a report asks for at a score that
// reaches it, need only the part of a table above the threshold. With the index that part is
// inflated chunk by chunk from the top of each table, a small fraction of the file.
#pragma once

#include <cstdint>
#include <vector>

#include "model/profile.hpp"

// Uncompressed bytes between two flush points of a tail table (2048 entries). Smaller
// chunks inflate less beyond the threshold and keep level-9 match searches short, at the
// cost of a block header and an index entry each.
constexpr uint64_t distindexchunkbytes = UINT64_C(1) << 14;

struct DistIndexChunk {
  uint64_t start;   // offset of the chunk's deflate data: in the file, or in its record's data
  uint32_t length;  // bytes before compression
  uint32_t crc;     // CRC-32 of those bytes
};

// The empty gzip members that carry the index of chunks, for a file whose index members
// start at byte firstmember; appended to out.
void distindex_append_members(const DistIndexChunk *chunks, uint64_t count, uint64_t firstmember,
                              std::vector<unsigned char> *out);

// A record's numbers must be those of a distribution: totals and offset within the score
// infinities, so that no total minus offset overflows, and a multiplier in (0, 1000].
bool distrecord_plausible(int64_t minimum, int64_t maximum, int64_t offset, double multiplier);
// Tail entries are probabilities of ever higher totals: finite, within [0, 1] and never rising
// from one entry to the next. Frequencies written with a few decimals add up to a little more
// than 1, and the table's top entry is that sum to the power of the matrix length: such
// slack (up to 1e-3) is no sign of a damaged file.
bool disttail_plausible(const double *tail, uint64_t size);

// Reads, for every Profile of the collection, the top of its record's tail table down to the
// first entry above target (or one further, keeping the parity of the table's minimum, so
// that lookups round alike; the whole table when no entry is above it), into the Profile's
// distribution and multiplier. The entries held equal the file's bit for bit; every entry
// read is checked against its CRC-32.
// Returns true when every Profile got its table. False, with nothing printed and the
// ErrorBuffer untouched, when the file has no valid index or anything in it does not add up;
// the caller then reads the file record by record, which reports what is wrong.
bool distindex_read_tops(const char *filename, ProfileCollection *collection, double target);
