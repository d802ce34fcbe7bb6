// Motif enrichment end to end on planted sites: sites drawn from three JASPAR motifs planted
// into 1,000 random 200-letter sequences at 5 to 20 % come out as the three most enriched
// motifs against the shuffled targets, far beyond chance; without planted sites no motif
// passes an E-value of 0.05 but at the rate asked for, over 20 seeds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "enrich/enrich.hpp"

namespace {

const std::string motiffile = ZELKO_TEST_DATA "/../../examples/jaspar_vertebrates40.jaspar";

// A site of the motif drawn from its counts, in the motif's letter order.
std::string drawsite(const ScanMotif &motif, std::mt19937_64 *random) {
  std::string site;
  const size_t k = motif.letters.size();
  for (uint64_t row = 0; row < motif.length; row++) {
    double total = 0.0;
    for (size_t i = 0; i < k; i++) total += motif.counts[row * k + i];
    double u = std::uniform_real_distribution<double>(0.0, total)(*random);
    size_t chosen = k - 1;
    for (size_t i = 0; i < k; i++) {
      u -= motif.counts[row * k + i];
      if (u < 0.0) {
        chosen = i;
        break;
      }
    }
    site.push_back(static_cast<char>(std::toupper(motif.letters[chosen])));
  }
  return site;
}

std::string reversecomplement(const std::string &site) {
  std::string out(site.rbegin(), site.rend());
  for (char &c : out) c = c == 'A' ? 'T' : c == 'C' ? 'G' : c == 'G' ? 'C' : 'A';
  return out;
}

struct Planted {
  ScanMotifs motifs;
  ScanSequences targets;
  EnrichResult result;
  ~Planted() {
    scan_freesequences(&targets);
    scan_freemotifs(&motifs);
  }
};

// 1,000 random sequences, with sites of the chosen motifs at their rates; then the analysis
// against the shuffled targets.
void plantandenrich(uint64_t seed, const std::vector<std::pair<size_t, double>> &plants,
                    Planted *run) {
  ASSERT_EQ(scan_readmotifs({motiffile}, SCAN_FORMAT_AUTO, &run->motifs), 0)
      << scan_errormessage();
  std::mt19937_64 random(seed);
  for (int s = 0; s < 1000; s++) {
    std::string letters;
    for (int i = 0; i < 200; i++) letters.push_back("ACGT"[random() % 4]);
    for (const auto &[motif, rate] : plants) {
      if (std::uniform_real_distribution<double>(0.0, 1.0)(random) >= rate) continue;
      std::string site = drawsite(run->motifs.motifs[motif], &random);
      if (random() % 2) site = reversecomplement(site);
      const size_t at = random() % (letters.size() - site.size() + 1);
      std::copy(site.begin(), site.end(), letters.begin() + static_cast<std::ptrdiff_t>(at));
    }
    ASSERT_EQ(scan_addsequence(&run->targets, std::string("s").append(std::to_string(s)), letters), 0);
  }
  // A cutoff of 1e-5: at 1e-4 a random 200-letter sequence has a match of a motif by chance
  // one time in 25, which hides sites planted in one sequence in 20.
  EnrichOptions options;
  options.pvalue = 1e-5;
  options.threads = 2;
  options.warnings = false;
  options.seed = seed;
  ASSERT_EQ(enrich_run(&run->motifs, &run->targets, nullptr, options, &run->result), 0)
      << scan_errormessage();
}

TEST(EnrichPlanted, planted_motifs_come_first_and_chance_stays_at_its_rate) {
  // The three motifs of most information (bits over a uniform background), planted at 5,
  // 10 and 20 %: their sites mostly reach the cutoff.
  std::vector<size_t> chosen;
  {
    ScanMotifs motifs;
    ASSERT_EQ(scan_readmotifs({motiffile}, SCAN_FORMAT_AUTO, &motifs), 0);
    std::vector<std::pair<double, size_t>> information;
    for (size_t m = 0; m < motifs.motifs.size(); m++) {
      const ScanMotif &motif = motifs.motifs[m];
      const size_t k = motif.letters.size();
      double bits = 0.0;
      for (uint64_t row = 0; row < motif.length; row++) {
        double total = 0.0;
        for (size_t i = 0; i < k; i++) total += motif.counts[row * k + i];
        bits += 2.0;
        for (size_t i = 0; i < k; i++) {
          const double f = motif.counts[row * k + i] / total;
          if (f > 0.0) bits += f * std::log2(f);
        }
      }
      information.push_back({-bits, m});
    }
    std::sort(information.begin(), information.end());
    for (int i = 0; i < 3; i++) chosen.push_back(information[i].second);
    scan_freemotifs(&motifs);
  }
  ASSERT_EQ(chosen.size(), 3u);
  Planted planted;
  plantandenrich(7, {{chosen[0], 0.05}, {chosen[1], 0.10}, {chosen[2], 0.20}}, &planted);
  const std::vector<EnrichMotif> &rows = planted.result.motifs;
  ASSERT_GE(rows.size(), 3u);
  const std::set<size_t> top = {rows[0].motif, rows[1].motif, rows[2].motif};
  EXPECT_EQ(top, std::set<size_t>(chosen.begin(), chosen.end()));
  for (int i = 0; i < 3; i++) EXPECT_LT(rows[i].log10e, -5.0) << "row " << i;

  // No sites: a motif with E < 0.05 in a run happens at most at the rate of 5 % of runs
  // (binomial over 20 runs: 4 or more has a chance of 1.6 %).
  int runswithfalsepositive = 0;
  for (uint64_t seed = 100; seed < 120; seed++) {
    Planted none;
    plantandenrich(seed, {}, &none);
    const bool any = std::any_of(none.result.motifs.begin(), none.result.motifs.end(),
                                 [](const EnrichMotif &m) { return m.log10e < std::log10(0.05); });
    runswithfalsepositive += any;
  }
  EXPECT_LE(runswithfalsepositive, 3);
}

}  // namespace
