// The ErrorBuffer, the two ways of reporting a recoverable failure, the fatal stops and the
// allocation helpers that exit on failure.
//
// Contents: ErrorBuffer and its access; reporterror / reporttext; internalerror; fatalcase;
// allocorexit, copystring; sourceunit.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <source_location>
#include <string_view>
#include <type_traits>

// Base name of a source path without directory and last extension: "src/matching/profile.templ.hpp"
// gives "profile.templ". Messages name the source unit this way.
constexpr std::string_view sourceunit(std::string_view path) {
  const size_t slash = path.find_last_of('/');
  if (slash != std::string_view::npos) path.remove_prefix(slash + 1);
  const size_t dot = path.find_last_of('.');
  if (dot != std::string_view::npos && dot > 0) path = path.substr(0, dot);
  return path;
}

constexpr size_t errorcapacity = 1024;

// The current message of a program or of a library call, and a pending error code. Every
// thread reports into the process's buffer unless it uses a buffer of its own (a call
// context: see ThreadContext in base/threads.hpp); worker threads start with their
// creator's, so that the top of a program, or of a call, reads its workers' failures after
// joining them. The functions below work on the calling thread's buffer.
struct ErrorBuffer {
  char text[errorcapacity] = {};
  std::atomic<int64_t> code{0};  // worker threads that fail set it at the same time
  bool cutlong = false;          // cut overlong messages instead of ending the process
};
// Makes buffer the calling thread's (null: the process's again); returns the previous one
// (null for the process's).
ErrorBuffer *useerrorbuffer(ErrorBuffer *buffer);
// Replaces the message by text (at most 1023 characters), the code unchanged.
void seterrortext(std::string_view text);

// The text space (1024 bytes, NUL-terminated) holding the current message.
char *errormessagespace();
size_t errormessagecapacity();
void seterrorcode(int64_t code);
int64_t geterrorcode();
void clearerrorcode();
// The message to print: the text space, or "<unknown>" when it is empty.
const char *errormessageorunknown();

// Recoverable failure of an upper layer: formats the message into the ErrorBuffer (whole,
// under a lock, so concurrent reports never interleave), sets the error code to 1 and
// returns -1. A message of 1024 or more characters is fatal:
// "file %s, line %lu: space for errormessage too small", unless long messages are cut
// (setlongmessagescut).
[[gnu::format(printf, 3, 4)]] int reporterror_at(const char *file, unsigned long line,
                                                  const char *format, ...);
// The same for the base services: writes the text only; the calling upper layer sets the code.
[[gnu::format(printf, 3, 4)]] int reporttext_at(const char *file, unsigned long line,
                                                 const char *format, ...);
#define reporterror(...) reporterror_at(__FILE__, __LINE__, __VA_ARGS__)
#define reporttext(...) reporttext_at(__FILE__, __LINE__, __VA_ARGS__)

// A library that must never end its host process (the scan library, under Python too) cuts
// overlong messages in its buffers instead: their start, "..." and their last 200 characters
// (which say what went wrong), in all at most 1023. Off by default; sets the calling
// thread's buffer.
void setlongmessagescut(bool cut);

// An impossible case in the program's own layers: reports "Internal program error (%s, line
// %lu). This should not happen. :-(" and returns -1. Not fatal by itself.
int internalerror(std::source_location where = std::source_location::current());

// An impossible case in the base services: prints "%s: line %lu: This case is not supposed to
// occur" on standard error and exits with status 1.
[[noreturn]] void fatalcase(std::source_location where = std::source_location::current());
[[noreturn]] void fatalcase_at(const char *unit, unsigned long line);

// Prints "file %s, line %lu: malloc(%lu) failed" and exits with status 1.
[[noreturn]] void allocationfailed(const char *file, unsigned long line, size_t bytes);

// Resizes (or, with a null old block, allocates) an array of count elements; on failure the
// call site is named in the fatal message. A count of 0 frees the block and returns null:
// nothing allocates zero bytes.
template <typename T>
T *allocorexit_at(T *old, size_t count, const char *file, unsigned long line) {
  if (count == 0) {
    std::free(old);
    return nullptr;
  }
  if (count > SIZE_MAX / sizeof(T)) allocationfailed(file, line, SIZE_MAX);  // size overflows
  void *block = std::realloc(old, count * sizeof(T));
  if (block == nullptr) allocationfailed(file, line, count * sizeof(T));
  return static_cast<T *>(block);
}
template <typename T>
T *allocorexit(T *old, size_t count, std::source_location where = std::source_location::current()) {
  return allocorexit_at(old, count, where.file_name(), where.line());
}

// A new copy of text (length plus 1 bytes), allocated on behalf of the call site.
char *copystring_at(const char *text, size_t length, const char *file, unsigned long line);
inline char *copystring(std::string_view text,
                        std::source_location where = std::source_location::current()) {
  return copystring_at(text.data(), text.size(), where.file_name(), where.line());
}

// Frees a block owned through a field and sets the field to null; null fields are skipped.
template <typename T>
void freeandnull(T *&field) {
  std::free(const_cast<std::remove_const_t<T> *>(field));
  field = nullptr;
}

// Installs a new-handler that ends the process with one line and status 1 instead of an
// uncaught exception.
void installnewhandler();
