# The sample model's PPD, made once for every manufacturer the driver is sold
# under, from the one template data/ztmodel.ppd.in. Each PPD has its own
# manufacturer, model and nick names, its own prefix on every driver keyword,
# and its own filter folder and device parameter file names:
#
#   ${CMAKE_BINARY_DIR}/ppd/<stem>.ppd    installed as <model tree>/<folder>/<stem>.ppd
#
# A PPD in which a driver keyword lacks its manufacturer's prefix stops the
# configure step, and so the build (cmake/ppdcheck.cmake).
#
# data/korva-zt.ppd is the Korva PPD as made here, kept in the source tree for
# the tests, benchmarks and scripts that run on the sample model; the test
# SamplePPDCurrent fails when it differs, and the target sample_ppd renews it.

include(${CMAKE_CURRENT_LIST_DIR}/ppdcheck.cmake)

# Manufacturer | model name | file stem | model tree folder | PC file name.
# The prefix of each comes from the manufacturer table of ppdcheck.cmake.
set(ZT_PPD_MODELS
  "Pask|Pask ZT C500|pask-zt|pask|PASKZT.PPD"
  "Korva|Korva ZT C500|korva-zt|korva|KORVAZT.PPD"
  "JOV|JOV ZT C500|jov-zt|jov|JOVZT.PPD"
  "ZT|ZT C500|zt-c500|zt|ZTC500.PPD"
  "Talma|Talma ZT C500|talma-zt|talma|TALMAZT.PPD")
set(ZT_PPD_TEMPLATE ${CMAKE_SOURCE_DIR}/data/ztmodel.ppd.in)
set(ZT_PPD_DIR ${CMAKE_BINARY_DIR}/ppd)

# Value of a quoted main keyword ("*Key: "value"") of a PPD file, or empty.
function(zt_ppd_attribute ppd key out)
  file(STRINGS ${ppd} _lines REGEX "^\\*${key}:")
  set(_value "")
  foreach(_line IN LISTS _lines)
    if(_line MATCHES "^\\*${key}:[ \t]*\"([^\"]*)\"")
      set(_value ${CMAKE_MATCH_1})
      break()
    endif()
  endforeach()
  set(${out} ${_value} PARENT_SCOPE)
endfunction()

# Fills the template for one row; the PPD's path goes to OUT.
function(zt_generate_ppd row out)
  string(REPLACE "|" ";" _fields "${row}")
  list(GET _fields 0 ZT_MANUFACTURER)
  list(GET _fields 1 ZT_MODEL)
  list(GET _fields 2 ZT_STEM)
  list(GET _fields 4 ZT_PCFILENAME)
  zt_ppd_prefix_of("${ZT_MANUFACTURER}" ZT_PREFIX)
  if(NOT ZT_PREFIX)
    message(FATAL_ERROR "ZT_PPD_MODELS: the driver knows no manufacturer \"${ZT_MANUFACTURER}\"")
  endif()
  set(_ppd ${ZT_PPD_DIR}/${ZT_STEM}.ppd)
  configure_file(${ZT_PPD_TEMPLATE} ${_ppd} @ONLY)
  zt_check_ppd(${_ppd} _faults)
  if(_faults)
    list(JOIN _faults "\n  " _text)
    message(FATAL_ERROR "${_ppd} (made from ${ZT_PPD_TEMPLATE}):\n  ${_text}")
  endif()
  set(${out} ${_ppd} PARENT_SCOPE)
endfunction()

set(ZT_PPDS "")
foreach(_zt_row IN LISTS ZT_PPD_MODELS)
  zt_generate_ppd("${_zt_row}" _zt_ppd)
  list(APPEND ZT_PPDS ${_zt_ppd})
endforeach()
set(ZT_SAMPLE_PPD ${ZT_PPD_DIR}/korva-zt.ppd)

add_custom_target(sample_ppd
  COMMAND ${CMAKE_COMMAND} -E copy ${ZT_SAMPLE_PPD} ${CMAKE_SOURCE_DIR}/data/korva-zt.ppd
  COMMENT "Renewing data/korva-zt.ppd from ${ZT_PPD_TEMPLATE}")
