# Colour conversion: the colour image library and the lookup tables
# (library ztcolour) and the RGB to CMYK conversion filter ztcolorconv.
add_library(ztcolour STATIC
  ${CMAKE_CURRENT_LIST_DIR}/ztrgboperation.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ztcolorlut.cpp
)
target_include_directories(ztcolour PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(ztcolour PUBLIC ztcommon)

add_executable(ztcolorconv ${CMAKE_CURRENT_LIST_DIR}/ztcolorconv.cpp)
target_link_libraries(ztcolorconv PRIVATE ztcolour ztcolorsetting ztcommon)
