# `make install` (cmake --install; CMAKE_INSTALL_PREFIX and DESTDIR apply): every program of
# this build, the bundled symbol maps and the manual pages.
include(GNUInstallDirs)

set(ZELKO_PROGRAMS zelko zelkosearch zelkosearch-st zelkodist zelkodist-st zelkoindex motifconv
    zelkotable zelkomerge printsconv transfacconv)
set(installedprograms "")
foreach(program ${ZELKO_PROGRAMS})
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    list(APPEND installedprograms ${program})
  endif()
endforeach()

# Symbol maps where SARNIXSMAPDIR can be pointed at: <prefix>/share/zelko/smap.
set(ZELKO_SMAPDIR ${CMAKE_INSTALL_DATADIR}/zelko/smap)
file(GLOB ZELKO_SMAPS CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/smap/*.smap)
if(ZELKO_SMAPS)
  install(FILES ${ZELKO_SMAPS} DESTINATION ${ZELKO_SMAPDIR})
endif()

# Manual pages: the option list of each page comes from its program's -help when the
# program is part of this build, so the pages never drift from the programs.
set(ZELKO_PAGES zelko zelkosearch zelkodist zelkoindex motifconv zelkotable zelkomerge printsconv
    transfacconv)
set(pagefiles "")
foreach(page ${ZELKO_PAGES})
  set(source ${CMAKE_SOURCE_DIR}/man/${page}.1)
  set(output ${CMAKE_BINARY_DIR}/man/${page}.1)
  set(program "")
  set(depends ${source} ${CMAKE_SOURCE_DIR}/cmake/manpage.cmake)
  # The two matrix converters take no options and zelkomerge's options stand in its usage
  # text, so their pages are written out in full. zelko lists the options of zelko scan.
  if(TARGET ${page} AND NOT page MATCHES "^(printsconv|transfacconv|zelkomerge)$")
    set(program $<TARGET_FILE:${page}>)
    list(APPEND depends ${page})
  endif()
  set(helpargs "-help")
  if(page STREQUAL "zelko")
    set(helpargs "scan --help")
  endif()
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -DSOURCE=${source} -DOUTPUT=${output} -DEXE=${program}
            "-DHELPARGS=${helpargs}" -DNAME=${page} -P ${CMAKE_SOURCE_DIR}/cmake/manpage.cmake
    DEPENDS ${depends}
    COMMENT "Manual page ${page}.1")
  list(APPEND pagefiles ${output})
endforeach()
# The single-threaded builds get a copy of the page of their threaded twin: a page of their
# own, which `man -l' reads from anywhere (a `.so' link is found only from the manual's root).
foreach(program zelkosearch zelkodist)
  if(TARGET ${program}-st)
    set(twin ${CMAKE_BINARY_DIR}/man/${program}.1)
    set(output ${CMAKE_BINARY_DIR}/man/${program}-st.1)
    add_custom_command(OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -E copy ${twin} ${output}
      DEPENDS ${twin}
      COMMENT "Manual page ${program}-st.1")
    list(APPEND pagefiles ${output})
  endif()
endforeach()
add_custom_target(manpages ALL DEPENDS ${pagefiles})
# What `make install` needs, without the tests and benchmarks.
add_custom_target(installables DEPENDS ${installedprograms} manpages)
install(FILES ${pagefiles} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
