# The README's path from a JASPAR file to a scan: the library this search reads is made from
# three JASPAR matrices by motifconv, which lies beside the search program.
get_filename_component(programs ${EXE} DIRECTORY)
execute_process(COMMAND ${programs}/motifconv -scale 1000 -o ${WORK}/motifs.lib
                        motifconv/jaspar3.jaspar
  WORKING_DIRECTORY ${DATA}
  RESULT_VARIABLE converted)
if(converted)
  message(FATAL_ERROR "motifconv failed (${converted})")
endif()
