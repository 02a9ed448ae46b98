# Fuzzing the device parameter file loader. The harness always builds into a
# replay program that runs the saved inputs of corpus/devparam (and every
# prefix of them) under ctest; with clang and -DZT_FUZZ=ON it also builds the
# libFuzzer target fuzz_devparam:
#   CC=clang CXX=clang++ cmake -S . -B build-fuzz -DZT_FUZZ=ON -DZT_BUILD_TESTS=OFF
#   cmake --build build-fuzz --target fuzz_devparam
#   build-fuzz/bin/fuzz_devparam -max_len=131072 fuzz/corpus/devparam
option(ZT_FUZZ "Build the libFuzzer harnesses (clang only)" OFF)
add_executable(fuzz_devparam_replay ${CMAKE_CURRENT_LIST_DIR}/colour_devparam_fuzz.cpp
                                    ${CMAKE_CURRENT_LIST_DIR}/replay_main.cpp)
target_link_libraries(fuzz_devparam_replay PRIVATE ztcommon)
if(ZT_BUILD_TESTS)
  add_test(NAME FuzzDevParamReplay
           COMMAND fuzz_devparam_replay --prefixes ${CMAKE_CURRENT_LIST_DIR}/corpus/devparam ${ZT_SOURCE_DIR}/data/korva-zt.dlb)
endif()
if(ZT_FUZZ AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  add_executable(fuzz_devparam ${CMAKE_CURRENT_LIST_DIR}/colour_devparam_fuzz.cpp)
  target_compile_options(fuzz_devparam PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(fuzz_devparam PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(fuzz_devparam PRIVATE ztcommon)
endif()
