# Builds the index of table/chrom.fa as @WORK@/idx with the zelkoindex beside the program.
get_filename_component(bindir ${EXE} DIRECTORY)
execute_process(COMMAND ${bindir}/zelkoindex -db table/chrom.fa -dna -indexname ${WORK}/idx -q
  WORKING_DIRECTORY ${DATA} RESULT_VARIABLE built)
if(built)
  message(FATAL_ERROR "zelkoindex failed: ${built}")
endif()
