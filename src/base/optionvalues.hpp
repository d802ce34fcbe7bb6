// Conversions of option values shared by the programs' command lines: non-negative integers,
// real numbers and the processor count that -j without a value stands for.
#pragma once

#include <cstdint>

// The largest number of jobs.
constexpr uint64_t maximumjobs = 128;

// A non-negative decimal integer: blanks and one '+' may lead, every other character must be
// a digit, an empty text is 0. 0, or -1 with "Option %s expects a non-negative integer value."
// or "Value too large for option %s." (code set).
int readcount(const char *text, const char *option, uint64_t *ret_value);
// A real number: after the first character a sign may only follow 'e' or 'E'; the text must
// then start with a number ("%lf"; what follows it is ignored). 0, or -1 with "Option %s
// expects a floating point value." (code set).
int readreal(const char *text, const char *option, double *ret_value);

// Number of jobs for -j without a value from the processor counts reported by the system:
// the online count, else the configured count, at most 128; when neither is positive, 1 and,
// unless status messages are suppressed, "WARNING: could not determine number of CPUs, using
// single." on standard error.
uint64_t jobsfromprocessors(long online, long configured, bool statusoff);
// The same with the counts of this machine.
uint64_t processorjobs(bool statusoff);
