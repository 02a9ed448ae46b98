# Image filters (trapping, edge enhancement, digital filter): page generator
# and the timing script (cmake --build <dir> --target bench_imagefilters).
# Real pages are timed too when make-inputs.sh has left them in
# $BENCH_INPUTS (default /tmp/bench-inputs).
add_executable(imagefilters_mkpage ${CMAKE_CURRENT_LIST_DIR}/imagefilters_mkpage.cpp)
target_link_libraries(imagefilters_mkpage PRIVATE ztcommon)
add_custom_target(bench_imagefilters
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/imagefilters_bench.sh ${ZT_BIN_DIR} ${ZT_SOURCE_DIR}/data/korva-zt.ppd
          ${ZT_SOURCE_DIR}/data/korva-zt.dlb
  DEPENDS zttrapping ztedgeenhance ztdigitalfilter imagefilters_mkpage
  USES_TERMINAL)
