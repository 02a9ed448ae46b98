# The printer-job reader (hbpljob, standard library only) that the tests and
# the job inspector share, and the inspector itself: it reads a printer job,
# checks its structure, prints a summary and renders the pages to PNG.
add_library(hbpljob STATIC ${CMAKE_CURRENT_LIST_DIR}/hbpljob.cpp)
target_include_directories(hbpljob PUBLIC ${CMAKE_CURRENT_LIST_DIR})

find_package(PNG REQUIRED)
add_library(ztjobview_lib STATIC
  ${CMAKE_CURRENT_LIST_DIR}/ztjobview_check.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ztjobview_render.cpp)
target_include_directories(ztjobview_lib PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(ztjobview_lib PUBLIC hbpljob mivo PNG::PNG)

add_executable(ztjobview ${CMAKE_CURRENT_LIST_DIR}/ztjobview.cpp)
target_link_libraries(ztjobview PRIVATE ztjobview_lib)
