# Fuzz targets (tests/fuzz/<name>_fuzz.cpp). In the ordinary native builds each
# runs over its seed corpus in tests/fuzz/corpus/<name>/ through the replay
# driver, as a unit test. With QUORLEN_FUZZ (preset linux-fuzz, clang) they are
# libFuzzer programs instead; tools/fuzz.sh runs those.
option(QUORLEN_FUZZ "Build the fuzz targets as libFuzzer programs (clang)" OFF)

# quorlen_fuzz_target(NAME SOURCES... LIBS...)
function(quorlen_fuzz_target name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  set(sources ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/${name}_fuzz.cpp ${F_SOURCES})
  if(QUORLEN_FUZZ)
    add_executable(${name}_fuzz ${sources})
    target_link_options(${name}_fuzz PRIVATE -fsanitize=fuzzer)
    set(target ${name}_fuzz)
  else()
    add_executable(${name}_replay ${sources} ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/replay_main.cpp)
    add_test(NAME fuzz_replay_${name} COMMAND ${name}_replay ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/${name})
    set_tests_properties(fuzz_replay_${name} PROPERTIES LABELS unit)
    set(target ${name}_replay)
  endif()
  target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/fuzz ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${target} PRIVATE ${F_LIBS} quorlen_warnings)
endfunction()

# Native only: two of them check against the console simulator's decoder.
if(NOT WIN32 AND TARGET console_sim_core)
  quorlen_fuzz_target(address_file LIBS quorlen_config)
  quorlen_fuzz_target(capture_filter SOURCES ${PROJECT_SOURCE_DIR}/app/capture_filter.cpp LIBS quorlen_link)
  quorlen_fuzz_target(osc_roundtrip LIBS quorlen_link console_sim_core)
  quorlen_fuzz_target(sim_decoder LIBS console_sim_core)
endif()
