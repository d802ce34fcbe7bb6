// The output lock and the two switches for status lines and warnings. Every write to
// standard output or standard error while searching goes through the lock. Results go to
// standard output through writeoutput, whose failures the program's end reports.
#pragma once

#include <cstdio>

// Where warnings go instead of standard error: sink receives "WARNING: " and the text, under
// the output lock. The scan library collects the warnings of a call this way and hands them
// to its caller on the caller's thread.
using WarningSink = void (*)(const char *text, void *context);

// The switches of a program (the process's) or of a library call: every thread prints
// through the process's unless it uses switches of its own (a call context: see
// ThreadContext in base/threads.hpp; worker threads start with their creator's). The
// functions below read and set the calling thread's.
struct OutputSwitches {
  bool status = true;
  bool warnings = true;
  WarningSink sink = nullptr;  // null: standard error
  void *sinkcontext = nullptr;
};
// Makes switches the calling thread's (null: the process's again); returns the previous
// ones (null for the process's).
OutputSwitches *useoutputswitches(OutputSwitches *switches);

// Creates the output lock once (0, or non-zero on failure) and sets the switches.
int outputinit(bool statusmessages, bool warnings);
// The end of a program's printing; the lock itself lives as long as the process.
void outputdestroy();
bool statusenabled();
bool warningsenabled();
void outputlock();
void outputunlock();

// A status line on standard error under the output lock, only when status lines are on.
[[gnu::format(printf, 1, 2)]] void printstatus(const char *format, ...);
// "WARNING: " and the text on standard error under the output lock, only when warnings are on.
[[gnu::format(printf, 1, 2)]] void printwarning(const char *format, ...);
// Sets the sink of the switches (a null sink restores standard error).
void setwarningsink(WarningSink sink, void *context);

// Results on standard output. Every write is checked and the reason of the first one that
// fails is kept, so that a run whose output was lost (a full disk, a closed standard output)
// ends with an error instead of passing for a complete one.
//
// Writes text to standard output in one call under the output lock: 0, or -1 with "cannot
// write to standard output: %s" (the system's reason) in the ErrorBuffer.
int writeoutput(const char *text, size_t length);
// Whether a write to standard output, or a flush of it, has failed.
bool outputfailed();
// Flushes and closes standard output, last thing before the program ends: 0, or -1 with
// "cannot write to standard output: %s" in the ErrorBuffer when any write, the flush or the
// close failed. A standard output that was closed before the program started fails only
// when something was written to it.
int closestandardoutput();
// The end of a program that wrote to standard output: closes it and returns status, or 1
// after printing "*** Error: %s\n" with the message of closestandardoutput.
int finishoutput(int status);
