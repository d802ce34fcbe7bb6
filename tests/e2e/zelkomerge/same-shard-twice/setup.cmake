# One shard named twice.
set(shards "all -db runs/seq/dna.fa -dna -pr runs/lib/dna.lib -simple -rawth 5 -format human")
include(${CMAKE_CURRENT_LIST_DIR}/../../../support/make_shards.cmake)
