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
// The same for a text file whose lines hold at most maxline bytes (without the newline) and
// no NUL byte: a file that breaks this, such as a device that never ends a line, is refused
// as soon as the offending line has been read, with "line %lu of file \"%s\" is longer than
// %lu bytes" or "line %lu of file \"%s\" holds a NUL byte: no text" (text only).
unsigned char *readgziptext(const char *path, uint64_t maxline, uint64_t *ret_length,
                            std::source_location where = std::source_location::current());
// Whether the last failure of readgzipfile or readgziptext was compressed data that ends
// before its stream does (a truncated file, "cannot close gzipped file"): callers that name
// the fault in their own words ask.
bool gzipendedearly();
