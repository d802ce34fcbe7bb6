// The reduced-alphabet search of protein matrices: the database is coded with a reduced
// alphabet (several amino acids under one symbol), the engines search reduced matrices whose
// score for a symbol is the best protein score of its class, and every candidate is scored
// again with the protein matrix on the database's plain characters, so that exactly the
// protein matches are reported, with the protein matrix and score.
#pragma once

#include <cstdint>

#include "matching/match_simplesearch.hpp"
#include "sequences/virtualtree.hpp"

struct ProfileCollection;

// What the checks need beside the Match: the second view of the database, whose coded
// sequence is the plain characters and whose alphabet is the identity, and the character
// table of that view.
struct ReducedAlphabetData {
  Virtualtree plainview;  // shares every table of the database; sequence = plain characters
  unsigned char characters[256];
  ProfileCollection *reduced;  // the reduced matrices, at the indices of the protein profiles
};

// Fills data from the opened database: the view over its plain characters (which the caller
// demanded with OISTAB) with the identity alphabet. The view borrows everything and is never
// released on its own. -1 with a message when the database holds no plain characters.
int reducedalphabet_prepare(ReducedAlphabetData *data, const Virtualtree *database);

// Builds the reduced collection from the protein collection: one Profile per protein profile
// at the same index, sharing its texts (the reduced collection owns them) and group layout,
// whose matrix over the database alphabet scores each symbol with the best protein score of
// the characters of its class that the protein matrix's alphabet maps to a regular symbol
// (a class without such a character forbids the symbol). 0, or -1 with "No PSSMs defined."
// for an empty protein collection.
int reduce_collection(ProfileCollection *reduced, const ProfileCollection *protein,
                      const Alphabet *databasealpha);

// ReportFunction in front of job->nextreport for the ordinary searches of reduced matrices:
// scores the window's plain characters with the current Profile's protein matrix (rows in
// reverse order on the reverse strands) and hands a match that reaches the protein threshold,
// with the protein matrix and score and the plain view as its source, to the next stage.
int reducedalphabet_check(Match *match);

// ReportFunction of reducedsearch_kbest: the Match with the current Profile's protein matrix
// and the plain view, handed to the next stage.
int reducedalphabet_check_kbest(Match *match);

// The k-best lookahead search of a reduced matrix: candidates that pass the reduced matrix's
// thresholds are scored with proteinmatrix (already reversed for the reverse strand) on their
// plain characters; the k best protein scores are kept (raising the reduced matrix's
// threshold as the store fills) and reported best first, with the protein score, through
// report. The caller computes the reduced matrix's row bounds before and frees them after.
// Returns as lookaheadsearch_kbest does.
int reducedsearch_kbest(const Multiseq *multiseq, ScoringMatrix *reducedmatrix,
                        const ScoringMatrix *proteinmatrix, const SequenceRange *range,
                        uint64_t k, ReportFunction report, SearchJob *userdata);
