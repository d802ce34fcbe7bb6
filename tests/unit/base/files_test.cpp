// Tracked file handles, memory maps, gzip reading, file names and line reading.
#include <fcntl.h>
#include <sys/stat.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/error.hpp"
#include "base/filehandle.hpp"
#include "base/genfile.hpp"
#include "base/mapfile.hpp"
#include "base/readgzip.hpp"
#include "support/scratchfiles.hpp"

namespace {

// Occupies every free descriptor below limit, so that the next open gets descriptor limit.
std::vector<int> filldescriptorsbelow(int limit) {
  std::vector<int> taken;
  for (;;) {
    const int fd = open("/dev/null", O_RDONLY);
    if (fd < 0) break;
    if (fd >= limit) {
      close(fd);
      break;
    }
    taken.push_back(fd);
  }
  return taken;
}

void release(const std::vector<int> &descriptors) {
  for (int fd : descriptors) close(fd);
}

std::string gzipped(const ScratchFolder &scratch, const char *name, const std::string &content) {
  const std::string path = scratch.path(name);
  gzFile file = gzopen(path.c_str(), "wb9");
  EXPECT_NE(file, nullptr);
  if (!content.empty()) gzwrite(file, content.data(), static_cast<unsigned>(content.size()));
  gzclose(file);
  return path;
}

std::string filebytes(const std::string &path) {
  std::string bytes;
  FILE *stream = std::fopen(path.c_str(), "rb");
  EXPECT_NE(stream, nullptr) << path;
  if (stream == nullptr) return bytes;
  for (int c; (c = std::fgetc(stream)) != EOF;) bytes.push_back(static_cast<char>(c));
  std::fclose(stream);
  return bytes;
}

}  // namespace

TEST(FileHandles, registry_counts_handles_and_releases_table_after_last_close) {
  ScratchFolder scratch;
  const std::string path = scratch.write("a.txt", "x\n");
  ASSERT_EQ(openfilehandlecount(), 0u);
  FILE *first = openfilehandle(path.c_str(), "rb");
  FILE *second = openfilehandle(path.c_str(), "r");
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(openfilehandlecount(), 2u);
  EXPECT_EQ(filehandletablesize() % 16, 0u);
  EXPECT_EQ(closefilehandle(first), 0);
  EXPECT_GT(filehandletablesize(), 0u);
  EXPECT_EQ(closefilehandle(second), 0);
  EXPECT_EQ(openfilehandlecount(), 0u);
  EXPECT_EQ(filehandletablesize(), 0u);
  FILE *again = openfilehandle(path.c_str(), "rb");
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(openfilehandlecount(), 1u);
  EXPECT_EQ(closefilehandle(again), 0);
}

TEST(FileHandles, descriptor_40_grows_table_to_48_entries) {
  ScratchFolder scratch;
  const std::string path = scratch.write("a.txt", "x\n");
  const std::vector<int> taken = filldescriptorsbelow(40);
  FILE *stream = openfilehandle(path.c_str(), "rb");
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(fileno(stream), 40);
  EXPECT_EQ(filehandletablesize(), 48u);
  EXPECT_EQ(closefilehandle(stream), 0);
  EXPECT_EQ(filehandletablesize(), 0u);
  release(taken);
}

TEST(FileHandles, failed_open_reports_text_only) {
  clearerrorcode();
  EXPECT_EQ(openfilehandle("/nonexistent/zelko.txt", "rb"), nullptr);
  EXPECT_EQ(errortext(), "cannot open file \"/nonexistent/zelko.txt\": No such file or directory");
  EXPECT_EQ(geterrorcode(), 0);
  EXPECT_EQ(openfilehandlecount(), 0u);
}

