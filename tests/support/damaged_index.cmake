# Builds the index of runs/seq/repeats.fa as @WORK@/idx with the zelkoindex beside the program,
# then damages its text behind the back of its tables: the codes at positions 1 and 24 become
# 100, beyond the DNA alphabet, while the suffix and lcp tables still describe the old text.
# Included by the setup.cmake of the cases on a damaged index.
get_filename_component(bindir ${EXE} DIRECTORY)
execute_process(COMMAND ${bindir}/zelkoindex -db runs/seq/repeats.fa -dna -indexname ${WORK}/idx -q
  WORKING_DIRECTORY ${DATA} RESULT_VARIABLE built)
if(built)
  message(FATAL_ERROR "zelkoindex failed: ${built}")
endif()
foreach(position 1 24)
  execute_process(COMMAND sh -c "printf '\\144' | dd of='${WORK}/idx.tis' bs=1 seek=${position} conv=notrunc status=none"
    RESULT_VARIABLE damaged)
  if(damaged)
    message(FATAL_ERROR "damaging the index failed: ${damaged}")
  endif()
endforeach()
