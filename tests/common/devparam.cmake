# Device parameter file loader and record selectors.
zt_add_gtest(devparam_tests ${CMAKE_CURRENT_LIST_DIR}/devparam_test.cpp)