TEST(FileHandles, registry_inconsistencies_are_fatal) {
  ScratchFolder scratch;
  const std::string path = scratch.write("a.txt", "x\n");
  const char *file = path.c_str();
  // A descriptor closed behind the registry's back and reused.
  EXPECT_EXIT(
      {
        FILE *stream = openfilehandle(file, "rb");
        std::fclose(stream);
        openfilehandle(file, "rb");
      },
      testing::ExitedWithCode(1),
      "^file files_test, line [0-9]+: open file \".*a.txt\" with mode \"rb\": handle [0-9]+ "
      "already occupied\nfilehandle: line [0-9]+: This case is not supposed to occur\n$");
  EXPECT_EXIT(openfilehandle(file, "rb+"), testing::ExitedWithCode(1),
              "^file files_test, line [0-9]+: cannot open file \".*a.txt\": illegal open mode "
              "\"rb\\+\"\n.*This case is not supposed to occur\n$");
  EXPECT_EXIT(
      {
        FILE *stream = std::fopen(file, "rb");
        closefilehandle(stream);
      },
      testing::ExitedWithCode(1),
      "^file files_test, line [0-9]+: cannot open file: fd=[0-9]+, not enough file handles "
      "available\n");
  EXPECT_EXIT(
      {
        FILE *tracked = openfilehandle(file, "rb");
        FILE *untracked = std::fopen(file, "rb");
        if (fileno(untracked) < int(filehandletablesize())) closefilehandle(untracked);
        closefilehandle(tracked);
        std::exit(2);
      },
      testing::ExitedWithCode(1), "fd=[0-9]+, file handle not occurpied\n");
}

TEST(MapFile, maps_whole_file_and_unmaps_with_accounting) {
  ScratchFolder scratch;
  const std::string path = scratch.write("data.txt", "hello, world\n");
  const uint64_t before = mappedbytes();
  uint64_t length = 0;
  char *readonly = static_cast<char *>(mapwholefile(path.c_str(), false, &length));
  ASSERT_NE(readonly, nullptr);
  EXPECT_EQ(length, 13u);
  EXPECT_EQ(std::string(readonly, length), "hello, world\n");
  EXPECT_TRUE(ismappedfile(readonly));

  uint64_t copylength = 0;
  char *copy = static_cast<char *>(mapwholefile(path.c_str(), true, &copylength));
  ASSERT_NE(copy, nullptr);
  copy[0] = 'J';  // a private copy: the file and the other map keep their text
  EXPECT_EQ(readonly[0], 'h');
  EXPECT_EQ(mappedbytes(), before + 26);

  EXPECT_EQ(unmapfile(copy), 0);
  EXPECT_EQ(unmapfile(readonly), 0);
  EXPECT_FALSE(ismappedfile(readonly));
  EXPECT_EQ(mappedbytes(), before);
  uint64_t againlength = 0;
  char *again = static_cast<char *>(mapwholefile(path.c_str(), false, &againlength));
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again[0], 'h');
  EXPECT_EQ(unmapfile(again), 0);
}

TEST(MapFile, failures_name_the_caller_and_leave_no_descriptor_behind) {
  ScratchFolder scratch;
  const std::string empty = scratch.write("empty.txt", "");
  uint64_t length = 0;
  const int probe = open("/dev/null", O_RDONLY);
  close(probe);

  int line = __LINE__ + 1;
  EXPECT_EQ(mapwholefile(empty.c_str(), false, &length), nullptr);
  EXPECT_EQ(errortext(), "files_test, line " + std::to_string(line) + ": cannot read file \"" +
                             empty + "\": it is empty");
  line = __LINE__ + 1;
  EXPECT_EQ(mapwholefile("/nonexistent/x", false, &length), nullptr);
  EXPECT_EQ(errortext(), "files_test, line " + std::to_string(line) +
                             ": cannot read file \"/nonexistent/x\": open failed: No such file "
                             "or directory");
  const int next = open("/dev/null", O_RDONLY);
  EXPECT_EQ(next, probe);  // the empty file's descriptor was closed again
  close(next);

  const std::string data = scratch.write("data.txt", "abc");
  const std::vector<int> taken = filldescriptorsbelow(64);
  EXPECT_EQ(mapwholefile(data.c_str(), false, &length), nullptr);
  EXPECT_NE(errortext().find("cannot read file \"" + data + "\": filedescriptor 64 is too large"),
            std::string::npos);
  release(taken);
}

TEST(MapFile, unmapping_unknown_addresses_fails_without_side_effects) {
  ScratchFolder scratch;
  const std::string path = scratch.write("data.txt", "abc");
  uint64_t length = 0;
  void *map = mapwholefile(path.c_str(), false, &length);
  ASSERT_NE(map, nullptr);
  const uint64_t before = mappedbytes();

  int line = __LINE__ + 1;
  EXPECT_EQ(unmapfile(nullptr), -1);
  EXPECT_EQ(errortext(), "files_test: l. " + std::to_string(line) +
                             ": deletememorymap failed: mapped file is NULL");
  char local[8];
  line = __LINE__ + 1;
  EXPECT_EQ(unmapfile(local), -2);
  EXPECT_EQ(errortext(), "files_test: l. " + std::to_string(line) +
                             ": deletememorymap failed: cannot find filedescriptor for given "
                             "address");
  EXPECT_EQ(unmapfile(static_cast<char *>(map) + 1), -2);
  EXPECT_EQ(mappedbytes(), before);
  EXPECT_EQ(static_cast<char *>(map)[2], 'c');  // still mapped
  EXPECT_EQ(unmapfile(map), 0);
}

