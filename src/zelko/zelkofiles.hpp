// The files of a zelko command beyond its options: outputs that must not be inputs or each
// other, the temporary files a signal must not leave behind, and a sequence input that
// cannot be mapped (standard input, a pipe, a FIFO) copied to a temporary file first.
#pragma once

#include <string>
#include <vector>

// ---- Temporary files -------------------------------------------------------------------

// Removes the registered files and ends the process by the signal's default action on
// SIGINT, SIGTERM, SIGHUP and SIGPIPE, so that an interrupted command leaves no temporary
// file; a signal ignored from the start stays ignored.
void installcleanuphandlers();
// Files removed when a signal ends the process: registered once created, unregistered once
// renamed or removed. At most a few at a time (the table, the page, a sequence copy).
void registertemporary(const std::string &path);
void unregistertemporary(const std::string &path);

// ---- Outputs and inputs ----------------------------------------------------------------

struct NamedFile {
  std::string path;
  std::string role;  // "the sequence file", "motif file", "the output (-o)", ...
};

// The first output that is an input or another output (the same file by device and inode; a
// file that does not exist yet is the same as another only when both name it in the same
// folder): false with *ret_output and *ret_other set. Outputs that exist and are no regular
// file (devices such as /dev/null) are never taken as the same.
bool findsharedfile(const std::vector<NamedFile> &outputs, const std::vector<NamedFile> &inputs,
                    NamedFile *ret_output, NamedFile *ret_other);

// ---- Sequence input ----------------------------------------------------------------------

// A sequence file the scan library can map: "-" (standard input) and anything that exists
// and is no regular file or folder (a pipe, a FIFO, /dev/stdin, <(...)) are copied to a new
// file in folder (gzip data keeps a .gz name, so that it is decompressed). Indices and
// regular files stay as they are.
struct SequenceInput {
  std::string given;      // as the user named it
  std::string shown;      // its name in messages: "standard input" for "-"
  std::string path;       // what the library reads: given, or the copy
  bool copied = false;
};
// The folder of temporary files: tmpdir when given, else $TMPDIR, else /tmp.
std::string temporaryfolder(const char *tmpdir);
// 0, or -1 with the message in *ret_message.
int opensequenceinput(const std::string &given, const std::string &folder, SequenceInput *input,
                      std::string *ret_message);
// Removes the copy, if any.
void closesequenceinput(SequenceInput *input);
// A message of the library with the copy's name replaced by the name the user gave.
std::string showninput(const SequenceInput &input, const std::string &message);
