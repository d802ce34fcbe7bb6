# Writes one manual page from its source in man/: with EXE given, the block between the lines
# ".\" options begin" and ".\" options end" is replaced by the option list that "EXE -help"
# prints, so the page lists exactly the options of the program that was built; without EXE
# (the program is not part of this build), or when -help fails or lists nothing, the written
# block stays.
# Programs with GNU-style help (zelko) give the words that print it in HELPARGS (default
# "-help"); their option lines start with blanks and a dash ("  -o, --output=FILE  text").
# Usage: cmake -DSOURCE=man/x.1 -DOUTPUT=build/man/x.1 [-DEXE=path] [-DHELPARGS=words]
#        -P manpage.cmake
cmake_minimum_required(VERSION 3.20)
file(READ ${SOURCE} page)
if(DEFINED EXE AND NOT EXE STREQUAL "")
  if(NOT DEFINED HELPARGS OR HELPARGS STREQUAL "")
    set(HELPARGS "-help")
  endif()
  separate_arguments(helpwords UNIX_COMMAND "${HELPARGS}")
  execute_process(COMMAND ${EXE} ${helpwords} OUTPUT_VARIABLE help RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(WARNING "${EXE} -help ended with status ${status}; ${OUTPUT} keeps its written options")
    set(help "")
  endif()
  # Option lines start with "-": the name, blanks, the text; continuation lines start with
  # blanks. Banner and usage lines before the first option are left out.
  string(REPLACE "\\" "\\e" help "${help}")
  string(REGEX REPLACE "\n$" "" help "${help}")
  string(REPLACE ";" "\\;" help "${help}")
  string(REPLACE "\n" ";" lines "${help}")
  set(options "")
  set(inoptions FALSE)
  foreach(line IN LISTS lines)
    if(line MATCHES "^(-[^ ]*)  *(.*)$" OR line MATCHES "^ +(-[^ ].*[^ ])  +(.*)$")
      set(inoptions TRUE)
      string(REPLACE "-" "\\-" name "${CMAKE_MATCH_1}")
      set(text "${CMAKE_MATCH_2}")
      string(APPEND options ".TP\n.B ${name}\n")
    elseif(inoptions AND line MATCHES "^  *(.*)$")
      set(text "${CMAKE_MATCH_1}")
    else()
      continue()
    endif()
    # A text line must not start a request.
    if(text MATCHES "^[.']")
      set(text "\\&${text}")
    endif()
    string(APPEND options "${text}\n")
  endforeach()
  if(options STREQUAL "")
    message(WARNING "${EXE} -help lists no options; ${OUTPUT} keeps its written options")
  else()
    # Plain text search and splicing: the options hold backslashes a regex would take apart.
    set(beginmark ".\\\" options begin\n")
    set(endmark ".\\\" options end\n")
    string(FIND "${page}" "${beginmark}" first)
    string(FIND "${page}" "${endmark}" last)
    if(first LESS 0 OR last LESS first)
      message(FATAL_ERROR "${SOURCE} lacks the options markers")
    endif()
    string(LENGTH "${endmark}" endlength)
    math(EXPR after "${last} + ${endlength}")
    string(SUBSTRING "${page}" 0 ${first} head)
    string(SUBSTRING "${page}" ${after} -1 tail)
    set(page "${head}.\\\" options from ${NAME} -help\n${options}${tail}")
  endif()
endif()
file(WRITE ${OUTPUT} "${page}")
