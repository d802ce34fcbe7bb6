// Tracked file handles: every stream opened through here is recorded with its path, mode and
// the source unit and line that opened it, so that closing an unknown or reused descriptor is
// caught at once.
#pragma once

#include <cstdint>
#include <cstdio>
#include <source_location>

// Opens path with the buffered open and mode (at most 2 characters) and registers the stream
// under its descriptor. Null with "cannot open file \"%s\": %s" in the ErrorBuffer (text only)
// when the open fails. A descriptor registered twice, an overlong mode or an overlong path
// (more than 4096 characters) stops the program.
FILE *openfilehandle(const char *path, const char *mode,
                     std::source_location where = std::source_location::current());
// Closes a registered stream: 0, or -1 with "cannot close file \"%s\": %s" (the entry then
// stays registered). A stream that was never registered stops the program.
int closefilehandle(FILE *stream, std::source_location where = std::source_location::current());

// The registry's current table length (entries) and number of open handles. The table
// grows by 16 entries at a time and is released when the last handle is closed.
uint64_t filehandletablesize();
uint64_t openfilehandlecount();
