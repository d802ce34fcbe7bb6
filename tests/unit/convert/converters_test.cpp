// The matrix converters: their libraries read back through the library parser, inputs beyond
// the old fixed limits, inputs that used to loop, and failed writes.
#include <gtest/gtest.h>
#include <stdio.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "convert/printsmatrices.hpp"
#include "convert/transfacmatrices.hpp"
#include "support/scratchfiles.hpp"
#include "unit/profiles/libraryfixture.hpp"

namespace {

enum class Format { prints, transfac };

struct Conversion {
  int status = -1;
  std::string library, messages;
  size_t matrices = 0;
};

Conversion convert(Format format, std::FILE *input) {
  Conversion result;
  char *librarytext = nullptr, *messagetext = nullptr;
  size_t librarysize = 0, messagesize = 0;
  std::FILE *library = open_memstream(&librarytext, &librarysize);
  std::FILE *messages = open_memstream(&messagetext, &messagesize);
  if (format == Format::prints) {
    PrintsLibrary matrices;
    result.status = readprints(input, messages, &matrices);
    if (result.status == 0) result.status = writeprints(library, matrices);
    result.matrices = matrices.matrices.size();
  } else {
    TransfacLibrary entries;
    result.status = readtransfac(input, messages, &entries);
    if (result.status == 0) result.status = writetransfac(library, messages, entries);
    result.matrices = entries.entries.size();
  }
  std::fclose(library);
  std::fclose(messages);
  result.library.assign(librarytext, librarysize);
  result.messages.assign(messagetext, messagesize);
  std::free(librarytext);
  std::free(messagetext);
  return result;
}

Conversion convertfile(Format format, const std::string &path) {
  std::FILE *input = std::fopen(path.c_str(), "r");
  EXPECT_NE(input, nullptr) << path;
  if (input == nullptr) return Conversion();
  Conversion result = convert(format, input);
  std::fclose(input);
  return result;
}

Conversion converttext(Format format, const std::string &text) {
  std::FILE *input = fmemopen(const_cast<char *>(text.data()), text.size(), "r");
  Conversion result = convert(format, input);
  std::fclose(input);
  return result;
}

std::string convertdata(const char *name) {
  return std::string(ZELKO_TEST_DATA) + "/convert/" + name;
}

TEST(Converters, converted_libraries_read_back) {
  struct Case {
    const char *file;
    Format format;
    int parsestatus;
    std::string parsemessage;  // after a failed parse
    std::vector<std::string> identifiers;
    uint64_t groups;
  };
  const std::vector<Case> cases = {
      {"malformed.pval", Format::prints, 0, "", {"NOCOUNT", "KEPT"}, 2},
      // A motif of length 0 writes a matrix without rows, which the parser refuses.
      {"fingerprints.pval", Format::prints, -1, "Parsing error in line 52: invalid tag.", {}, 0},
      // Entries without identifier are named by their accession.
      {"entries.lib", Format::transfac, 0, "", {"T$FIRST_01", "M90002", "M90003"}, 3},
      {"damaged.lib", Format::transfac, 0, "", {"T$KEPT"}, 1},
  };
  ScratchFolder scratch;
  Alphabet protein, dna;
  proteinalphabet(&protein);
  dnaalphabet(&dna);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.file);
    const Conversion converted = convertfile(c.format, convertdata(c.file));
    ASSERT_EQ(converted.status, 0);
    ProfileCollection collection;
    const ParseOutcome outcome =
        parsefile(scratch.write("converted.lib", converted.library),
                  c.format == Format::prints ? &protein : &dna, &collection, false);
    ASSERT_EQ(outcome.status, c.parsestatus) << outcome.message;
    if (outcome.status != 0) {
      EXPECT_EQ(outcome.message, c.parsemessage);
      continue;
    }
    std::vector<std::string> identifiers;
    for (uint64_t p = 0; p < collection.numofprofiles; p++) {
      identifiers.push_back(collection.profiles[p].identifier);
    }
    EXPECT_EQ(identifiers, c.identifiers);
    EXPECT_EQ(collection.numofgroups, c.groups);
    collection_free(&collection, false, false);
  }
}

