# Two shards whose sequence ranges (0:1 and 1:1) share sequence 1.
set(shards "first -db runs/seq/dna.fa -dna -pr runs/lib/dna.lib -simple -rawth 3 -format tabs -seqrange 0:1" "second -db runs/seq/dna.fa -dna -pr runs/lib/dna.lib -simple -rawth 3 -format tabs -seqrange 1:1")
include(${CMAKE_CURRENT_LIST_DIR}/../../../support/make_shards.cmake)
