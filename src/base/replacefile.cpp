// Output files written through a temporary file that replaces them when complete.
#include "base/replacefile.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

mode_t creationmode() {
  const mode_t mask = umask(0);
  umask(mask);
  return static_cast<mode_t>(0666 & ~mask);
}

}  // namespace

int replacefile_open(ReplacingFile *file, const char *path, bool binary) {
  *file = ReplacingFile{};
  const char *mode = binary ? "wb" : "w";
  struct stat link, target;
  const bool exists = lstat(path, &link) == 0;
  const bool resolves = exists && stat(path, &target) == 0;
  if (exists && (!resolves || !S_ISREG(target.st_mode))) {
    file->finalpath = path;
    file->stream = std::fopen(path, mode);
    return file->stream == nullptr ? -1 : 0;
  }
  mode_t permissions = creationmode();
  file->finalpath = path;
  if (exists) {
    permissions = target.st_mode & 07777;
    if (S_ISLNK(link.st_mode)) {
      char *resolved = realpath(path, nullptr);
      if (resolved == nullptr) return -1;
      file->finalpath = resolved;
      std::free(resolved);
    }
  }
  file->temporary = file->finalpath + ".XXXXXX";
  const int descriptor = mkstemp(file->temporary.data());
  if (descriptor < 0) {
    file->temporary.clear();
    return -1;
  }
  fchmod(descriptor, permissions);
  file->stream = fdopen(descriptor, mode);
  if (file->stream == nullptr) {
    const int code = errno;
    close(descriptor);
    unlink(file->temporary.c_str());
    file->temporary.clear();
    errno = code;
    return -1;
  }
  return 0;
}

int replacefile_commit(ReplacingFile *file) {
  if (file->stream == nullptr) {
    errno = EBADF;
    return -1;
  }
  errno = 0;
  const bool flushed = std::fflush(file->stream) == 0 && std::ferror(file->stream) == 0;
  int code = flushed ? 0 : (errno != 0 ? errno : EIO);
  errno = 0;
  if (std::fclose(file->stream) != 0 && code == 0) code = errno != 0 ? errno : EIO;
  file->stream = nullptr;
  if (code == 0 && !file->temporary.empty() &&
      std::rename(file->temporary.c_str(), file->finalpath.c_str()) != 0) {
    code = errno;
  }
  if (code != 0) {
    if (!file->temporary.empty()) unlink(file->temporary.c_str());
    file->temporary.clear();
    errno = code;
    return -1;
  }
  file->temporary.clear();
  return 0;
}

void replacefile_discard(ReplacingFile *file) {
  if (file->stream != nullptr) std::fclose(file->stream);
  file->stream = nullptr;
  if (!file->temporary.empty()) unlink(file->temporary.c_str());
  file->temporary.clear();
}
