// The lookahead batch on cases that the random agreement tests meet only by chance: windows of
// short matrices whose q-gram the table cannot see (before a separator, a wildcard or the end
// of the database), windows whose q-gram lies in the next part, the budget that gives a
// matrix up, and matrices the table must refuse.
#include <gtest/gtest.h>

#include <string>

#include "base/error.hpp"
#include "matching/lookahead_batch.hpp"
#include "matching/lookahead_firstpass.hpp"
#include "matching/match_lookaheadsearch.hpp"
#include "support/enginefixtures.hpp"

using namespace enginetest;

namespace {

constexpr int64_t forbidden = ScoreTraits<int64_t>::minusinfinity;

// A matrix that scores 1 for each position of word (a rows that score all codes alike, 0,
// for each '.') and needs all of them: the threshold is the number of letters.
void wordmatrix(ScoringMatrix *matrix, const Alphabet *alpha, const std::string &word) {
  std::vector<std::vector<int64_t>> rows;
  int64_t letters = 0;
  for (char c : word) {
    std::vector<int64_t> row = {0, 0, 0, 0, forbidden};
    if (c != '.') {
      row[dna(std::string(1, c))[0]] = 1;
      letters++;
    }
    rows.push_back(row);
  }
  fillmatrix<int64_t>(matrix, alpha, rows, letters);
}

struct BatchRun {
  std::vector<std::vector<Found>> found;  // per matrix, empty when not held
  std::vector<bool> held, intable;
};

BatchRun runbatch(const MemoryMultiseq &db, const std::vector<ScoringMatrix> &matrices,
                  uint64_t parts, BatchRoute route, int64_t budget = -1,
                  const SequenceRange *range = nullptr, uint64_t workers = 1,
                  uint64_t *ret_parts = nullptr) {
  LookaheadBatch *batch = lookaheadbatch_create(&db.multiseq, range);
  for (const ScoringMatrix &matrix : matrices) lookaheadbatch_add(batch, &matrix);
  lookaheadbatch_plan(batch, parts, workers, route);
  if (budget >= 0) lookaheadbatch_setbudget(batch, static_cast<uint64_t>(budget));
  if (ret_parts != nullptr) *ret_parts = lookaheadbatch_parts(batch);
  for (uint64_t part = 0; part < lookaheadbatch_parts(batch); part++)
    lookaheadbatch_runpart(batch, part, part % workers);
  BatchRun run;
  for (uint64_t i = 0; i < matrices.size(); i++) {
    run.held.push_back(lookaheadbatch_holds(batch, i));
    run.intable.push_back(lookaheadbatch_intable(batch, i));
    run.found.push_back(!run.held.back() ? std::vector<Found>{} : record([&](ReportFunction report) {
      return lookaheadbatch_report(batch, i, &matrices[i], report, nullptr);
    }));
  }
  lookaheadbatch_free(batch);
  return run;
}

std::vector<Found> ownsearch(const MemoryMultiseq &db, const ScoringMatrix &matrix,
                             const SequenceRange *range = nullptr) {
  return record([&](ReportFunction report) {
    return lookaheadsearch(&db.multiseq, &matrix, range, report, nullptr);
  });
}

class LookaheadBatchTest : public testing::Test {
 protected:
  Alphabet alpha = alphabetof(5);
  std::vector<ScoringMatrix> matrices;
  void add(const std::string &word) {
    matrices.emplace_back();
    wordmatrix(&matrices.back(), &alpha, word);
  }
  void TearDown() override {
    for (ScoringMatrix &matrix : matrices) matrix_free(&matrix);
    clearerrorcode();
  }
};

// Words of 3 and 1 letters end right before a separator, before a wildcard, before an
// undefined code and at the end of the database: every q-gram of 8 codes starting with them
// holds a code outside the alphabet or runs past the end, so only the tests at those codes and
// at the end find them. By every number of parts and both levels of the q-gram pass.
TEST_F(LookaheadBatchTest, short_words_before_codes_outside_and_at_the_end) {
  add("acg");
  add("g");
  MemoryMultiseq db({dna("ttacg"), dna("acgnttt"), dna("tacg?t"), dna("gggacg")});
  const std::vector<Found> acg = {{4, 3}, {8, 3}, {17, 3}, {26, 3}};
  ASSERT_EQ(ownsearch(db, matrices[0]), acg);
  for (int level : {static_cast<int>(FIRSTPASS_SCALAR), FIRSTPASS_BEST}) {
    firstpass_cap(level);
    for (uint64_t parts : {1, 2, 3, 7}) {
      SCOPED_TRACE("level " + std::to_string(level) + ", parts " + std::to_string(parts));
      const BatchRun run = runbatch(db, matrices, parts, BATCHROUTE_TABLE);
      EXPECT_TRUE(run.intable[0] && run.intable[1]);
      EXPECT_EQ(run.found[0], acg);
      EXPECT_EQ(run.found[1], ownsearch(db, matrices[1]));
    }
  }
  firstpass_cap(FIRSTPASS_BEST);
}

// A word whose only informative rows are its last eight takes the q-gram at offset 12, so a
// window starting just before a part's start is found through a q-gram in that part: found
// once, in order, whatever the parts.
TEST_F(LookaheadBatchTest, windows_found_through_the_next_part) {
  add("............acgtacgt");
  std::vector<unsigned char> text;
  for (int i = 0; i < 600; i++) text.push_back(static_cast<unsigned char>((i * 7 + i / 5) % 3));
  const std::vector<unsigned char> word = dna("acgtacgt");
  for (uint64_t at : {20, 137, 145, 290, 300, 451, 592}) std::copy(word.begin(), word.end(), text.begin() + at);
  MemoryMultiseq db({text});
  const std::vector<Found> own = ownsearch(db, matrices[0]);
  ASSERT_GE(own.size(), 5u);
  for (uint64_t parts : {1, 2, 3, 4, 5, 9}) {
    const BatchRun run = runbatch(db, matrices, parts, BATCHROUTE_TABLE);
    EXPECT_TRUE(run.intable[0]);
    EXPECT_EQ(run.found[0], own) << parts << " parts";
  }
}

// A long database is cut into more parts than asked for, more of them with more workers, and
// the hits are those of the lookahead search, by both routes.
TEST_F(LookaheadBatchTest, a_long_database_in_parts_for_several_workers) {
  add("acgtac");
  add("ttgacgtcaa");
  std::vector<unsigned char> text(3u << 20);
  uint64_t state = 12345;
  for (unsigned char &code : text) {
    state = state * 6364136223846793005u + 1442695040888963407u;
    code = static_cast<unsigned char>(state >> 62);
  }
  MemoryMultiseq db({text, dna("acgtacgt")});
  const std::vector<Found> own[] = {ownsearch(db, matrices[0]), ownsearch(db, matrices[1])};
  ASSERT_GT(own[0].size(), 100u);
  uint64_t before = 1;
  for (uint64_t workers : {1, 3}) {
    for (BatchRoute route : {BATCHROUTE_TABLE, BATCHROUTE_SCAN}) {
      uint64_t parts = 0;
      const BatchRun run = runbatch(db, matrices, 2, route, -1, nullptr, workers, &parts);
      EXPECT_GT(parts, before) << workers << " workers";
      for (uint64_t i = 0; i < matrices.size(); i++) EXPECT_EQ(run.found[i], own[i]) << i;
      if (route == BATCHROUTE_SCAN) before = parts;
    }
  }
}

// Beyond the budget the matrix holding most hits is given up (its search is left to the
// lookahead search); the others stay held and report all their hits.
TEST_F(LookaheadBatchTest, the_budget_gives_up_the_matrix_with_most_hits) {
  add("a");
  add("acgtacg");
  std::vector<unsigned char> text;
  for (int i = 0; i < 5000; i++) text.push_back(static_cast<unsigned char>(i % 4 == 1 ? 0 : i % 3));
  const std::vector<unsigned char> word = dna("acgtacg");
  for (uint64_t at : {100, 2000, 4500}) std::copy(word.begin(), word.end(), text.begin() + at);
  MemoryMultiseq db({text});
  for (BatchRoute route : {BATCHROUTE_TABLE, BATCHROUTE_SCAN}) {
    const BatchRun run = runbatch(db, matrices, 2, route, 1024);
    EXPECT_FALSE(run.held[0]);
    EXPECT_TRUE(run.held[1]);
    EXPECT_EQ(run.found[1], ownsearch(db, matrices[1]));
    EXPECT_EQ(run.found[1].size(), 3u);
  }
}

// The table refuses what its sums cannot bound: integer scores beyond 2^50, a wildcard column
// that scores, a threshold so low that forbidden cells no longer fail the exact test. The
// batch still reports what the lookahead search reports.
TEST_F(LookaheadBatchTest, matrices_the_table_refuses) {
  add("acgtacgt");
  for (uint64_t c = 0; c < 4; c++) matrix_scores<int64_t>(&matrices[0])[c] *= INT64_C(1) << 52;
  scoreof<int64_t>(matrices[0].threshold) = INT64_C(1) << 52;
  matrix_set_intermediate_thresholds(&matrices[0]);
  add("acgtacgt");
  matrix_scores<int64_t>(&matrices[1])[4] = 1;  // the wildcard column scores in the first row
  add("acgtacgt");
  scoreof<int64_t>(matrices[2].threshold) = -(INT64_C(1) << 62);
  matrix_set_intermediate_thresholds(&matrices[2]);
  MemoryMultiseq db({dna("ttacgtacgtnacgtacgtt"), dna("acgtacg")});
  const BatchRun run = runbatch(db, matrices, 1, BATCHROUTE_TABLE);
  for (uint64_t i = 0; i < matrices.size(); i++) {
    EXPECT_FALSE(run.intable[i]) << i;
    EXPECT_EQ(run.found[i], ownsearch(db, matrices[i])) << i;
  }
  EXPECT_FALSE(run.found[0].empty());
}

// A sequence range: only windows of its sequences, and a range past the last sequence gives
// no batch.
TEST_F(LookaheadBatchTest, sequence_ranges) {
  add("acg");
  add("cgtacgta");
  MemoryMultiseq db({dna("acgtacgtacg"), dna("tacgtacgtac"), dna("cgtacgtacga")});
  const SequenceRange middle = {1, 1}, beyond = {2, 3};
  for (BatchRoute route : {BATCHROUTE_TABLE, BATCHROUTE_SCAN}) {
    const BatchRun run = runbatch(db, matrices, 2, route, -1, &middle);
    for (uint64_t i = 0; i < matrices.size(); i++) {
      EXPECT_EQ(run.found[i], ownsearch(db, matrices[i], &middle)) << i;
      EXPECT_FALSE(run.found[i].empty()) << i;
    }
  }
  EXPECT_EQ(lookaheadbatch_create(&db.multiseq, &beyond), nullptr);
}

}  // namespace
