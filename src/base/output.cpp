// The output lock and the status and warning switches.
#include "base/output.hpp"

#include <cstdarg>

#include "base/threads.hpp"

namespace {
Mutex outputmutex;
bool outputready = false;
bool statusswitch = true;
bool warningswitch = true;
}  // namespace

int outputinit(bool statusmessages, bool warnings) {
  statusswitch = statusmessages;
  warningswitch = warnings;
  if (!outputready) {
    if (mutexinit(&outputmutex) != 0) return -1;
    outputready = true;
  }
  return 0;
}

void outputdestroy() {
  if (outputready) {
    mutexdestroy(&outputmutex);
    outputready = false;
  }
}

bool statusenabled() { return statusswitch; }
bool warningsenabled() { return warningswitch; }

void outputlock() {
  if (outputready) mutexlock(&outputmutex);
}
void outputunlock() {
  if (outputready) mutexunlock(&outputmutex);
}

void printstatus(const char *format, ...) {
  if (!statusswitch) return;
  va_list args;
  va_start(args, format);
  outputlock();
  std::fflush(stdout);  // keep records and status lines in order on a shared terminal
  std::vfprintf(stderr, format, args);
  outputunlock();
  va_end(args);
}

void printwarning(const char *format, ...) {
  if (!warningswitch) return;
  va_list args;
  va_start(args, format);
  outputlock();
  std::fflush(stdout);
  std::fputs("WARNING: ", stderr);
  std::vfprintf(stderr, format, args);
  outputunlock();
  va_end(args);
}

void writelocked(FILE *stream, const char *text, size_t length) {
  outputlock();
  std::fwrite(text, 1, length, stream);
  outputunlock();
}
