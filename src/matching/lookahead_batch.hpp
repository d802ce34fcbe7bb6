// Many lookahead searches over one Multiseq at once. The matrices of every profile and strand
// of a run are searched block by block over the database, so that a block is read from
// memory once for all of them and the work can be cut into parts of the database for
// threads. Matrices whose threshold leaves few windows worth a look share one table over the
// q-grams of the database, which lists per q-gram the matrices that a window holding it may
// still match, so that a position costs one look-up instead of one pass per matrix; the
// others take the byte pass of the lookahead filter. The hits of each matrix are kept and
// reported afterwards, in the order and with the scores that lookaheadsearch reports.
#pragma once

#include <cstdint>

#include "matching/match_simplesearch.hpp"

struct LookaheadBatch;

// How the matrices of a batch are searched: by the cheaper way for each (the normal case), or,
// for tests that compare the ways, every matrix the q-gram table can take in the table, or
// none.
enum BatchRoute : int { BATCHROUTE_AUTO = 0, BATCHROUTE_TABLE = 1, BATCHROUTE_SCAN = 2 };

// An empty batch over the sequences in range (all when null). Null when the range names a
// sequence that does not exist (the searches of the matrices then report that themselves).
LookaheadBatch *lookaheadbatch_create(const Multiseq *multiseq, const SequenceRange *range);

// Adds a matrix with its threshold and intermediate thresholds set; it must stay as it is
// until the last part has run. Returns the matrix's number, counted from 0.
uint64_t lookaheadbatch_add(LookaheadBatch *batch, const ScoringMatrix *matrix);

// Chooses how each matrix is searched and builds the tables, for a run in at least parts
// parts, each on its own stretch of the database, by at most workers threads at once. A long
// database is cut into more parts, shorter toward its end, so that threads that each take
// the next part when done with one finish together.
void lookaheadbatch_plan(LookaheadBatch *batch, uint64_t parts, uint64_t workers,
                         BatchRoute route);

// The same in three steps, of which the middle one may be shared out among threads: start;
// then the shares 0 to shares - 1, at the same time or not; then finish.
void lookaheadbatch_planstart(LookaheadBatch *batch, uint64_t parts, uint64_t workers,
                              BatchRoute route);
void lookaheadbatch_planshare(LookaheadBatch *batch, uint64_t share, uint64_t shares);
void lookaheadbatch_planfinish(LookaheadBatch *batch);

// The number of parts of the plan.
uint64_t lookaheadbatch_parts(const LookaheadBatch *batch);

// Hits kept at most, in bytes: beyond it the matrix holding most hits is given up and its
// search is left to lookaheadsearch. Set before the parts run (tests lower it).
void lookaheadbatch_setbudget(LookaheadBatch *batch, uint64_t bytes);
// The most bytes the hit lists held at the end of a part, within the budget.
uint64_t lookaheadbatch_peakbytes(const LookaheadBatch *batch);

// Searches part number part of the plan with the scratch of worker (below the plan's
// workers). Different parts may run at the same time, each with a worker of its own; every
// part runs once, in any order.
void lookaheadbatch_runpart(LookaheadBatch *batch, uint64_t part, uint64_t worker);

// After all parts: whether the hits of matrix number are held (not when its score type is
// invalid or it was given up).
bool lookaheadbatch_holds(const LookaheadBatch *batch, uint64_t number);

// Whether matrix number went through the q-gram table (for tests and benchmarks).
bool lookaheadbatch_intable(const LookaheadBatch *batch, uint64_t number);

// Reports the held hits of matrix number as lookaheadsearch would with matrix (a matrix
// equal to the one added) and releases them: 0, or -1 as soon as report answers non-zero.
// Different matrices may be reported at the same time.
int lookaheadbatch_report(LookaheadBatch *batch, uint64_t number, const ScoringMatrix *matrix,
                          ReportFunction report, SearchJob *userdata);

// Reports the hits of matrix number in one part only, as soon as that part has run, and
// releases them: for a caller that takes the hits in any order (it sorts them itself), so
// that the lists of a part are held only while it is reported. The budget must then not give
// matrices up (set it beyond reach): a matrix given up after some parts were reported would
// be searched again as a whole. 0, or -1 as soon as report answers non-zero.
int lookaheadbatch_reportpart(LookaheadBatch *batch, uint64_t part, uint64_t number,
                              const ScoringMatrix *matrix, ReportFunction report,
                              SearchJob *userdata);

void lookaheadbatch_free(LookaheadBatch *batch);
