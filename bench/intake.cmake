# Raster intake: raster generator and the timing script
# (cmake --build <dir> --target bench_intake).
add_executable(intake_mkraster ${CMAKE_CURRENT_LIST_DIR}/intake_mkraster.cpp)
target_link_libraries(intake_mkraster PRIVATE zt_cupsimage)
add_custom_target(bench_intake
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/intake_bench.sh ${ZT_BIN_DIR}
  DEPENDS cupstoztraster intake_mkraster
  USES_TERMINAL)
