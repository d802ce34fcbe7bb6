// Output files written whole or not at all: the content goes to a new file beside the output
// file, which replaces it when complete, so that a failed or cancelled run leaves an older
// file of that name as it was and never a half-written one.
#pragma once

#include <cstdio>
#include <string>

struct ReplacingFile {
  std::string finalpath;  // the file replaced: the name given, or the file a link names
  std::string temporary;  // empty when the output is written directly
  FILE *stream = nullptr;
};

// Opens path for writing. A regular file, existing or new, is written through a temporary
// file beside it, with the permissions of the file it replaces (or those a new file gets);
// a link to a regular file replaces the file it names and stays a link. A name that exists
// and is no regular file (a device such as /dev/null, a FIFO, /dev/stdout) is opened and
// written directly, since renaming over it would replace the device. 0, or -1 with errno set.
int replacefile_open(ReplacingFile *file, const char *path, bool binary = false);
// Flushes and closes the stream and puts the file in place: 0, or -1 with errno set, in
// which case the temporary file is gone and the old file is as it was.
int replacefile_commit(ReplacingFile *file);
// Closes the stream and removes the temporary file, leaving the old file as it was.
void replacefile_discard(ReplacingFile *file);
