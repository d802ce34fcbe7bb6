// Output files written whole: regular files replaced through a temporary, links kept,
// devices and FIFOs written directly rather than replaced.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/replacefile.hpp"

namespace {

namespace fs = std::filesystem;

std::string readall(const fs::path &path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

struct Folder {
  fs::path path;
  Folder() {
    char name[] = "/tmp/replacefile.XXXXXX";
    path = mkdtemp(name);
  }
  ~Folder() { fs::remove_all(path); }
  // Files besides the ones the test made: no temporary may be left behind.
  size_t entries() const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(path), fs::directory_iterator()));
  }
};

int writeandcommit(const fs::path &path, const char *text) {
  ReplacingFile file;
  if (replacefile_open(&file, path.c_str()) != 0) return -1;
  std::fputs(text, file.stream);
  return replacefile_commit(&file);
}

}  // namespace

TEST(ReplaceFile, regular_files_links_and_devices) {
  Folder folder;
  // A new file, then the same file replaced with its permissions kept.
  const fs::path plain = folder.path / "out.txt";
  ASSERT_EQ(writeandcommit(plain, "first\n"), 0);
  EXPECT_EQ(readall(plain), "first\n");
  ASSERT_EQ(chmod(plain.c_str(), 0640), 0);
  ASSERT_EQ(writeandcommit(plain, "second\n"), 0);
  EXPECT_EQ(readall(plain), "second\n");
  EXPECT_EQ(fs::status(plain).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

  // A link to a regular file: the file it names is replaced and the link stays a link.
  const fs::path link = folder.path / "link.txt";
  fs::create_symlink(plain, link);
  ASSERT_EQ(writeandcommit(link, "third\n"), 0);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(readall(plain), "third\n");

  // A discarded file leaves the old content and no temporary.
  ReplacingFile file;
  ASSERT_EQ(replacefile_open(&file, plain.c_str()), 0);
  std::fputs("lost\n", file.stream);
  replacefile_discard(&file);
  EXPECT_EQ(readall(plain), "third\n");
  EXPECT_EQ(folder.entries(), 2u);

  // A device is written, never replaced: /dev/null stays a character device.
  ASSERT_EQ(writeandcommit("/dev/null", "gone\n"), 0);
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  // A full device fails at the commit, and stays what it was.
  EXPECT_EQ(writeandcommit("/dev/full", "no room\n"), -1);
  EXPECT_EQ(errno, ENOSPC);
  EXPECT_TRUE(fs::is_character_file("/dev/full"));

  // A folder that does not exist fails at the open.
  EXPECT_EQ(writeandcommit(folder.path / "missing" / "out.txt", "x"), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(folder.entries(), 2u);
}
