// The files of a zelko command: temporary files removed on a signal, outputs checked against
// the inputs and each other, and sequences from standard input or a pipe copied to a file.
#include "zelko/zelkofiles.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace {

// ---- Temporary files -------------------------------------------------------------------

// Slots the signal handler reads: a path is written whole before its slot is marked used.
constexpr int temporaryslots = 8;
constexpr size_t temporarylength = 4096;
struct TemporarySlot {
  char path[temporarylength];
  std::atomic<bool> used{false};
};
TemporarySlot temporaries[temporaryslots];

void removetemporaries(int signal) {
  for (TemporarySlot &slot : temporaries) {
    if (slot.used.load()) unlink(slot.path);
  }
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

}  // namespace

void installcleanuphandlers() {
  // SIGPIPE too: `zelko scan ... - | head' ends the scan by it once head has had enough.
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
    // A signal the program was started to ignore (SIGHUP under nohup, SIGINT in a script's
    // background job, SIGPIPE for a writer that checks its writes) stays ignored.
    struct sigaction previous {};
    if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = removetemporaries;
    sigemptyset(&action.sa_mask);
    // The other signals wait while the files are removed.
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    sigaddset(&action.sa_mask, SIGHUP);
    sigaddset(&action.sa_mask, SIGPIPE);
    sigaction(signal, &action, nullptr);
  }
}

void registertemporary(const std::string &path) {
  if (path.empty() || path.size() >= temporarylength) return;
  for (TemporarySlot &slot : temporaries) {
    if (slot.used.load()) continue;
    std::memcpy(slot.path, path.c_str(), path.size() + 1);
    slot.used.store(true);
    return;
  }
}

void unregistertemporary(const std::string &path) {
  for (TemporarySlot &slot : temporaries) {
    if (slot.used.load() && path == slot.path) slot.used.store(false);
  }
}

// ---- Outputs and inputs ----------------------------------------------------------------

namespace {

// Where a file is: its device and inode when it exists; else its folder's and its name.
struct FilePlace {
  bool exists = false;
  bool regular = false;
  dev_t device = 0;
  ino_t inode = 0;
  std::string name;  // a file that does not exist: its last component
  bool known = false;
};

FilePlace placeof(const std::string &path) {
  FilePlace place;
  struct stat status;
  if (stat(path.c_str(), &status) == 0) {
    place.exists = true;
    place.regular = S_ISREG(status.st_mode);
    place.device = status.st_dev;
    place.inode = status.st_ino;
    place.known = true;
    return place;
  }
  const size_t slash = path.find_last_of('/');
  const std::string folder =
      slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  place.name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (stat(folder.c_str(), &status) == 0) {
    place.device = status.st_dev;
    place.inode = status.st_ino;
    place.known = true;
  }
  return place;
}

bool sameplace(const FilePlace &a, const FilePlace &b) {
  return a.known && b.known && a.exists == b.exists && a.device == b.device &&
         a.inode == b.inode && a.name == b.name;
}

}  // namespace

bool findsharedfile(const std::vector<NamedFile> &outputs, const std::vector<NamedFile> &inputs,
                    NamedFile *ret_output, NamedFile *ret_other) {
  for (size_t i = 0; i < outputs.size(); i++) {
    const FilePlace output = placeof(outputs[i].path);
    if (output.exists && !output.regular) continue;
    for (const NamedFile &input : inputs) {
      if (input.path == "-") continue;
      if (sameplace(output, placeof(input.path))) {
        *ret_output = outputs[i];
        *ret_other = input;
        return false;
      }
    }
    for (size_t j = 0; j < i; j++) {
      if (sameplace(output, placeof(outputs[j].path))) {
        *ret_output = outputs[i];
        *ret_other = outputs[j];
        return false;
      }
    }
  }
  return true;
}

// ---- Sequence input ----------------------------------------------------------------------

std::string temporaryfolder(const char *tmpdir) {
  if (tmpdir != nullptr) return tmpdir;
  const char *variable = std::getenv("TMPDIR");
  if (variable != nullptr && variable[0] != '\0') return variable;
  return "/tmp";
}

