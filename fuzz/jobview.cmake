# Fuzzing the job inspector. The harness (jobview_fuzz.cpp) always builds
# into a replay program that runs the saved inputs of corpus/jobview under
# ctest; with clang and -DZT_FUZZ=ON it also builds the libFuzzer target
# fuzz_jobview:
#   CC=clang CXX=clang++ cmake -S . -B build-fuzz -DZT_FUZZ=ON -DZT_BUILD_TESTS=OFF
#   cmake --build build-fuzz --target fuzz_jobview
#   build-fuzz/bin/fuzz_jobview -max_len=65536 fuzz/corpus/jobview
option(ZT_FUZZ "Build the libFuzzer harnesses (clang only)" OFF)
if(TARGET ztjobview_lib)
  add_executable(fuzz_jobview_replay ${CMAKE_CURRENT_LIST_DIR}/jobview_fuzz.cpp
                                       ${CMAKE_CURRENT_LIST_DIR}/replay_main.cpp)
  target_link_libraries(fuzz_jobview_replay PRIVATE ztjobview_lib)
  if(ZT_BUILD_TESTS)
    add_test(NAME FuzzJobviewReplay
             COMMAND fuzz_jobview_replay ${CMAKE_CURRENT_LIST_DIR}/corpus/jobview)
  endif()
  if(ZT_FUZZ AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    # Coverage for the code under test, the harness links libFuzzer.
    foreach(_zt_lib ztjobview_lib mivo)
      target_compile_options(${_zt_lib} PRIVATE -fsanitize=fuzzer-no-link,address,undefined)
    endforeach()
    add_executable(fuzz_jobview ${CMAKE_CURRENT_LIST_DIR}/jobview_fuzz.cpp)
    target_compile_options(fuzz_jobview PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_options(fuzz_jobview PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_libraries(fuzz_jobview PRIVATE ztjobview_lib)
  endif()
endif()
