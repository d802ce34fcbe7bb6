// Helpers for the library tests: write a library text to a temporary file, parse it with a
// given alphabet and keep what the parse said on standard error.
#pragma once

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "base/error.hpp"
#include "base/output.hpp"
#include "profiles/libparse.hpp"

struct ParseOutcome {
  int status;
  std::string message;  // the ErrorBuffer after a failure
  int64_t code;
  std::string stderrtext;
};

inline std::string writetempfile(const std::string &text, const std::string &name = "lib") {
  static int counter = 0;
  const std::string path = testing::TempDir() + "profiles_" + name + "_" +
                           std::to_string(getpid()) + "_" + std::to_string(counter++) + ".lib";
  std::ofstream out(path, std::ios::binary);
  out << text;
  return path;
}

// Parses the file; on success the caller owns the collection and frees it.
inline ParseOutcome parsefile(const std::string &path, const Alphabet *alpha,
                              ProfileCollection *collection, bool warnings = true,
                              bool status = false) {
  outputinit(status, warnings);
  clearerrorcode();
  errormessagespace()[0] = '\0';
  testing::internal::CaptureStderr();
  ParseOutcome outcome;
  outcome.status = parselibrary(path.c_str(), alpha, collection);
  outcome.stderrtext = testing::internal::GetCapturedStderr();
  outcome.message = errormessagespace();
  outcome.code = geterrorcode();
  outputinit(true, true);
  return outcome;
}

inline ParseOutcome parsetext(const std::string &text, const Alphabet *alpha,
                              ProfileCollection *collection, bool warnings = true) {
  return parsefile(writetempfile(text), alpha, collection, warnings);
}

inline std::string datafile(const char *name) {
  return std::string(ZELKO_TEST_DATA) + "/profiles/" + name;
}
