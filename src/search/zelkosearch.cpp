// zelkosearch: searches a sequence database with a library of scoring matrices.
#include "base/error.hpp"

int main(int argc, char **argv) {
  installnewhandler();
  return 0;
}