TEST(ReadGzip, decompresses_in_one_buffer) {
  ScratchFolder scratch;
  std::string content;
  for (int i = 0; i < 5000; i++) content += "line " + std::to_string(i) + " acgtacgt\n";
  ASSERT_GT(content.size(), 3u * 16384u);  // spans several measuring blocks
  const std::string path = gzipped(scratch, "big.gz", content);
  uint64_t length = 0;
  unsigned char *buffer = readgzipfile(path.c_str(), &length);
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(length, content.size());
  EXPECT_EQ(std::memcmp(buffer, content.data(), length), 0);
  std::free(buffer);

  const std::string empty = gzipped(scratch, "empty.gz", "");
  buffer = readgzipfile(empty.c_str(), &length);
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(length, 0u);
  std::free(buffer);
}

// A fifo is read in one pass (opening it twice would wait for a second writer for ever), and
// several members, whose trailer records only the last one's length, are read whole.
TEST(ReadGzip, fifos_and_multiple_members_are_read_whole) {
  ScratchFolder scratch;
  std::string content;
  for (int i = 0; i < 20000; i++) content += ">s" + std::to_string(i) + "\nacgtacgtac\n";
  const std::string compressed = filebytes(gzipped(scratch, "member.gz", content));
  const std::string twice = scratch.write("twice.gz", compressed + compressed);
  // A second member shorter than the read that probes past the length the trailer records.
  const std::string withtail = scratch.write(
      "withtail.gz", compressed + filebytes(gzipped(scratch, "tail.gz", ">t\nacgt\n")));
  const std::string fifo = scratch.path("fifo.gz");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::thread writer([&] {
    const int fd = open(fifo.c_str(), O_WRONLY);
    if (fd < 0) return;
    for (size_t done = 0; done < compressed.size();) {
      const ssize_t wrote = write(fd, compressed.data() + done, compressed.size() - done);
      if (wrote <= 0) break;
      done += static_cast<size_t>(wrote);
    }
    close(fd);
  });
  for (const auto &[path, expected] : {std::pair{fifo, content},
                                       {twice, content + content},
                                       {withtail, content + ">t\nacgt\n"}}) {
    uint64_t length = 0;
    unsigned char *buffer = readgzipfile(path.c_str(), &length);
    ASSERT_NE(buffer, nullptr) << path;
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buffer), length), expected) << path;
    std::free(buffer);
  }
  writer.join();
}

// A text read with a line limit is refused at the first line that is too long or holds a NUL
// byte, compressed or not, also deep inside a file larger than one read.
TEST(ReadGzip, texts_with_overlong_lines_or_nul_bytes_are_refused_by_line) {
  ScratchFolder scratch;
  std::string many;
  for (int i = 0; i < 200000; i++) many += "line\n";
  const struct {
    const char *name;
    std::string content;
    bool compressed;
    const char *message;  // null: read whole
  } cases[] = {
      {"fits.txt", "12345678\n12345678", false, nullptr},
      {"fits.gz", many + "12345678\n", true, nullptr},
      {"long.txt", "1234\n123456789\n", false, "line 2 of file \"@\" is longer than 8 bytes"},
      {"longlast.gz", many + "123456789", true,
       "line 200001 of file \"@\" is longer than 8 bytes"},
      {"nul.txt", std::string("ab\ncd\0e\n", 8), false,
       "line 2 of file \"@\" holds a NUL byte: no text"},
  };
  for (const auto &c : cases) {
    const std::string path =
        c.compressed ? gzipped(scratch, c.name, c.content) : scratch.write(c.name, c.content);
    uint64_t length = 0;
    unsigned char *buffer = readgziptext(path.c_str(), 8, &length);
    if (c.message == nullptr) {
      ASSERT_NE(buffer, nullptr) << c.name << ": " << errortext();
      EXPECT_EQ(std::string(reinterpret_cast<char *>(buffer), length), c.content);
      std::free(buffer);
    } else {
      EXPECT_EQ(buffer, nullptr) << c.name;
      std::string expected = c.message;
      expected.replace(expected.find('@'), 1, path);
      EXPECT_EQ(errortext(), expected);
    }
  }
}