namespace {

bool isindexname(const std::string &path) {
  struct stat status;
  return stat((path + ".prj").c_str(), &status) == 0;
}

bool writeall(int descriptor, const unsigned char *bytes, size_t length) {
  while (length > 0) {
    const ssize_t written = write(descriptor, bytes, length);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += written;
    length -= static_cast<size_t>(written);
  }
  return true;
}

}  // namespace

int opensequenceinput(const std::string &given, const std::string &folder, SequenceInput *input,
                      std::string *ret_message) {
  input->given = given;
  input->shown = given == "-" ? "standard input" : given;
  input->path = given;
  input->copied = false;
  int source = -1;
  if (given == "-") {
    source = STDIN_FILENO;
  } else {
    struct stat status;
    // Regular files and folders are the library's to read (or refuse); so are indices and
    // names that do not exist.
    if (stat(given.c_str(), &status) != 0 || S_ISREG(status.st_mode) ||
        S_ISDIR(status.st_mode) || isindexname(given)) {
      return 0;
    }
    source = open(given.c_str(), O_RDONLY);
    if (source < 0) {
      *ret_message = "cannot open `" + given + "': " + std::strerror(errno);
      return -1;
    }
  }
  // The first bytes tell gzip data, which the library decompresses by its name.
  unsigned char buffer[1 << 16];
  size_t filled = 0;
  ssize_t got = 0;
  while (filled < 2 && (got = read(source, buffer + filled, sizeof buffer - filled)) != 0) {
    if (got < 0) {
      if (errno == EINTR) continue;
      break;
    }
    filled += static_cast<size_t>(got);
  }
  const auto fail = [&](const std::string &message) {
    if (source != STDIN_FILENO) close(source);
    *ret_message = message;
    return -1;
  };
  if (got < 0) return fail("cannot read " + (given == "-" ? input->shown : "`" + given + "'") +
                           ": " + std::strerror(errno));
  const bool gzip = filled >= 2 && buffer[0] == 0x1f && buffer[1] == 0x8b;
  std::string copy = folder + "/zelko-sequences-XXXXXX" + (gzip ? ".gz" : "");
  const int target = mkstemps(copy.data(), gzip ? 3 : 0);
  if (target < 0) {
    return fail("cannot create a temporary file in `" + folder + "' for the sequences of " +
                input->shown + ": " + std::strerror(errno) + " (see --tmpdir)");
  }
  registertemporary(copy);
  const auto failcopy = [&](const std::string &message) {
    close(target);
    unlink(copy.c_str());
    unregistertemporary(copy);
    return fail(message);
  };
  for (;;) {
    if (filled > 0 && !writeall(target, buffer, filled)) {
      return failcopy("cannot write the temporary file `" + copy + "' for the sequences of " +
                      input->shown + ": " + std::strerror(errno) + " (see --tmpdir)");
    }
    filled = 0;
    got = read(source, buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      return failcopy("cannot read " + (given == "-" ? input->shown : "`" + given + "'") + ": " +
                      std::strerror(errno));
    }
    filled = static_cast<size_t>(got);
  }
  if (close(target) != 0) {
    const int error = errno;
    unlink(copy.c_str());
    unregistertemporary(copy);
    return fail("cannot write the temporary file `" + copy + "' for the sequences of " +
                input->shown + ": " + std::strerror(error) + " (see --tmpdir)");
  }
  if (source != STDIN_FILENO) close(source);
  input->path = copy;
  input->copied = true;
  return 0;
}

void closesequenceinput(SequenceInput *input) {
  if (!input->copied) return;
  unlink(input->path.c_str());
  unregistertemporary(input->path);
  input->copied = false;
}

std::string showninput(const SequenceInput &input, const std::string &message) {
  if (!input.copied) return message;
  std::string text = message;
  for (size_t at = text.find(input.path); at != std::string::npos;
       at = text.find(input.path, at + input.shown.size())) {
    text.replace(at, input.path.size(), input.shown);
  }
  return text;
}
