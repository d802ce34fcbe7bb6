// The scan library's entry points (see scan.hpp).
#include "scan/scan.hpp"

#include "base/error.hpp"

namespace {
thread_local std::string lastmessage;

int notyet() {
  lastmessage = "not implemented yet";
  return -1;
}
}  // namespace

int scan_readmotifs(const std::vector<std::string> &, ScanFormat, ScanMotifs *) { return notyet(); }
void scan_freemotifs(ScanMotifs *) {}
int scan_addsequence(ScanSequences *, std::string_view, std::string_view) { return notyet(); }
int scan_loadsequences(ScanSequences *, ScanAlphabet) { return notyet(); }
void scan_freesequences(ScanSequences *) {}
int scan_countbackground(const ScanSequences &, std::vector<double> *) { return notyet(); }
int scan_preparemotifs(ScanMotifs *, const ScanSequences &, const ScanBackground &, double) {
  return notyet();
}
int scan_threshold(const ScanMotifs &, uint64_t, double, int64_t *) { return notyet(); }
int scan_pvalue(const ScanMotifs &, uint64_t, int64_t, double *) { return notyet(); }
int scan_scorewindows(const ScanMotifs &, uint64_t, std::string_view, std::vector<int64_t> *,
                      std::vector<int64_t> *) {
  return notyet();
}
int scan_run(ScanMotifs *, ScanSequences *, const ScanOptions &, ScanResult *) { return notyet(); }
int scan_writetsv(const ScanResult &, const ScanMotifs &, const ScanSequences &, FILE *) {
  return notyet();
}
int scan_writebed(const ScanResult &, const ScanMotifs &, const ScanSequences &, FILE *) {
  return notyet();
}
int scan_writegff3(const ScanResult &, const ScanMotifs &, const ScanSequences &, FILE *) {
  return notyet();
}
const char *scan_errormessage() { return lastmessage.c_str(); }
uint64_t scan_availablethreads() { return 1; }
const char *scan_version() { return "Zelko 1.3"; }
