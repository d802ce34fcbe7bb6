// Region words of sequence descriptions and the chromosome coordinates they give.
#include "table/genomic.hpp"

#include <charconv>
#include <system_error>

#include "table/tabsrecord.hpp"

namespace {

bool readposition(std::string_view text, uint64_t *value) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return error == std::errc() && end == text.data() + text.size();
}

// "name:start-end" with 1 <= start <= end, after an optional "range=" and before an optional
// final period (a line end inside the description is printed as ". ").
bool readregionword(std::string_view word, GenomicRegion *region) {
  if (word.starts_with("range=")) word.remove_prefix(6);
  if (word.ends_with('.')) word.remove_suffix(1);
  const size_t colon = word.rfind(':');
  if (colon == std::string_view::npos || colon == 0) return false;
  const std::string_view numbers = word.substr(colon + 1);
  const size_t dash = numbers.find('-');
  if (dash == std::string_view::npos) return false;
  uint64_t start, end;
  if (!readposition(numbers.substr(0, dash), &start) ||
      !readposition(numbers.substr(dash + 1), &end) || start == 0 || start > end) {
    return false;
  }
  region->chromosome = word.substr(0, colon);
  region->start = start;
  region->end = end;
  return true;
}

// True when the first word ends with "_<chromosome>_<start>_r", UCSC's name of a sequence
// cut from the reverse strand.
bool reversedbyname(std::string_view firstword, const GenomicRegion &region) {
  if (!firstword.ends_with("_r")) return false;
  firstword.remove_suffix(2);
  char digits[24];
  const auto [end, error] = std::to_chars(digits, digits + sizeof digits, region.start);
  const std::string_view start(digits, static_cast<size_t>(end - digits));
  if (!firstword.ends_with(start)) return false;
  firstword.remove_suffix(start.size());
  if (!firstword.ends_with('_')) return false;
  firstword.remove_suffix(1);
  return firstword.ends_with(region.chromosome) &&
         firstword.size() > region.chromosome.size() &&
         firstword[firstword.size() - region.chromosome.size() - 1] == '_';
}

}  // namespace

bool findregion(std::string_view sequencedescription, GenomicRegion *region) {
  const std::string_view header = headertext(sequencedescription);
  std::string_view firstword;
  bool found = false;
  bool strandword = false;
  bool reverse = false;
  size_t start = 0;
  while (start < header.size()) {
    start = header.find_first_not_of(" \t", start);
    if (start == std::string_view::npos) break;
    size_t end = header.find_first_of(" \t", start);
    if (end == std::string_view::npos) end = header.size();
    std::string_view word = header.substr(start, end - start);
    if (firstword.empty()) firstword = word;
    if (word.ends_with('.')) word.remove_suffix(1);
    if (word == "strand=-" || word == "strand=+") {
      strandword = true;
      reverse = word == "strand=-";
    } else if (!found) {
      found = readregionword(word, region);
    }
    start = end;
  }
  if (!found) return false;
  region->reverse = strandword ? reverse : reversedbyname(firstword, *region);
  return true;
}

bool genomiccoordinates(const GenomicRegion &region, uint64_t position, uint64_t length,
                        uint64_t *start, uint64_t *stop) {
  const uint64_t regionlength = region.end - region.start + 1;
  if (position >= regionlength || length > regionlength - position) return false;
  if (region.reverse) {
    *stop = region.end - position;
    *start = *stop - length + 1;
  } else {
    *start = region.start + position;
    *stop = *start + length - 1;
  }
  return true;
}

std::string_view turnedstrand(std::string_view strand) {
  if (strand == "fn") return "rc";
  if (strand == "rc") return "fn";
  if (strand == "fc") return "rn";
  return "fc";
}
