# The tool's own parts, and its frames against the drivers' through DriverProc.
add_executable(tarv_tool_tests tool/tool_unit_test.cpp)
target_link_libraries(tarv_tool_tests PRIVATE tarv_tool tarv_warnings GTest::gtest_main)
gtest_discover_tests(tarv_tool_tests DISCOVERY_TIMEOUT 60)

# For each variant of the table, its library loaded as a host loads it.
add_driver_tests(tarv_identity_tests tool/driver_identity_test.cpp)
target_link_libraries(tarv_identity_tests PRIVATE tarv_tool)
gtest_discover_tests(tarv_identity_tests DISCOVERY_TIMEOUT 60)
