// zelko enrich --html: the page of an enrichment.
#include "base/error.hpp"
#include "enrich/enrich.hpp"
#include "zelko/commands.hpp"

int writeenrichreport(const ScanMotifs &, const ScanSequences &, const EnrichResult &, int,
                      char **, const char *path) {
  return reporterror("cannot write `%s': the page of an enrichment is not built yet", path);
}
