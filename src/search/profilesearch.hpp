// The search of one profile on every requested strand with the run's engine, and the
// complement tables that the complementary strands need. zelkosearch's driver runs it for
// every profile; the scan library runs it per profile and range of sequences.
#pragma once

#include <cstdint>
#include <vector>

#include "matching/lookahead_batch.hpp"
#include "model/match.hpp"
#include "search/runconfig.hpp"
#include "sequences/alphabet.hpp"

struct ComplementTables {
  unsigned char swapmap[256];
  unsigned char characters[256];
  bool withcharacters;
};

// Fills the swap map and the complement character table (unless ncompl) from the alphabet's
// letter pairs c/g and a/t (or a/u): 0, or -1 with the message in the ErrorBuffer when the
// alphabet cannot be complemented.
int preparecomplement(const Alphabet *alpha, bool ncompl, ComplementTables *tables);

// Searches the strands of job->settings->strands of one profile with the configured engine
// over job->range (all sequences when null), deriving the strand matrices once: forward,
// complementary, reverse complementary, reverse. Every match goes to job->firstreport.
// A profile whose maximum score is below its threshold is skipped. 0 or -1.
int profileroutine(SearchJob *job, Profile *profile);

// For the lookahead batch of the driver, which searches the strand matrices of every profile
// ahead of the jobs: the strands in the order in which a profile's strands are searched, the
// slot of a strand in that order (job->batchnumbers holds four slots per profile), the matrix
// the engines search for a profile (the reduced one under the reduced alphabet), whether a
// matrix cannot reach its threshold, and the job's database.
inline constexpr unsigned char strandorder[4] = {STRAND_FORWARD, STRAND_COMPLEMENT,
                                                 STRAND_REVERSECOMPLEMENT, STRAND_REVERSE};
uint64_t strandslot(unsigned char strand);
ScoringMatrix *searchedmatrix(const SearchJob *job, Profile *profile);
bool belowthreshold(const ScoringMatrix *matrix);
const Multiseq *databaseof(const SearchJob *job);

// Settings that tests use to force the ways of the lookahead search, from the environment
// variable ZELKO_TEST_LOOKAHEAD: words separated by commas, "nobatch" (every strand searched
// by itself), "table" or "scan" (the route of every matrix in the batch), "level=N" (cap of
// the byte pass, FirstPassLevel, set at once) and "budget=N" (bytes of hits the batch may
// keep).
struct LookaheadSettings {
  bool batch = true;
  BatchRoute route = BATCHROUTE_AUTO;
  int64_t budget = -1;
};
LookaheadSettings lookaheadsettings();

// Without k best, the lookahead searches of all profiles and strands can run ahead of the
// profile routines as one batch over the database (lookahead_batch.hpp); the profile routine
// then reports each strand's hits from it (job->batch, job->batchnumbers, job->batchindex),
// in the order and with the messages of a search of its own.
struct PreparedBatch {
  LookaheadBatch *batch = nullptr;
  std::vector<uint64_t> numbers;      // four per profile, as SearchJob::batchnumbers
  std::vector<ScoringMatrix> copies;  // the strand matrices the parts search
};
// Builds and plans, in workers threads, the batch of the strands of profiles[0 .. count - 1]
// as the profile routine would search them with job (its configuration, swap map, range and
// reduced data). No batch (null) for another engine, k best, the test setting "nobatch" or a
// range that names no sequence. The parts are left to the caller (lookaheadbatch_runpart);
// then releasebatchmatrices, and lookaheadbatch_free after the reports. minparts: the
// database cut into at least that many parts (for a caller that reports each part's hits
// as soon as it has run).
void preparebatch(const SearchJob *job, Profile *const *profiles, uint64_t count,
                  uint64_t workers, PreparedBatch *prepared, uint64_t minparts = 0);
void releasebatchmatrices(PreparedBatch *prepared);
