// Chromosome coordinates of a match in a sequence cut from a genome, taken from the region
// word of the sequence's description, as UCSC writes them: "chr2L:521466-523465", 1-based
// and closed, also as "range=chr2L:521466-523465".
//
// A sequence cut from the reverse strand (UCSC's "strand=-" word, or the "_r" suffix of its
// upstream and downstream files, "NM_001272973_up_2000_chr2L_2109879_r") reads the region
// backwards and complemented: its positions count from the region's end and its strands
// turn over.
//
// Contents: GenomicRegion; findregion; genomiccoordinates; turnedstrand.
#pragma once

#include <cstdint>
#include <string_view>

struct GenomicRegion {
  std::string_view chromosome;
  uint64_t start = 0;  // 1-based, closed
  uint64_t end = 0;
  bool reverse = false;
};

// The first region word of the description (stored ". " line ends included); false when
// it has none.
bool findregion(std::string_view sequencedescription, GenomicRegion *region);

// 1-based closed chromosome coordinates of the match at position (from 0) with length in
// the region's sequence; false when the match does not lie inside the region.
bool genomiccoordinates(const GenomicRegion &region, uint64_t position, uint64_t length,
                        uint64_t *start, uint64_t *stop);

// The strand code on the other strand of the chromosome: fn and rc, fc and rn exchanged.
std::string_view turnedstrand(std::string_view strand);
