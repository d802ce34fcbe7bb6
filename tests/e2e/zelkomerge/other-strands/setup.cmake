# A shard searched on both strands, merged as a forward-only search.
set(shards "both -db runs/seq/dna.fa -dna -pr runs/lib/dna.lib -simple -rawth 5 -2 -format tabs")
include(${CMAKE_CURRENT_LIST_DIR}/../../../support/make_shards.cmake)