// A fingerprint of one motif of length 1 whose score for A is score.
std::string fingerprint(const std::string &code, const std::string &count, int score) {
  return "gc; " + code + "\ngx; PR1\ngn; " + count + "\ngi; title\ngm; 1\nmx; " + code +
         "1\nml; 1\nmn; 1\nA 0\nA " + std::to_string(score) + "\nKK; 1\nll; 1\n";
}

TEST(Converters, inputs_beyond_old_limits_and_inputs_that_looped) {
  struct Case {
    const char *name;
    Format format;
    std::string input;
    size_t matrices;
    std::string messages;
  };
  std::string many;
  for (int i = 0; i < 150; i++) many += fingerprint("FP" + std::to_string(i), "1", i);
  const std::string longcode(5000, 'L');
  std::string entries;
  for (int i = 0; i < 5001; i++) {
    entries += "AC M" + std::to_string(i) + "\nMATR_LENGTH 1\n1 A:1 C:2 G:3 T:4\n//\n";
  }
  const std::string longname(3000, 'N');
  // Counts above 1000 take every motif, whatever line follows; the end of the file stops.
  const std::string runaway = "gc; RUN\ngx; PR1\ngn; 1001\ngi; t\ngm; 1\nmx; RUN1\nml; 1\n"
                              "A 0\nA 1\nKK;\nll;\nzz\nmx; RUN2\nml; 1\nKK;\nll;\nmx; RUN3\n";
  const std::vector<Case> cases = {
      {"progress every 100 fingerprints", Format::prints, many, 150,
       "Fingerprint 100 parsed. Containing 1 matrices\n"},
      {"codes of any length", Format::prints, fingerprint(longcode, "1", 1), 1, ""},
      {"more entries than the old table", Format::transfac, entries, 5001, ""},
      {"words of any length", Format::transfac,
       "AC M1\nID  " + longname + "\nMATR_LENGTH 1\n1 A:1 C:1 G:1 T:1\n//\n", 1, ""},
      {"motif count above 1000", Format::prints, runaway, 2,
       "WARNING: line 17: motif without `ml; ' length; motif left out\n"},
      {"file ending in a motif code", Format::prints, fingerprint("A", "2", 1) + "mx; B", 1,
       "WARNING: line 13: motif without `ml; ' length; motif left out\n"},
      {"motif lines before any header", Format::prints, "gm; 1\nmx; X\nml; 1\n", 0,
       "WARNING: line 1: fingerprint without `gn; ' count; taken as 1\n"
       "WARNING: line 1: fingerprint without `gc; ' code; motif left out\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const Conversion converted = converttext(c.format, c.input);
    EXPECT_EQ(converted.status, 0);
    EXPECT_EQ(converted.matrices, c.matrices);
    EXPECT_EQ(converted.messages, c.messages);
  }
  EXPECT_NE(converttext(Format::prints, fingerprint(longcode, "1", 1))
                .library.find("ID " + longcode + "\n"),
            std::string::npos);
  EXPECT_NE(converttext(Format::transfac, "AC M1\nID  " + longname +
                                              "\nMATR_LENGTH 1\n1 A:1 C:1 G:1 T:1\n//\n")
                .library.find("ID " + longname + "\n"),
            std::string::npos);
}

TEST(Converters, failed_writes_are_reported) {
  std::FILE *full = std::fopen("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  PrintsLibrary prints;
  prints.matrices.resize(1);
  EXPECT_EQ(writeprints(full, prints), -1);
  std::clearerr(full);
  TransfacLibrary transfac;
  transfac.entries.resize(1);
  transfac.entries[0].accession = "M1";
  EXPECT_EQ(writetransfac(full, stderr, transfac), -1);
  std::fclose(full);
}

}  // namespace
