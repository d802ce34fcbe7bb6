// Writer of the distribution file that the threshold preparation reads: one record per
// Profile in library order (minimum, maximum and offset as signed 64-bit integers, the
// multiplier as a double, then the tail table), as one gzip stream at compression level 9,
// followed by the chunk index that lets a reader inflate only the tops of the tables.
//
// A regular output file is written under a temporary name in its own folder and renamed over
// the output name only once the last record is written and the stream is closed, so a failed
// run never leaves a partial file under that name, and an older file of that name survives
// it. Other targets (devices, pipes, a link to nowhere) are written directly.
#pragma once

#include <cstdint>
#include <vector>

#include "model/distribution.hpp"
#include "statistics/distindex.hpp"

struct DistributionWriter {
  const char *filename;  // the output name as given, for messages (borrowed)
  char *finalname;       // owned: the file that receives the result
  char *temporaryname;   // owned: the file being written; null when writing finalname directly
  int descriptor;        // the open file, else -1
  bool started;          // the gzip header is put
  uint64_t written;      // uncompressed bytes of the records put
  uint32_t crc;          // CRC-32 of those bytes
  uint64_t fileoffset;   // bytes of the file put so far, written out or pending
  std::vector<unsigned char> pending;   // compressed bytes not yet written out
  std::vector<DistIndexChunk> chunks;   // every chunk put, at its place in the file
};

// Starts the file: 0, or -1 with "Couldn't open probability distribution file `%s'." (or
// "... `%s' (out of memory)." when the system names no cause). Nothing is left behind on
// failure.
int distwriter_open(DistributionWriter *writer, const char *filename);
// Appends the record of one distribution made with multiplier: 0, or -1 with "Failed to write
// %lu bytes to `%s'." naming the bytes of the record's tail table when writing out fails
// while it is put. A distribution whose numbers do not describe a table (size not maximum -
// minimum + 1, no table, a multiplier outside (0, 1000]) is an internal error.
int distwriter_append(DistributionWriter *writer, const ScoreDistribution *distribution,
                      double multiplier);
// One record deflated on its own (level 9, flushed at the points the index lists, ending on a
// byte boundary), ready to be put by distwriter_write_records; several threads may compress
// records at once.
struct CompressedRecord {
  unsigned char *data;        // owned
  uint64_t compressedlength;  // bytes of data
  uint64_t length;            // the record's uncompressed bytes
  uint32_t crc;               // CRC-32 of those bytes
  DistIndexChunk *chunks;     // owned: the record's chunks, starts counted in data
  uint64_t chunkcount;
};
// Compresses the record of a distribution made with multiplier: 0, or -1 (an internal error)
// for numbers that do not describe a table, as distwriter_append.
int distwriter_compress_record(const ScoreDistribution *distribution, double multiplier,
                               CompressedRecord *ret_record);
void distwriter_free_record(CompressedRecord *record);
// Puts count compressed records in order, as distwriter_append would put them, and frees
// them all (also after a failure). 0, or -1 with the message of distwriter_append.
int distwriter_write_records(DistributionWriter *writer, CompressedRecord *records,
                             uint64_t count);
// Ends the stream, appends the chunk index and puts the file in place: 0, or -1 with "Failed
// to write %lu bytes to `%s'." (all bytes of the records) when the rest of the file cannot be
// written, closed or renamed; the writer is then abandoned.
int distwriter_finish(DistributionWriter *writer);
// Closes the file and removes the temporary file, leaving the output name as it was.
// Safe to call on a finished or abandoned writer.
void distwriter_abandon(DistributionWriter *writer);
