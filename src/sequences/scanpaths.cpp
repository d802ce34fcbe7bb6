// Opening a file by name, or else in the directories of a colon-separated path list taken
// from an environment variable.
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/error.hpp"
#include "base/filehandle.hpp"
#include "sequences/alphabet.hpp"

namespace {
// A tracked handle records at most this many path characters; longer joined paths are
// treated as not found rather than stopping the program.
constexpr size_t maxpathlength = 4096;
}  // namespace

FILE *openinpathlist(const char *envname, const char *filename) {
  FILE *stream = openfilehandle(filename, "rb");
  if (stream != nullptr) return stream;
  if (std::strchr(filename, '/') != nullptr) {
    reporttext("filename \"%s\" contains illegal symbol '/': the path list specified by "
               "environment variable \"%s\" cannot be searched for it",
               filename, envname);
    return nullptr;
  }
  const char *pathlist = std::getenv(envname);
  if (pathlist != nullptr) {
    std::string candidate;
    const char *entry = pathlist;
    for (;;) {
      const char *colon = std::strchr(entry, ':');
      const size_t entrylength = colon == nullptr ? std::strlen(entry) : size_t(colon - entry);
      candidate.assign(entry, entrylength);
      candidate += '/';
      candidate += filename;
      if (candidate.size() <= maxpathlength) {
        stream = openfilehandle(candidate.c_str(), "rb");
        if (stream != nullptr) return stream;
      }
      if (colon == nullptr) break;
      entry = colon + 1;
    }
  }
  reporttext("cannot find file \"%s\"", filename);
  return nullptr;
}
