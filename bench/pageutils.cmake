# Page utilities: stream generator and the timing script
# (cmake --build <dir> --target bench_pageutils).
add_executable(pageutils_mkstream ${CMAKE_CURRENT_LIST_DIR}/pageutils_mkstream.cpp)
target_link_libraries(pageutils_mkstream PRIVATE ztcommon)
add_custom_target(bench_pageutils
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/pageutils_bench.sh ${ZT_BIN_DIR} ${ZT_SOURCE_DIR}/data/korva-zt.ppd
  DEPENDS ztskipblank ztrotate zttrc pageutils_mkstream
  USES_TERMINAL)
