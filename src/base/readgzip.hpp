// Reading a gzip-compressed file into memory in one piece.
#pragma once

#include <cstdint>
#include <source_location>

// Decompresses the whole file at path into a new buffer (allocated on behalf of the caller's
// unit and line; the caller frees it) and returns it with the decompressed length in
// *ret_length, in one pass (pipes and fifos too). An empty content
// gives a buffer of one byte and length 0. Null with the message in the ErrorBuffer (text
// only) when the file cannot be opened, read or closed.
unsigned char *readgzipfile(const char *path, uint64_t *ret_length,
                            std::source_location where = std::source_location::current());
