# Builds the index of realpha/db.fa over the reduced test map as @WORK@/idx with the zelkoindex
# beside the program; the index keeps the plain characters that the confirmation reads.
get_filename_component(bindir ${EXE} DIRECTORY)
execute_process(COMMAND ${bindir}/zelkoindex -db realpha/db.fa -smap realpha/lowercase.smap
  -indexname ${WORK}/idx -q WORKING_DIRECTORY ${DATA} RESULT_VARIABLE built)
if(built)
  message(FATAL_ERROR "zelkoindex failed: ${built}")
endif()
