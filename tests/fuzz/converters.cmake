# libFuzzer targets for the matrix converters: each reads arbitrary bytes as its input format
# and writes the library. Built with -DZELKO_FUZZ=ON and a clang compiler; tests/fuzz/run-fuzzers
# runs them with the others, tests/fuzz/run_converters.sh alone.
set(CONVERTER_FUZZ_TARGETS printsconv transfacconv)
foreach(name ${CONVERTER_FUZZ_TARGETS})
  string(REGEX REPLACE "conv$" "" format ${name})
  set(target fuzz_${format}conv)
  add_executable(${target} ${CMAKE_SOURCE_DIR}/tests/fuzz/${target}.cpp
                           ${CMAKE_SOURCE_DIR}/src/convert/${format}matrices.cpp)
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/src)
  target_compile_options(${target} PRIVATE -fsanitize=fuzzer,address,undefined
                                           -fno-sanitize-recover=undefined -g)
  target_link_options(${target} PRIVATE -fsanitize=fuzzer,address,undefined)
endforeach()
