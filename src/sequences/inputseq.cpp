// Input selection: the database name is an enhanced suffix array index when its project file
// exists, otherwise a sequence file read with the alphabet chosen on the command line.
#include "sequences/inputseq.hpp"

#include <cstdlib>
#include <cstring>

#include "base/error.hpp"
#include "base/genfile.hpp"
#include "base/output.hpp"
#include "sequences/readvirt.hpp"

namespace {

bool isindexname(const char *databasename) {
  char *projectfile = addsuffix(databasename, "prj");
  const bool exists = fileexists(projectfile);
  std::free(projectfile);
  return exists;
}

// The alphabet chosen by the options; mapsize stays 0 when none was chosen.
int setupalphabet(Alphabet *alpha, const char *smapname, bool protein, bool dna) {
  if (smapname != nullptr) {
    if (loadsymbolmapfile(alpha, smapname) != 0) {
      seterrorcode(1);
      return -1;
    }
  } else if (protein) {
    proteinalphabet(alpha);
  } else if (dna) {
    dnaalphabet(alpha);
  }
  return 0;
}

}  // namespace

int selectinputsequence(const char *databasename, const char *smapname, bool protein, bool dna,
                        uint32_t demand, Virtualtree *virtualtree, bool *ret_isindex,
                        uint64_t jobs) {
  *virtualtree = Virtualtree{};
  *ret_isindex = false;
  if (databasename != nullptr && isindexname(databasename)) {
    printstatus("Reading input sequence from ESA `%s'.\n", databasename);
    if (smapname != nullptr || protein || dna) {
      return reporterror(
          "No symbol map must be specified if the input sequence is an enhanced suffix array.");
    }
    if (openvirtualtree(virtualtree, databasename, demand) != 0) {
      // Release what was mapped before the failure, keeping the failure's message.
      char message[errorcapacity];
      std::memcpy(message, errormessagespace(), errorcapacity);
      closevirtualtree(virtualtree);
      std::memcpy(errormessagespace(), message, errorcapacity);
      seterrorcode(1);
      return -1;
    }
    *ret_isindex = true;
    return 0;
  }
  if (setupalphabet(&virtualtree->alpha, smapname, protein, dna) != 0) return -1;
  if (databasename == nullptr) return 0;
  printstatus("Reading input sequence from `%s'.\n", databasename);
  if (virtualtree->alpha.mapsize == 0) {
    return reporterror("The input sequence is not an enhanced suffix array. You must specify a "
                       "symbol map via -smap, -protein, or -dna option.");
  }
  virtualtree->filename = databasename;
  if (readsequencefile(&virtualtree->multiseq, databasename, &virtualtree->alpha,
                       (demand & OISTAB) != 0, jobs) != 0) {
    freemultiseq(&virtualtree->multiseq);  // a failed load leaves the container partly filled
    seterrorcode(1);
    return -1;
  }
  virtualtree->filebuffer = virtualtree->multiseq.sequence;
  return 0;
}

int releaseinputsequence(Virtualtree *virtualtree, bool isindex) {
  // A successful release of an index clears the error code.
  const int result =
      isindex ? closevirtualtree(virtualtree) : freemultiseq(&virtualtree->multiseq);
  virtualtree->filebuffer = nullptr;
  if (result != 0) {
    seterrorcode(1);
    return -1;
  }
  if (isindex) clearerrorcode();
  return 0;
}
