// Shared by the fuzz targets: the input bytes as a file of their own (the readers take file
// names), quiet output and a clean error state for every run.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "base/error.hpp"
#include "base/output.hpp"

// Writes data to a per-process scratch file whose name ends in suffix and returns the name.
inline std::string fuzzinputfile(const uint8_t *data, size_t size, const char *suffix) {
  static const std::string folder = [] {
    const char *shm = "/dev/shm";
    return std::string(access(shm, W_OK) == 0 ? shm : "/tmp");
  }();
  const std::string name =
      folder + "/zelkofuzz." + std::to_string(getpid()) + suffix;
  FILE *file = std::fopen(name.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);
  return name;
}

// Silences status lines and warnings once and clears the error left by the previous run.
inline void fuzzrunstart() {
  static const bool quiet = (outputinit(false, false), true);
  (void)quiet;
  clearerrorcode();
  errormessagespace()[0] = '\0';
}
