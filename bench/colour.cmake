# Colour conversion: page generator and the timing script
# (cmake --build <dir> --target bench_colour).
add_executable(colour_mkpage ${CMAKE_CURRENT_LIST_DIR}/colour_mkpage.cpp)
target_link_libraries(colour_mkpage PRIVATE ztcommon)
add_custom_target(bench_colour
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/colour_bench.sh ${ZT_BIN_DIR} ${ZT_SOURCE_DIR}/data
  DEPENDS ztcolorconv colour_mkpage
  USES_TERMINAL)
