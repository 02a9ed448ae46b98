# Model-data builders of the colour conversion and the image filters: the
# device parameter file and the RGB DLUT file, each from a text description.
add_library(colour_desc STATIC ${CMAKE_CURRENT_LIST_DIR}/colour_desc.cpp)
target_include_directories(colour_desc PUBLIC ${CMAKE_CURRENT_LIST_DIR})

add_executable(ztmkdevparam ${CMAKE_CURRENT_LIST_DIR}/colour_mkdevparam.cpp)
target_link_libraries(ztmkdevparam PRIVATE colour_desc ztcommon)

add_executable(ztmkrgbdlut ${CMAKE_CURRENT_LIST_DIR}/colour_mkrgbdlut.cpp)
target_link_libraries(ztmkrgbdlut PRIVATE colour_desc ztcolour)

# Rebuilds the sample model's files in data/ from their descriptions
# (cmake --build <dir> --target colour_sample_data); the results are
# committed, and a test checks that they match their descriptions.
add_custom_target(colour_sample_data
  COMMAND ztmkdevparam ${ZT_SOURCE_DIR}/data/korva-zt-devparam.txt ${ZT_SOURCE_DIR}/data/korva-zt.dlb
  COMMAND ztmkrgbdlut ${ZT_SOURCE_DIR}/data/korva-zt-rgbdlut.txt ${ZT_SOURCE_DIR}/data/korva-zt-rgb.dlut
  DEPENDS ztmkdevparam ztmkrgbdlut
  COMMENT "Building the sample model's device parameter and RGB DLUT files")
