# A shard searched with a lower raw threshold than the merge's options give.
set(shards "loose -db runs/seq/dna.fa -dna -pr runs/lib/dna.lib -simple -rawth 5 -format tabs")
include(${CMAKE_CURRENT_LIST_DIR}/../../../support/make_shards.cmake)
