# The colour settings: ColorSetting and Screen2Setting read from the PPD and
# the job options. Linked by the printer-language filter and the colour
# conversion.
add_library(ztcolorsetting STATIC ${CMAKE_CURRENT_LIST_DIR}/ztcolorsetting.cpp)
target_include_directories(ztcolorsetting PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(ztcolorsetting PUBLIC ztcommon)
