// The k-let preserving shuffle of a sequence: a uniformly random Eulerian path through the
// multigraph whose vertices are the sequence's (k-1)-lets and whose edges are its k-lets.
//
// Every Eulerian path from the first (k-1)-let to the last one is given by a choice of the
// last edge leaving every vertex but the last, these edges forming a spanning tree directed
// towards the last vertex, together with an order of the other edges leaving each vertex. A
// uniform tree (Wilson's algorithm: loop-erased random walks, each step along a uniformly
// chosen edge) and uniform orders therefore give a uniform path over the edges taken as
// distinct, and since every sequence with the same k-let counts stands for the same number of
// such paths, a uniform sequence among them.
//
// The random numbers come from std::mt19937_64, whose output the standard fixes, through a
// bounded draw written here (the standard library's distributions differ between
// implementations), so that a seed gives the same sequence everywhere.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "enrich/enrichstats.hpp"

namespace {

// Uniform integers below a bound without bias: the high half of a 64 x 64-bit product, the
// draws whose low half falls below 2^64 mod bound redrawn.
struct Random {
  std::mt19937_64 engine;
  explicit Random(uint64_t seed) : engine(seed) {}
  uint64_t below(uint64_t bound) {
    unsigned __int128 product = static_cast<unsigned __int128>(engine()) * bound;
    if (static_cast<uint64_t>(product) < bound) {
      const uint64_t threshold = (0 - bound) % bound;
      while (static_cast<uint64_t>(product) < threshold)
        product = static_cast<unsigned __int128>(engine()) * bound;
    }
    return static_cast<uint64_t>(product >> 64);
  }
};

// Numbers the width-letter words at the positions 0..places-1 of sequence densely, in the
// lexicographic order of the words; returns how many distinct words there are.
template <typename Index>
Index numberwords(const unsigned char *sequence, uint64_t places, unsigned width, Index *id) {
  if (width == 1) {
    Index rank[256] = {};
    bool present[256] = {};
    for (uint64_t i = 0; i < places; i++) present[sequence[i]] = true;
    Index count = 0;
    for (unsigned c = 0; c < 256; c++)
      if (present[c]) rank[c] = count++;
    for (uint64_t i = 0; i < places; i++) id[i] = rank[sequence[i]];
    return count;
  }
  if (width <= 8) {  // the words packed big-endian into integers, which sort as the words do
    std::vector<uint64_t> key(places);
    const uint64_t mask = width == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * width)) - 1;
    uint64_t word = 0;
    for (unsigned j = 0; j + 1 < width; j++) word = word << 8 | sequence[j];
    for (uint64_t i = 0; i < places; i++) {
      word = (word << 8 | sequence[i + width - 1]) & mask;
      key[i] = word;
    }
    std::vector<uint64_t> words(key);
    std::sort(words.begin(), words.end());
    words.erase(std::unique(words.begin(), words.end()), words.end());
    for (uint64_t i = 0; i < places; i++)
      id[i] = static_cast<Index>(std::lower_bound(words.begin(), words.end(), key[i]) - words.begin());
    return static_cast<Index>(words.size());
  }
  // Longer words: the positions sorted by their words.
  std::vector<Index> position(places);
  for (uint64_t i = 0; i < places; i++) position[i] = static_cast<Index>(i);
  auto compare = [&](Index a, Index b) {
    return std::memcmp(sequence + a, sequence + b, width) < 0;
  };
  std::sort(position.begin(), position.end(), compare);
  Index count = 0;
  for (uint64_t i = 0; i < places; i++) {
    if (i > 0 && compare(position[i - 1], position[i])) count++;
    id[position[i]] = count;
  }
  return count + 1;
}

template <typename Index>
void eulerianshuffle(const unsigned char *sequence, uint64_t length, unsigned k, Random *random,
                     unsigned char *out) {
  const uint64_t edges = length - k + 1;  // the k-let at i runs from vertex[i] to vertex[i + 1]
  std::vector<Index> vertex(edges + 1);
  const Index vertices = numberwords<Index>(sequence, edges + 1, k - 1, vertex.data());
  const Index start = vertex[0], root = vertex[edges];
  std::vector<unsigned char> lastletter(vertices);  // the letter an edge into the vertex adds
  for (uint64_t i = 0; i <= edges; i++) lastletter[vertex[i]] = sequence[i + k - 2];

  // The heads of the edges leaving each vertex, in slots first[v]..first[v + 1] - 1, in the
  // order of their positions (then permuted: the walk reads each vertex's slots in order).
  std::vector<Index> first(static_cast<uint64_t>(vertices) + 1, 0);
  for (uint64_t i = 0; i < edges; i++) first[vertex[i] + 1]++;
  for (Index v = 0; v < vertices; v++) first[v + 1] += first[v];
  std::vector<Index> head(edges);
  {
    std::vector<Index> fill(first.begin(), first.end() - 1);
    for (uint64_t i = 0; i < edges; i++) head[fill[vertex[i]]++] = vertex[i + 1];
  }
  std::vector<Index>().swap(vertex);

  // The last exits: a uniform spanning tree towards the last vertex, which every other vertex
  // reaches (through the rest of the sequence from any place it stands at).
  std::vector<Index> exit(vertices);
  std::vector<unsigned char> intree(vertices, 0);
  intree[root] = 1;
  for (Index v = 0; v < vertices; v++) {
    for (Index u = v; !intree[u]; u = head[exit[u]])
      exit[u] = first[u] + static_cast<Index>(random->below(first[u + 1] - first[u]));
    for (Index u = v; !intree[u]; u = head[exit[u]]) intree[u] = 1;
  }

  // The order of the edges leaving each vertex: its last exit last, the others shuffled.
  for (Index v = 0; v < vertices; v++) {
    Index end = first[v + 1];
    if (v != root) std::swap(head[exit[v]], head[--end]);
    for (Index i = end - first[v]; i > 1; i--)
      std::swap(head[first[v] + i - 1], head[first[v] + static_cast<Index>(random->below(i))]);
  }

  // The walk, from the first (k-1)-let; the input is no longer read, so out may be it.
  std::memmove(out, sequence, k - 1);
  std::vector<Index> &next = first;  // the next unused slot of each vertex
  Index at = start;
  for (uint64_t i = 0; i < edges; i++) {
    at = head[next[at]++];
    out[k - 1 + i] = lastletter[at];
  }
}

}  // namespace

void shuffle_klets(const unsigned char *sequence, uint64_t length, unsigned k, uint64_t seed,
                   unsigned char *out) {
  if (k == 0 || length < static_cast<uint64_t>(k) + 1) {
    std::memmove(out, sequence, length);
    return;
  }
  Random random(seed);
  if (k == 1) {  // Fisher-Yates
    std::memmove(out, sequence, length);
    for (uint64_t i = length; i > 1; i--) std::swap(out[i - 1], out[random.below(i)]);
    return;
  }
  if (length - k + 2 < UINT32_MAX)
    eulerianshuffle<uint32_t>(sequence, length, k, &random, out);
  else
    eulerianshuffle<uint64_t>(sequence, length, k, &random, out);
}
