// The scan library's shared services: the guard of every entry point (the call's own message
// buffer and warnings, the message of a failure), the thread count and the version.
#include <sched.h>

#include <cctype>
#include <cstdio>
#include <string_view>
#include <mutex>

#include "base/error.hpp"
#include "base/mapfile.hpp"
#include "base/optionvalues.hpp"
#include "base/output.hpp"
#include "scan/scaninternal.hpp"
#include "sequences/multiseq.hpp"

namespace {

thread_local std::string lastmessage;
// The handler of the calls whose options name none.
std::mutex defaultlock;
ScanWarningFunction defaulthandler = nullptr;
void *defaultcontext = nullptr;

}  // namespace

ScanCall::ScanCall(bool warnings, ScanWarningFunction handler, void *context)
    : handler_(handler), context_(context) {
  if (handler_ == nullptr) {
    std::lock_guard<std::mutex> guard(defaultlock);
    handler_ = defaulthandler;
    context_ = defaultcontext;
  }
  // The call reports into a buffer of its own and prints through switches of its own (as do
  // the threads it starts), so that calls of several threads run side by side. A message
  // about a long file name or pasted text is a failure to report, not a reason to end the
  // caller's process. The core prints no status lines for the library; its warnings come to
  // this call.
  errors_.cutlong = true;
  setmapslotsanydescriptor(true);
  setsequencefilesread(true);
  outerrors_ = useerrorbuffer(&errors_);
  output_.status = false;
  output_.warnings = warnings;
  output_.sink = collect;
  output_.sinkcontext = this;
  outeroutput_ = useoutputswitches(&output_);
  outputinit(false, warnings);
}

ScanCall::~ScanCall() {
  useoutputswitches(outeroutput_);
  useerrorbuffer(outerrors_);
  // The caller's buffer holds the message of a failure too, as a program's would.
  if (!lastfailure_.empty()) seterrortext(lastfailure_);
  deliverwarnings();
}

void ScanCall::collect(const char *text, void *call) {
  static_cast<ScanCall *>(call)->warnings_.emplace_back(text);
}

void ScanCall::deliverwarnings() {
  // Taken out first: a handler may itself cause warnings to be collected.
  std::vector<std::string> pending;
  outputlock();
  pending.swap(warnings_);
  outputunlock();
  for (const std::string &text : pending) {
    if (handler_ != nullptr) {
      handler_(text.c_str(), context_);
    } else {
      std::fflush(stdout);
      std::fputs(text.c_str(), stderr);
    }
  }
}

// The core's base services put their source unit and line in front of some messages
// ("mapfile, line 90: cannot read file ..."); the user gets the message without them.
std::string withoutsourceplace(const char *message) {
  std::string_view text(message);
  size_t i = 0;
  while (i < text.size() && (std::isalnum(static_cast<unsigned char>(text[i])) ||
                             text[i] == '_' || text[i] == '-' || text[i] == '.')) {
    i++;
  }
  if (i == 0 || !text.substr(i).starts_with(", line ")) return std::string(text);
  size_t j = i + 7;
  const size_t digits = j;
  while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j]))) j++;
  if (j == digits || !text.substr(j).starts_with(": ")) return std::string(text);
  return std::string(text.substr(j + 2));
}

int ScanCall::finish(int result) {
  if (result != 0) {
    lastmessage = withoutsourceplace(errormessageorunknown());
    lastfailure_ = errormessageorunknown();
    result = -1;
  }
  clearerrorcode();
  return result;
}

const char *scan_errormessage() { return lastmessage.c_str(); }

void scan_setwarninghandler(ScanWarningFunction handler, void *context) {
  std::lock_guard<std::mutex> guard(defaultlock);
  defaulthandler = handler;
  defaultcontext = context;
}

uint64_t scan_availablethreads() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return count > static_cast<int>(maximumjobs) ? maximumjobs : count;
  }
  return processorjobs(true);
}

const char *scan_version() { return "Zelko 1.3 64bit, compiled on " __DATE__ " at " __TIME__; }

const char *scanstrandcode(unsigned char strand) {
  switch (strand) {
    case 1: return "fn";
    case 2: return "rn";
    case 4: return "fc";
    default: return "rc";
  }
}
