// Test helper: a private scratch folder, removed with its files when the test ends.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "base/error.hpp"

class ScratchFolder {
 public:
  ScratchFolder() {
    char pattern[] = "/tmp/zelkotest.XXXXXX";
    const char *made = mkdtemp(pattern);
    EXPECT_NE(made, nullptr);
    folder_ = made == nullptr ? std::string("/tmp") : std::string(made);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  ScratchFolder(const ScratchFolder &) = delete;
  ScratchFolder &operator=(const ScratchFolder &) = delete;

  const std::string &path() const { return folder_; }
  std::string path(std::string_view name) const { return folder_ + "/" + std::string(name); }
  // Writes content (bytes as given) to name and returns the file's path.
  std::string write(std::string_view name, std::string_view content) const {
    const std::string file = path(name);
    std::FILE *stream = std::fopen(file.c_str(), "wb");
    EXPECT_NE(stream, nullptr) << file;
    if (stream != nullptr) {
      std::fwrite(content.data(), 1, content.size(), stream);
      std::fclose(stream);
    }
    return file;
  }
  std::string mkdir(std::string_view name) const {
    const std::string sub = path(name);
    std::filesystem::create_directories(sub);
    return sub;
  }

 private:
  std::string folder_;
};

inline std::string errortext() { return std::string(errormessagespace()); }
