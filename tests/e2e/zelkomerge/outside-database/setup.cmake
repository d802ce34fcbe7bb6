# A shard searched over another database (three sequences) than the merge's (two).
set(shards "other -db runs/seq/repeats.fa -dna -pr runs/lib/dna.lib -simple -rawth 5 -format tabs")
include(${CMAKE_CURRENT_LIST_DIR}/../../../support/make_shards.cmake)