TEST(ReadGzip, failures_report_the_file) {
  ScratchFolder scratch;
  uint64_t length = 0;
  EXPECT_EQ(readgzipfile("/nonexistent/x.gz", &length), nullptr);
  EXPECT_EQ(errortext(),
            "error when uncompressing file \"/nonexistent/x.gz\": cannot open file "
            "\"/nonexistent/x.gz\"");
  // A gzip header followed by a corrupt deflate stream.
  const std::string good = gzipped(scratch, "good.gz", std::string(1000, 'a'));
  std::string bytes;
  {
    FILE *stream = std::fopen(good.c_str(), "rb");
    char block[4096];
    const size_t got = std::fread(block, 1, sizeof block, stream);
    std::fclose(stream);
    bytes.assign(block, got);
  }
  for (size_t i = 10; i < bytes.size(); i++) bytes[i] = static_cast<char>(0xff);
  const std::string corrupt = scratch.write("corrupt.gz", bytes);
  EXPECT_EQ(readgzipfile(corrupt.c_str(), &length), nullptr);
  EXPECT_EQ(errortext().rfind("error when decompressing file \"" + corrupt + "\": ", 0), 0u)
      << errortext();
}

TEST(GenFile, basename_suffix_and_existence) {
  const auto basename = [](const char *path) {
    char *name = getbasename(path);
    std::string result(name);
    std::free(name);
    return result;
  };
  EXPECT_EQ(basename("usr/lib/libz.so"), "libz.so");
  EXPECT_EQ(basename("usr/lib/"), "lib");
  EXPECT_EQ(basename("usr/lib//"), "lib");
  EXPECT_EQ(basename("plain"), "plain");
  EXPECT_EQ(basename("/top"), "top");
  EXPECT_EQ(basename(""), ".");
  EXPECT_EQ(basename("/"), "/");
  EXPECT_EQ(basename("//"), "/");

  char *withsuffix = addsuffix("index/db", "prj");
  EXPECT_STREQ(withsuffix, "index/db.prj");
  std::free(withsuffix);

  ScratchFolder scratch;
  EXPECT_TRUE(fileexists(scratch.write("there", "").c_str()));
  EXPECT_TRUE(fileexists(scratch.path().c_str()));
  EXPECT_FALSE(fileexists(scratch.path("absent").c_str()));
}

TEST(GenFile, readfileline_delivers_every_line_including_an_unterminated_last_one) {
  ScratchFolder scratch;
  const std::string longline(1000, 'z');
  const std::string path =
      scratch.write("lines.txt", "first\n\n" + longline + "\nwindows\r\nlast without newline");
  FILE *stream = openfilehandle(path.c_str(), "rb");
  ASSERT_NE(stream, nullptr);
  LineBuffer line{};
  std::vector<std::string> lines;
  while (readfileline(stream, &line) == 0) lines.emplace_back(line.text, line.length);
  EXPECT_EQ(lines, (std::vector<std::string>{"first", "", longline, "windows\r",
                                             "last without newline"}));
  EXPECT_EQ(readfileline(stream, &line), -1);
  freelinebuffer(&line);
  EXPECT_EQ(line.text, nullptr);
  EXPECT_EQ(closefilehandle(stream), 0);

  const std::string empty = scratch.write("empty.txt", "");
  stream = openfilehandle(empty.c_str(), "rb");
  EXPECT_EQ(readfileline(stream, &line), -1);
  EXPECT_EQ(closefilehandle(stream), 0);
  const std::string newline = scratch.write("newline.txt", "\n");
  stream = openfilehandle(newline.c_str(), "rb");
  ASSERT_EQ(readfileline(stream, &line), 0);
  EXPECT_STREQ(line.text, "");
  EXPECT_EQ(readfileline(stream, &line), -1);
  EXPECT_EQ(closefilehandle(stream), 0);
  // A bounded read stops at the bound instead of reading a line without end.
  const std::string endless = scratch.write("endless.txt", std::string(5000, 'x') + "\nnext\n");
  stream = openfilehandle(endless.c_str(), "rb");
  EXPECT_EQ(readfileline(stream, &line, 4096), -2);
  EXPECT_EQ(line.length, 4096u);
  EXPECT_EQ(closefilehandle(stream), 0);
  freelinebuffer(&line);
}
