# Printer-language output: stream generator and the timing script
# (cmake --build <dir> --target bench_hbpl).
add_executable(hbpl_mkstream ${CMAKE_CURRENT_LIST_DIR}/hbpl_mkstream.cpp)
target_link_libraries(hbpl_mkstream PRIVATE ztcommon)
add_custom_target(bench_hbpl
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/hbpl_bench.sh ${ZT_BIN_DIR} ${ZT_SOURCE_DIR}/data/korva-zt.ppd
  DEPENDS ztrastertohbpl hbpl_mkstream
  USES_TERMINAL)
