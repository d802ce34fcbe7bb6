// zelko enrich --html: the page of an enrichment, written as zelko scan writes its page.
#include "htmlreport/enrichreport.hpp"

#include "enrich/enrich.hpp"
#include "zelko/commands.hpp"

int writeenrichreport(const ScanMotifs &motifs, const ScanSequences &target,
                      const ScanSequences *control, const EnrichResult &result, int argc,
                      char **argv, const char *path) {
  EnrichReportInputs inputs;
  inputs.target = target.path;
  inputs.targetbytes = target.filebytes;
  if (control != nullptr) {
    inputs.control = control->path;
    inputs.controlbytes = control->filebytes;
  }
  inputs.commandline = commandlinetext(argc, argv);
  HtmlEnrichment page;
  if (enrichreport_build(motifs, result, inputs, &page) != 0) return -1;
  return writepagefile(enrichreport_render(page), path);
}
