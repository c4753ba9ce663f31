# libFuzzer targets (clang only), built when RD_FUZZ is on.
#
# The tool's libraries are compiled with coverage instrumentation and
# AddressSanitizer + UndefinedBehaviorSanitizer (any undefined behaviour
# stops the run, so that the fuzzer records it as a crash); each fuzzer links
# libFuzzer's main. `cmake --build <dir> --target fuzz` runs every fuzzer in
# turn for RD_FUZZ_SECONDS, each on its seed corpus in fuzz/corpus/<name>/;
# new inputs go to <dir>/fuzz/corpus/<name>/, so the seeds in the source tree
# stay as they are.

set(RD_FUZZ_SECONDS 60 CACHE STRING "Seconds each fuzzer runs under the fuzz target")

set(RD_FUZZ_SANITIZERS address,undefined)
set(RD_FUZZ_COMPILE_OPTIONS -fsanitize=fuzzer-no-link,${RD_FUZZ_SANITIZERS}
    -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g)

if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "RD_FUZZ needs clang (e.g. -DCMAKE_CXX_COMPILER=clang++-14)")
endif()

# Instruments the libraries the fuzzers reach: every layer below the front
# ends, and the simulator. A name that is no library is an error, so that the
# list cannot fall behind a renamed layer unnoticed.
function(rd_instrument_libraries_for_fuzzing)
  foreach(lib rd_serial rd_sha256 rd_platform rd_res rd_link rd_upload rd_ui rd_sim)
    if(NOT TARGET ${lib})
      message(FATAL_ERROR "RdFuzz: no library ${lib} to instrument")
    endif()
    target_compile_options(${lib} PRIVATE ${RD_FUZZ_COMPILE_OPTIONS})
    target_link_options(${lib} INTERFACE -fsanitize=${RD_FUZZ_SANITIZERS})
  endforeach()
endfunction()

add_custom_target(fuzz COMMENT "Running each fuzzer for ${RD_FUZZ_SECONDS} s")

# rd_add_fuzzer(name source... LIBS lib...): one fuzzer, fuzz_<name>, and its
# run under the fuzz target.
function(rd_add_fuzzer name)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  set(target fuzz_${name})
  add_executable(${target} ${ARG_UNPARSED_ARGUMENTS})
  target_compile_options(${target} PRIVATE ${RD_FUZZ_COMPILE_OPTIONS})
  target_link_options(${target} PRIVATE -fsanitize=fuzzer,${RD_FUZZ_SANITIZERS})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS})

  set(seeds ${PROJECT_SOURCE_DIR}/fuzz/corpus/${name})
  set(work ${CMAKE_CURRENT_BINARY_DIR}/corpus/${name})
  add_custom_target(run_${target}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${work}
    COMMAND $<TARGET_FILE:${target}> -max_total_time=${RD_FUZZ_SECONDS} -timeout=30
            -print_final_stats=1 ${work} ${seeds}
    DEPENDS ${target}
    USES_TERMINAL)
  # One fuzzer at a time: each wants the whole machine.
  get_property(previous GLOBAL PROPERTY RD_LAST_FUZZ_RUN)
  if(previous)
    add_dependencies(run_${target} ${previous})
  endif()
  set_property(GLOBAL PROPERTY RD_LAST_FUZZ_RUN run_${target})
  add_dependencies(fuzz run_${target})
endfunction()
