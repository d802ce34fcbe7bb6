# Makes the shard reports of a zelkomerge case (included by its setup.cmake) with the
# zelkosearch beside the program, run in the test data folder: every entry of the list
# "shards" is a file name below WORK followed by the search's options, separated by blanks.
get_filename_component(bindir ${EXE} DIRECTORY)
foreach(shard ${shards})
  string(REPLACE " " ";" words "${shard}")
  list(POP_FRONT words name)
  execute_process(COMMAND ${bindir}/zelkosearch ${words} -q WORKING_DIRECTORY ${DATA}
    OUTPUT_FILE ${WORK}/${name} RESULT_VARIABLE searched)
  if(searched)
    message(FATAL_ERROR "zelkosearch failed for ${name}: ${searched}")
  endif()
endforeach()
