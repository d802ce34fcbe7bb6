// The output lock, the status and warning switches, and the checked writes to standard output.
#include "base/output.hpp"

#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "base/error.hpp"
#include "base/threads.hpp"

namespace {
Mutex outputmutex;
bool outputready = false;
bool statusswitch = true;
bool warningswitch = true;
int outputfailure = 0;  // errno of the first failed write to standard output

// Flushes standard output, keeping the reason of a failure; the caller holds the output lock
// or runs alone.
void flushstandardoutput() {
  errno = 0;
  if (std::fflush(stdout) != 0 && outputfailure == 0) outputfailure = errno != 0 ? errno : EIO;
}
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
  flushstandardoutput();  // keep records and status lines in order on a shared terminal
  std::vfprintf(stderr, format, args);
  outputunlock();
  va_end(args);
}

void printwarning(const char *format, ...) {
  if (!warningswitch) return;
  va_list args;
  va_start(args, format);
  outputlock();
  flushstandardoutput();
  std::fputs("WARNING: ", stderr);
  std::vfprintf(stderr, format, args);
  outputunlock();
  va_end(args);
}

int writeoutput(const char *text, size_t length) {
  outputlock();
  errno = 0;
  if (std::fwrite(text, 1, length, stdout) != length && outputfailure == 0)
    outputfailure = errno != 0 ? errno : EIO;
  const int failure = outputfailure;
  outputunlock();
  if (failure == 0) return 0;
  return reporttext("cannot write to standard output: %s", std::strerror(failure));
}

bool outputfailed() {
  outputlock();
  const bool failed = outputfailure != 0 || std::ferror(stdout) != 0;
  outputunlock();
  return failed;
}

int closestandardoutput() {
  // Whatever was printed outside writeoutput goes out now and counts too.
  flushstandardoutput();
  if (outputfailure == 0 && std::ferror(stdout) != 0) outputfailure = EIO;
  // After a successful flush, EBADF means that standard output was closed from the start and
  // nothing was written to it.
  errno = 0;
  if (std::fclose(stdout) != 0 && outputfailure == 0 && errno != EBADF)
    outputfailure = errno != 0 ? errno : EIO;
  if (outputfailure == 0) return 0;
  return reporttext("cannot write to standard output: %s", std::strerror(outputfailure));
}

int finishoutput(int status) {
  if (closestandardoutput() == 0) return status;
  std::fprintf(stderr, "*** Error: %s\n", errormessageorunknown());
  return 1;
}
