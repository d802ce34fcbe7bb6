// Writer of the distribution file that the threshold preparation reads: one record per
// Profile in library order (minimum, maximum and offset as signed 64-bit integers, the
// multiplier as a double, then the tail table), as one gzip stream at compression level 9.
//
// A regular output file is written under a temporary name in its own folder and renamed over
// the output name only once the last record is written and the stream is closed, so a failed
// run never leaves a partial file under that name, and an older file of that name survives
// it. Other targets (devices, pipes, a link to nowhere) are written directly.
#pragma once

#include <zlib.h>

#include <cstdint>

#include "statistics/distribution.hpp"

struct DistributionWriter {
  const char *filename;  // the output name as given, for messages (borrowed)
  char *finalname;       // owned: the file that receives the result
  char *temporaryname;   // owned: the file being written; null when writing finalname directly
  int descriptor;        // the open file until a stream takes it over, else -1
  gzFile file;           // the stream of records appended one at a time, once started
  bool complete;         // all records were written at once
  uint64_t written;      // uncompressed bytes handed to the stream
};

// Starts the file: 0, or -1 with "Couldn't open probability distribution file `%s'." (or
// "... `%s' (out of memory)." when the system names no cause). Nothing is left behind on
// failure.
int distwriter_open(DistributionWriter *writer, const char *filename);
// Appends the record of one distribution made with multiplier: 0, or -1 with "Failed to write
// %lu bytes to `%s'." naming the bytes of the rejected write. A distribution whose numbers do
// not describe a table (size not maximum - minimum + 1, no table, a multiplier outside
// (0, 1000]) is an internal error.
int distwriter_append(DistributionWriter *writer, const ScoreDistribution *distribution,
                      double multiplier);
// One record deflated on its own (level 9, ending on a byte boundary), ready to be written
// by distwriter_write_records; several threads may compress records at once.
struct CompressedRecord {
  unsigned char *data;        // owned
  uint64_t compressedlength;  // bytes of data
  uint64_t length;            // the record's uncompressed bytes
  uint32_t crc;               // CRC-32 of those bytes
};
// Compresses the record of a distribution made with multiplier: 0, or -1 (an internal error)
// for numbers that do not describe a table, as distwriter_append.
int distwriter_compress_record(const ScoreDistribution *distribution, double multiplier,
                               CompressedRecord *ret_record);
void distwriter_free_record(CompressedRecord *record);
// Writes count compressed records in order as the whole file, which decompresses to the same
// bytes as one written record by record, and frees them. Only on a writer no record was
// appended to. 0, or -1 with "Failed to write %lu bytes to `%s'." (the uncompressed bytes of
// all records).
int distwriter_write_records(DistributionWriter *writer, CompressedRecord *records,
                             uint64_t count);
// Closes the stream and puts the file in place: 0, or -1 with "Failed to write %lu bytes to
// `%s'." (all bytes of the file) when the stream cannot be completed or renamed; the writer
// is then abandoned.
int distwriter_finish(DistributionWriter *writer);
// Closes the stream and removes the temporary file, leaving the output name as it was.
// Safe to call on a finished or abandoned writer.
void distwriter_abandon(DistributionWriter *writer);
