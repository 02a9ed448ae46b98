# Fuzzing the job inspector. The harness (inspector_fuzz.cpp) always builds
# into a replay program that runs the saved inputs of corpus/inspector under
# ctest; with clang and -DZT_FUZZ=ON it also builds the libFuzzer target
# fuzz_inspector:
#   CC=clang CXX=clang++ cmake -S . -B build-fuzz -DZT_FUZZ=ON -DZT_BUILD_TESTS=OFF
#   cmake --build build-fuzz --target fuzz_inspector
#   build-fuzz/bin/fuzz_inspector -max_len=65536 fuzz/corpus/inspector
option(ZT_FUZZ "Build the libFuzzer harnesses (clang only)" OFF)
if(TARGET ztjobinspect_lib)
  add_executable(fuzz_inspector_replay ${CMAKE_CURRENT_LIST_DIR}/inspector_fuzz.cpp
                                       ${CMAKE_CURRENT_LIST_DIR}/inspector_replay.cpp)
  target_link_libraries(fuzz_inspector_replay PRIVATE ztjobinspect_lib)
  if(ZT_BUILD_TESTS)
    add_test(NAME FuzzInspectorReplay
             COMMAND fuzz_inspector_replay ${CMAKE_CURRENT_LIST_DIR}/corpus/inspector)
  endif()
  if(ZT_FUZZ AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    # Coverage for the code under test, the harness links libFuzzer.
    foreach(_zt_lib ztjobinspect_lib mivo)
      target_compile_options(${_zt_lib} PRIVATE -fsanitize=fuzzer-no-link,address,undefined)
    endforeach()
    add_executable(fuzz_inspector ${CMAKE_CURRENT_LIST_DIR}/inspector_fuzz.cpp)
    target_compile_options(fuzz_inspector PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_options(fuzz_inspector PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_libraries(fuzz_inspector PRIVATE ztjobinspect_lib)
  endif()
endif()
