// Whole-file memory maps, recorded in a registry of 64 slots indexed by descriptor number
// together with the source unit and line that mapped them. A mapped file's descriptor stays
// open until the map is released.
#pragma once

#include <cstdint>
#include <source_location>

// Maps the whole file at path: read-only, or, with writable, as a private copy that may be
// written (the file itself never changes). Returns the address and the length in
// *ret_length, or null with "%s, line %lu: cannot read file \"%s\": ..." (the caller's unit
// and line) in the ErrorBuffer, text only. An empty file cannot be mapped.
void *mapwholefile(const char *path, bool writable, uint64_t *ret_length,
                   std::source_location where = std::source_location::current());
// Releases a map made by mapwholefile and closes its file: 0; -1 for a null address; -2 when
// the address is not a registered map (nothing is touched: callers holding either a map or an
// allocated block free the block themselves); -3 when unmapping failed; -4 when closing failed.
int unmapfile(const void *address, std::source_location where = std::source_location::current());

// Whether address is the start of a registered map (no message either way).
bool ismappedfile(const void *address);
// Lets a descriptor of 64 or more take any free slot: a library whose host process holds
// many files open (an interpreter, a notebook) maps files whatever their descriptors' numbers.
// Off by default, as the programs refuse such descriptors.
void setmapslotsanydescriptor(bool any);
// The whole file at path read into a block of its own (advised as huge pages), for a caller
// that frees it with free: as mapwholefile's private copy, with the same messages, but
// neither registered nor held open, and quick to reach anywhere in (a table writer reading
// matched letters all over a genome). Null after a message.
void *readwholefile(const char *path, uint64_t *ret_length,
                    std::source_location where = std::source_location::current());
// Total number of bytes currently mapped.
uint64_t mappedbytes();

// Advises huge pages under a large allocated block that is about to be filled: filling fresh
// memory otherwise takes a page fault every 4 KiB, a fair share of reading a genome. Only
// advice; blocks under 8 MiB are left alone.
void advisehugepages(void *block, uint64_t length);
// Makes the pages of a writable map or allocated block present at once, where the kernel
// can, instead of one fault per page as they are first written (for a private map: its
// private copies). Only a hint, like advisehugepages; blocks under 16 KiB are left alone.
void prefaultwritable(void *block, uint64_t length);
