# The tool's own parts, and its frames against the drivers' through DriverProc.
add_executable(tarv_tool_tests tool/tool_unit_test.cpp)
target_link_libraries(tarv_tool_tests PRIVATE tarv_tool tarv_warnings GTest::gtest_main)
gtest_discover_tests(tarv_tool_tests DISCOVERY_TIMEOUT 60)

foreach(pair "tarvy;Yuy2" "tarvr;Rgb24")
    list(GET pair 0 library)
    list(GET pair 1 variant)
    add_executable(tarv_${library}_identity_tests tool/driver_identity_test.cpp)
    target_link_libraries(tarv_${library}_identity_tests PRIVATE tarv_tool tarv_warnings
                                                                GTest::gtest_main ${CMAKE_DL_LIBS})
    target_compile_definitions(tarv_${library}_identity_tests PRIVATE
                               TARV_LIBRARY="$<TARGET_FILE:${library}>" TARV_VARIANT=${variant})
    add_dependencies(tarv_${library}_identity_tests ${library})
    gtest_discover_tests(tarv_${library}_identity_tests DISCOVERY_TIMEOUT 60)
endforeach()
