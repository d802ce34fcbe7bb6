// The output lock and the status and warning switches.
#include "base/output.hpp"

#include <cstdarg>
#include <string>

#include "base/threads.hpp"

namespace {
Mutex outputmutex;
bool outputready = false;
bool statusswitch = true;
bool warningswitch = true;
WarningSink warningsink = nullptr;
void *warningcontext = nullptr;
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
  if (warningsink != nullptr) {
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    std::string text = "WARNING: ";
    const size_t prefix = text.size();
    text.resize(prefix + static_cast<size_t>(length > 0 ? length : 0) + 1);
    std::vsnprintf(text.data() + prefix, text.size() - prefix, format, args);
    text.pop_back();
    warningsink(text.c_str(), warningcontext);
  } else {
    std::fflush(stdout);
    std::fputs("WARNING: ", stderr);
    std::vfprintf(stderr, format, args);
  }
  outputunlock();
  va_end(args);
}

void setwarningsink(WarningSink sink, void *context) {
  outputlock();
  warningsink = sink;
  warningcontext = context;
  outputunlock();
}

void writelocked(FILE *stream, const char *text, size_t length) {
  outputlock();
  std::fwrite(text, 1, length, stream);
  outputunlock();
}
