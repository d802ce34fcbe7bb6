// The ErrorBuffer and the failure conventions shared by every unit.
#include "base/error.hpp"

#include "base/threads.hpp"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

namespace {

ErrorBuffer processbuffer;
// Keeps every report whole when several worker threads fail at once.
std::mutex reportlock;

// The calling thread's ErrorBuffer.
ErrorBuffer &current() {
  void *own = threadcontext().errors;
  return own != nullptr ? *static_cast<ErrorBuffer *>(own) : processbuffer;
}

std::string unitname(const char *file) { return std::string(sourceunit(file)); }

// A position at or before at that does not fall inside a UTF-8 character.
size_t characterstart(const char *text, size_t at) {
  while (at > 0 && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) at--;
  return at;
}

// An overlong message of needed characters, cut in its middle: its start, "..." and its last
// characters, which usually say what went wrong (": No such file or directory").
void cutmessage(const char *format, va_list args, size_t needed, char *cut) {
  constexpr size_t tail = 200;
  std::string whole(needed + 1, '\0');
  std::vsnprintf(whole.data(), whole.size(), format, args);
  const size_t headend = characterstart(whole.data(), errorcapacity - 4 - tail);
  size_t tailstart = needed - tail;
  while (tailstart < needed && (static_cast<unsigned char>(whole[tailstart]) & 0xC0) == 0x80) {
    tailstart++;
  }
  std::memcpy(cut, whole.data(), headend);
  std::memcpy(cut + headend, "...", 3);
  std::memcpy(cut + headend + 3, whole.data() + tailstart, needed - tailstart + 1);
}

int formatreport(const char *file, unsigned long line, const char *format, va_list args,
                 bool setcode) {
  ErrorBuffer &errorbuffer = current();
  std::lock_guard<std::mutex> guard(reportlock);
  char scratch[errorcapacity];
  va_list again;
  va_copy(again, args);
  const int needed = std::vsnprintf(scratch, sizeof scratch, format, args);
  const bool fits = needed >= 0 && static_cast<size_t>(needed) < errorcapacity;
  const bool cut = !fits && needed >= 0 && errorbuffer.cutlong;
  if (cut) cutmessage(format, again, static_cast<size_t>(needed), scratch);
  va_end(again);
  if (!fits && !cut) {
    std::fprintf(stderr, "file %s, line %lu: space for errormessage too small\n",
                 unitname(file).c_str(), line);
    std::exit(EXIT_FAILURE);
  }
  std::memcpy(errorbuffer.text, scratch, std::strlen(scratch) + 1);
  if (setcode) errorbuffer.code = 1;
  return -1;
}

}  // namespace

ErrorBuffer *useerrorbuffer(ErrorBuffer *buffer) {
  ErrorBuffer *previous = static_cast<ErrorBuffer *>(threadcontext().errors);
  threadcontext().errors = buffer;
  return previous;
}

void seterrortext(std::string_view text) {
  ErrorBuffer &errorbuffer = current();
  std::lock_guard<std::mutex> guard(reportlock);
  const size_t length = std::min(text.size(), errorcapacity - 1);
  std::memcpy(errorbuffer.text, text.data(), length);
  errorbuffer.text[length] = '\0';
}

char *errormessagespace() { return current().text; }
void setlongmessagescut(bool cut) { current().cutlong = cut; }
size_t errormessagecapacity() { return errorcapacity; }
void seterrorcode(int64_t code) { current().code = code; }
int64_t geterrorcode() { return current().code; }
void clearerrorcode() { current().code = 0; }

const char *errormessageorunknown() {
  const ErrorBuffer &errorbuffer = current();
  return errorbuffer.text[0] == '\0' ? "<unknown>" : errorbuffer.text;
}

int reporterror_at(const char *file, unsigned long line, const char *format, ...) {
  va_list args;
  va_start(args, format);
  const int result = formatreport(file, line, format, args, true);
  va_end(args);
  return result;
}

int reporttext_at(const char *file, unsigned long line, const char *format, ...) {
  va_list args;
  va_start(args, format);
  const int result = formatreport(file, line, format, args, false);
  va_end(args);
  return result;
}

int internalerror(std::source_location where) {
  return reporterror_at(where.file_name(), where.line(),
                        "Internal program error (%s, line %lu). This should not happen. :-(",
                        unitname(where.file_name()).c_str(),
                        static_cast<unsigned long>(where.line()));
}

void fatalcase_at(const char *unit, unsigned long line) {
  std::fprintf(stderr, "%s: line %lu: This case is not supposed to occur\n", unit, line);
  std::exit(EXIT_FAILURE);
}

void fatalcase(std::source_location where) {
  fatalcase_at(unitname(where.file_name()).c_str(), where.line());
}

void allocationfailed(const char *file, unsigned long line, size_t bytes) {
  std::fprintf(stderr, "file %s, line %lu: malloc(%lu) failed\n", unitname(file).c_str(), line,
               static_cast<unsigned long>(bytes));
  std::exit(EXIT_FAILURE);
}

char *copystring_at(const char *text, size_t length, const char *file, unsigned long line) {
  char *copy = allocorexit_at<char>(nullptr, length + 1, file, line);
  std::memcpy(copy, text, length);
  copy[length] = '\0';
  return copy;
}

void installnewhandler() {
  std::set_new_handler([] {
    std::fputs("out of memory\n", stderr);
    std::exit(EXIT_FAILURE);
  });
}
