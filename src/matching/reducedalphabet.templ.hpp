// Integer and float versions of the reduced-alphabet pieces, written once over the score type:
// the reduced matrix's cells, the protein score of a window's plain characters, and the
// k-best search that keeps protein scores.
#pragma once

#include "matching/match_lookaheadsearch.templ.hpp"
#include "matching/profile.templ.hpp"
#include "matching/reducedalphabet.hpp"
#include "sequences/characterclasses.hpp"

// Fills the reduced matrix: cell (row, c) is the best protein score of row over the characters
// of class c whose symbol in the protein matrix's alphabet is regular; minus infinity when
// the class has none.
template <typename Score>
void reducedcells_templ(const ScoringMatrix *protein, const ClassTable *classes,
                        ScoringMatrix *reduced) {
  const Alphabet *proteinalpha = protein->alphabet;
  const uint64_t regular = proteinalpha->mapsize > 0 ? proteinalpha->mapsize - 1 : 0;
  const uint64_t columns = matrix_columns(reduced);
  Score *cells = matrix_scores<Score>(reduced);
  for (uint64_t row = 0; row < reduced->m; row++) {
    for (uint64_t c = 0; c < columns; c++) {
      Score best = ScoreTraits<Score>::minusinfinity;
      if (c < 256 && classes->present[c]) {
        const CharacterClass *members = &classes->classes[c];
        for (uint64_t i = 0; i < members->length; i++) {
          const uint64_t code = proteinalpha->symbolmap[static_cast<unsigned char>(members->members[i])];
          if (code >= regular) continue;
          best = std::max(best, matrix_cell<Score>(protein, row, code));
        }
      }
      cells[reduced->rowoffsets[row] + c] = best;
    }
  }
}

// The protein score of the window of m plain characters ending at endposition, row m - 1 - i
// for character i when reversed: false when a character has no regular protein symbol or
// meets a forbidden cell, so that the window cannot match.
template <typename Score>
bool proteinscore_templ(const ScoringMatrix *protein, const unsigned char *plain,
                        uint64_t endposition, bool reversed, Score *ret_score) {
  const uint64_t m = protein->m;
  const Alphabet *alpha = protein->alphabet;
  const uint64_t regular = alpha->mapsize > 0 ? alpha->mapsize - 1 : 0;
  const unsigned char *window = plain + (endposition + 1 - m);
  Score sum = ScoreTraits<Score>::zero;
  for (uint64_t i = 0; i < m; i++) {
    const uint64_t code = alpha->symbolmap[window[i]];
    if (code >= regular) return false;
    const Score s = matrix_cell<Score>(protein, reversed ? m - 1 - i : i, code);
    if (ScoreTraits<Score>::forbidden(s)) return false;
    sum = score_add<Score>(sum, s);
  }
  *ret_score = sum;
  return true;
}

template <typename Score>
bool reachesthreshold(const ScoringMatrix *matrix, Score score) {
  return scoreof<Score>(matrix->threshold) <= score;
}

template <typename Score>
int reducedsearch_kbest_templ(const Multiseq *multiseq, ScoringMatrix *reducedmatrix,
                              const ScoringMatrix *proteinmatrix, const SequenceRange *range,
                              uint64_t k, ReportFunction report, SearchJob *userdata) {
  if (k == 0) return reporterror("Searching for zero best matches doesn't make any sense.");
  const unsigned char *plain = multiseq->plainsequence;
  BestMatches<Score> store;
  bestmatches_init(&store, k);
  int result = lookahead_scan<Score>(
      multiseq, reducedmatrix, range, [&](Score, uint64_t endposition) {
        Score score;
        if (!proteinscore_templ<Score>(proteinmatrix, plain, endposition, false, &score) ||
            !reachesthreshold<Score>(proteinmatrix, score)) {
          return 0;
        }
        return bestmatches_offer<Score>(&store, score, endposition, reducedmatrix);
      });
  if (result == 0) {
    Match match;
    initmatch(&match, multiseq, reducedmatrix, userdata);
    result = bestmatches_report(&store, &match, report);
  }
  bestmatches_free(&store);
  return result;
}
