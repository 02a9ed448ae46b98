# The printer-job reader (hbpljob, standard library only) that the tests and
# the job inspector share, and the inspector itself: it reads a printer job,
# checks its structure, prints a summary and renders the pages to PNG.
add_library(hbpljob STATIC ${CMAKE_CURRENT_LIST_DIR}/hbpljob.cpp)
target_include_directories(hbpljob PUBLIC ${CMAKE_CURRENT_LIST_DIR})

find_package(PNG REQUIRED)
add_library(ztjobinspect_lib STATIC
  ${CMAKE_CURRENT_LIST_DIR}/ztjobinspect_check.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ztjobinspect_render.cpp)
target_include_directories(ztjobinspect_lib PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(ztjobinspect_lib PUBLIC hbpljob mivo PNG::PNG)

add_executable(ztjobinspect ${CMAKE_CURRENT_LIST_DIR}/ztjobinspect.cpp)
target_link_libraries(ztjobinspect PRIVATE ztjobinspect_lib)
