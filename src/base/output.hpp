// The output lock and the two process-wide switches for status lines and warnings. Every
// write to standard output or standard error while searching goes through the lock.
#pragma once

#include <cstdio>

// Creates the output lock (0, or non-zero on failure) and sets the switches.
int outputinit(bool statusmessages, bool warnings);
void outputdestroy();
bool statusenabled();
bool warningsenabled();
void outputlock();
void outputunlock();

// A status line on standard error under the output lock, only when status lines are on.
[[gnu::format(printf, 1, 2)]] void printstatus(const char *format, ...);
// "WARNING: " and the text on standard error under the output lock, only when warnings are on.
[[gnu::format(printf, 1, 2)]] void printwarning(const char *format, ...);
// Where warnings go instead of standard error: sink receives "WARNING: " and the text, under
// the output lock. A null sink restores standard error. The scan library collects the
// warnings of a call this way and hands them to its caller on the caller's thread.
using WarningSink = void (*)(const char *text, void *context);
void setwarningsink(WarningSink sink, void *context);
// Writes a formatted record to a stream in one call under the output lock.
void writelocked(FILE *stream, const char *text, size_t length);
