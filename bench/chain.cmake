# The whole chain and each of its programs on the real pages of
# make-inputs.sh, beside cat (cmake --build <dir> --target bench_chain).
add_custom_target(bench_chain
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/chain_bench.sh ${CMAKE_BINARY_DIR}
  DEPENDS ztmainfilter cupstoztraster ztskipblank ztcolorconv zttrapping ztedgeenhance ztdigitalfilter zttrc ztrotate
          ztmivo5 ztrastertohbpl
  USES_TERMINAL)
