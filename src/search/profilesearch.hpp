// The search of one profile on every requested strand with the run's engine, and the
// complement tables that the complementary strands need. zelkosearch's driver runs it for
// every profile; the scan library runs it per profile and range of sequences.
#pragma once

#include <cstdint>

#include "report/match.hpp"
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

// Searches the strands of job->config->strands of one profile with the configured engine
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
