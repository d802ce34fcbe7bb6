# libFuzzer target for the motif readers of motifconv (included from tests/fuzz/CMakeLists.txt).
set(MOTIFCONV_FUZZ_TARGETS motifs)
foreach(target ${MOTIFCONV_FUZZ_TARGETS})
  add_executable(fuzz_${target} fuzz_${target}.cpp)
  target_link_libraries(fuzz_${target} PRIVATE motifconvlib core threads_st)
  target_include_directories(fuzz_${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_options(fuzz_${target} PRIVATE -fsanitize=fuzzer)
endforeach()
