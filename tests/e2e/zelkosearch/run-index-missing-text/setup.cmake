# Builds the index of runs/seq/repeats.fa as @WORK@/idx with the zelkoindex beside the program
# and removes its text table, idx.tis.
get_filename_component(bindir ${EXE} DIRECTORY)
execute_process(COMMAND ${bindir}/zelkoindex -db runs/seq/repeats.fa -dna -indexname ${WORK}/idx -q
  WORKING_DIRECTORY ${DATA} RESULT_VARIABLE built)
if(built)
  message(FATAL_ERROR "zelkoindex failed: ${built}")
endif()
file(REMOVE ${WORK}/idx.tis)
