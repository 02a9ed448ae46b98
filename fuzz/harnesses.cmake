# The in-process harnesses of the inputs that come from outside: CUPS raster
# through the intake, the PJL job header, a ZT raster stream through every
# filter, the fallback recompressor, run conditions and marked codes. Each
# always builds into a replay program that runs its saved inputs under ctest
# (corpus/<name>); with clang and -DZT_FUZZ=ON it also builds the libFuzzer
# target fuzz_<name>. fuzz/run.sh builds and runs them all.
option(ZT_FUZZ "Build the libFuzzer harnesses (clang only)" OFF)

function(zt_fuzz_harness name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS;INCLUDES" ${ARGN})
  set(_sources ${F_SOURCES} ${CMAKE_CURRENT_LIST_DIR}/fuzz_support.cpp)
  add_executable(fuzz_${name}_replay ${_sources} ${CMAKE_CURRENT_LIST_DIR}/replay_main.cpp)
  target_link_libraries(fuzz_${name}_replay PRIVATE ${F_LIBS})
  target_compile_definitions(fuzz_${name}_replay PRIVATE ZT_FUZZ_DATA_DIR="${ZT_SOURCE_DIR}/data")
  target_include_directories(fuzz_${name}_replay PRIVATE ${F_INCLUDES})
  if(ZT_BUILD_TESTS)
    add_test(NAME FuzzReplay_${name} COMMAND fuzz_${name}_replay ${CMAKE_CURRENT_LIST_DIR}/corpus/${name})
    set_tests_properties(FuzzReplay_${name} PROPERTIES
      ENVIRONMENT "LSAN_OPTIONS=suppressions=${ZT_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0")
  endif()
  if(ZT_FUZZ AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    add_executable(fuzz_${name} ${_sources})
    target_compile_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(fuzz_${name} PRIVATE ${F_LIBS})
    target_compile_definitions(fuzz_${name} PRIVATE ZT_FUZZ_DATA_DIR="${ZT_SOURCE_DIR}/data")
    target_include_directories(fuzz_${name} PRIVATE ${F_INCLUDES})
  endif()
endfunction()

zt_fuzz_harness(intake SOURCES ${CMAKE_CURRENT_LIST_DIR}/intake_fuzz.cpp
                LIBS ztcommon zt_cupsimage)
zt_fuzz_harness(pjl SOURCES ${CMAKE_CURRENT_LIST_DIR}/pjl_fuzz.cpp LIBS zthbpl)
file(GLOB _zt_fuzz_filters ${CMAKE_CURRENT_LIST_DIR}/filters/*.cpp)
zt_fuzz_harness(filters SOURCES ${CMAKE_CURRENT_LIST_DIR}/filters_fuzz.cpp ${_zt_fuzz_filters}
                LIBS ztblankpages ztcolour ztcolorsetting zttrapping2 edgeenhance digitalfilter mivo zthbpl ztcommon)
zt_fuzz_harness(recompress SOURCES ${CMAKE_CURRENT_LIST_DIR}/recompress_fuzz.cpp LIBS mivo ztcommon)
zt_fuzz_harness(conditions SOURCES ${CMAKE_CURRENT_LIST_DIR}/conditions_fuzz.cpp ${ZT_SOURCE_DIR}/mainfilter/ztdebug.cpp
                LIBS ztcommon INCLUDES ${ZT_SOURCE_DIR}/mainfilter)

# The codec's round trip and hostile streams (mivo_fuzzer.cpp; its replay
# program is built with the codec's tests).
if(ZT_FUZZ AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  add_executable(fuzz_mivo ${CMAKE_CURRENT_LIST_DIR}/mivo_fuzzer.cpp)
  target_compile_options(fuzz_mivo PRIVATE -fsanitize=fuzzer)
  target_link_options(fuzz_mivo PRIVATE -fsanitize=fuzzer)
  target_link_libraries(fuzz_mivo PRIVATE mivo)
endif()
