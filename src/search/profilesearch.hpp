// The search of one profile on every requested strand with the run's engine, and the
// complement tables that the complementary strands need. zelkosearch's driver runs it for
// every profile; the scan library runs it per profile and range of sequences.
#pragma once

#include <cstdint>

#include "report/match.hpp"
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
