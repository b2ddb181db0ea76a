# The fuzz targets' bodies, as the static library tarv_fuzz_targets: the fuzz
# programs and the replay test of the native suite (tests/) both link it.
#
# Both codec libraries live in one program here, so each library's driver
# sources are compiled a second time with their global names prefixed
# (TarvFuzz_tarvr_DriverProc, ...): the two libraries' instances then stay
# apart, and the code is linked in statically where the fuzzer's coverage
# reaches it. A new global defined in driver/ or a library binding shows up as
# a duplicate symbol at link time and belongs in this list.
set(tarv_fuzz_renamed DriverProc g_instances CInstanceTable ReleaseInstances CCodecWrapper
                      CreateWrapper GetInfo ThisLibrary)

function(tarv_fuzz_driver library variant)
    set(definitions)
    foreach(name IN LISTS tarv_fuzz_renamed)
        list(APPEND definitions ${name}=TarvFuzz_${library}_${name})
    endforeach()
    add_library(tarv_fuzz_${library} STATIC ${PROJECT_SOURCE_DIR}/driver/driver_proc.cpp
                                            ${PROJECT_SOURCE_DIR}/driver/instances.cpp
                                            ${PROJECT_SOURCE_DIR}/driver/wrapper.cpp
                                            ${PROJECT_SOURCE_DIR}/driver/${library}_library.cpp)
    target_compile_definitions(tarv_fuzz_${library} PRIVATE ${definitions})
    target_link_libraries(tarv_fuzz_${library} PUBLIC ${variant} PRIVATE tarv_warnings)
endfunction()

tarv_fuzz_driver(tarvr tarv_rgb24)
tarv_fuzz_driver(tarvy tarv_yuy2)

# The players' code that needs neither GStreamer nor VLC is fuzzed too.
add_library(tarv_fuzz_targets STATIC
            ${PROJECT_SOURCE_DIR}/fuzz/targets.cpp ${PROJECT_SOURCE_DIR}/fuzz/messages.cpp
            ${PROJECT_SOURCE_DIR}/fuzz/players.cpp ${PROJECT_SOURCE_DIR}/fuzz/seeds.cpp
            ${PROJECT_SOURCE_DIR}/fuzz/harness.cpp ${PROJECT_SOURCE_DIR}/gst/avi_header.cpp)
target_include_directories(tarv_fuzz_targets PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(tarv_fuzz_targets PUBLIC tarv_test_support tarv_fuzz_tarvr tarv_fuzz_tarvy
                                        PRIVATE tarv_variants tarv_reference tarv_warnings)
