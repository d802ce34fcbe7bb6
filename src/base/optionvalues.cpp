// Conversions of option values shared by the programs' command lines.
#include "base/optionvalues.hpp"

#include <unistd.h>

#include <cctype>
#include <cstdio>

#include "base/error.hpp"

int readcount(const char *text, const char *option, uint64_t *ret_value) {
  const char *c = text;
  while (std::isspace(static_cast<unsigned char>(*c))) c++;
  if (*text == '\0') {
    *ret_value = 0;
    return 0;
  }
  if (*c == '+') c++;
  if (!std::isdigit(static_cast<unsigned char>(*c))) {
    return reporterror("Option %s expects a non-negative integer value.", option);
  }
  uint64_t value = 0;
  bool toolarge = false;
  for (; std::isdigit(static_cast<unsigned char>(*c)); c++) {
    const uint64_t digit = static_cast<uint64_t>(*c - '0');
    if (value > (UINT64_MAX - digit) / 10) toolarge = true;
    value = value * 10 + digit;
  }
  if (*c != '\0') return reporterror("Option %s expects a non-negative integer value.", option);
  if (toolarge) return reporterror("Value too large for option %s.", option);
  *ret_value = value;
  return 0;
}

int readreal(const char *text, const char *option, double *ret_value) {
  for (size_t i = 1; text[0] != '\0' && text[i] != '\0'; i++) {
    if ((text[i] == '+' || text[i] == '-') && text[i - 1] != 'e' && text[i - 1] != 'E') {
      return reporterror("Option %s expects a floating point value.", option);
    }
  }
  if (std::sscanf(text, "%lf", ret_value) != 1) {
    return reporterror("Option %s expects a floating point value.", option);
  }
  return 0;
}

uint64_t jobsfromprocessors(long online, long configured, bool statusoff) {
  long processors = online > 0 ? online : configured;
  if (processors <= 0) {
    if (!statusoff) {
      std::fputs("WARNING: could not determine number of CPUs, using single.\n", stderr);
    }
    return 1;
  }
  return static_cast<uint64_t>(processors) > maximumjobs ? maximumjobs
                                                         : static_cast<uint64_t>(processors);
}

uint64_t processorjobs(bool statusoff) {
  return jobsfromprocessors(sysconf(_SC_NPROCESSORS_ONLN), sysconf(_SC_NPROCESSORS_CONF),
                            statusoff);
}
