// The output lock, the status and warning switches, and the checked writes to standard output.
#include "base/output.hpp"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <mutex>
#include <string>

#include "base/error.hpp"
#include "base/threads.hpp"

namespace {
Mutex outputmutex;
std::once_flag outputonce;
bool outputready = false;
OutputSwitches processswitches;
int outputfailure = 0;  // errno of the first failed write to standard output

// The calling thread's switches.
OutputSwitches &current() {
  void *own = threadcontext().output;
  return own != nullptr ? *static_cast<OutputSwitches *>(own) : processswitches;
}

// Flushes standard output, keeping the reason of a failure; the caller holds the output lock
// or runs alone.
void flushstandardoutput() {
  errno = 0;
  if (std::fflush(stdout) != 0 && outputfailure == 0) outputfailure = errno != 0 ? errno : EIO;
}
}  // namespace

int outputinit(bool statusmessages, bool warnings) {
  OutputSwitches &switches = current();
  switches.status = statusmessages;
  switches.warnings = warnings;
  // Created once, whichever thread comes first.
  std::call_once(outputonce, [] { outputready = mutexinit(&outputmutex) == 0; });
  return outputready ? 0 : -1;
}

OutputSwitches *useoutputswitches(OutputSwitches *switches) {
  OutputSwitches *previous = static_cast<OutputSwitches *>(threadcontext().output);
  threadcontext().output = switches;
  return previous;
}

void outputdestroy() {
  // The lock lives as long as the process: calls of other threads (a library's) may still
  // print, and a later outputinit finds it made.
}

bool statusenabled() { return current().status; }
bool warningsenabled() { return current().warnings; }

void outputlock() {
  if (outputready) mutexlock(&outputmutex);
}
void outputunlock() {
  if (outputready) mutexunlock(&outputmutex);
}

void printstatus(const char *format, ...) {
  if (!current().status) return;
  va_list args;
  va_start(args, format);
  outputlock();
  flushstandardoutput();  // keep records and status lines in order on a shared terminal
  std::vfprintf(stderr, format, args);
  outputunlock();
  va_end(args);
}

void printwarning(const char *format, ...) {
  const OutputSwitches &switches = current();
  if (!switches.warnings) return;
  va_list args;
  va_start(args, format);
  outputlock();
  if (switches.sink != nullptr) {
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    std::string text = "WARNING: ";
    const size_t prefix = text.size();
    text.resize(prefix + static_cast<size_t>(length > 0 ? length : 0) + 1);
    std::vsnprintf(text.data() + prefix, text.size() - prefix, format, args);
    text.pop_back();
    switches.sink(text.c_str(), switches.sinkcontext);
  } else {
    flushstandardoutput();
    std::fputs("WARNING: ", stderr);
    std::vfprintf(stderr, format, args);
  }
  outputunlock();
  va_end(args);
}

void setwarningsink(WarningSink sink, void *context) {
  OutputSwitches &switches = current();
  outputlock();
  switches.sink = sink;
  switches.sinkcontext = context;
  outputunlock();
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
