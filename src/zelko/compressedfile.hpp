// Tables written BGZF-compressed (htslib), the blocked gzip that zcat, bgzip and tabix read,
// through an ordinary stream; and the tabix index of such a file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

struct BGZF;

// A stream whose bytes go compressed to a file descriptor (a copy of it: the caller's stays
// open). threads: compressing threads besides the writer's (0: none).
struct CompressedStream {
  BGZF *bgzf = nullptr;
  FILE *stream = nullptr;
  int error = 0;  // errno of the first failed write
};
// 0, or -1 with errno set.
int compressedstream_open(int descriptor, uint64_t threads, CompressedStream *compressed);
// Writes what is buffered, the end-of-file block, and closes: 0, or -1 with errno set.
int compressedstream_close(CompressedStream *compressed);

// Whether a file name asks for compression: it ends in ".gz".
bool compressedname(const char *path);

enum IndexedTable { INDEXED_TSV, INDEXED_BED, INDEXED_GFF3 };
// Writes the index of a compressed table in genome order beside it: FILE.tbi, or FILE.csi
// when a sequence is longer than a .tbi can index (512 Mbp). 0, or -1 with the reason in
// *ret_message.
int writetableindex(const std::string &path, IndexedTable table, uint64_t longest,
                    std::string *ret_message);
