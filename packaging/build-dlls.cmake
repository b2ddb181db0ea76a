# Run by CPack before it installs the build trees: with Ninja, CPack builds
# nothing itself, so bring every tree's DLLs up to date here, or a stale pair
# from the other build could ship.
set(projects ${CPACK_INSTALL_CMAKE_PROJECTS})
while(projects)
    list(POP_FRONT projects build_dir name component subdir)
    message(STATUS "Building the DLLs in ${build_dir}")
    execute_process(COMMAND ${CMAKE_COMMAND} --build ${build_dir} --target tarvy tarvr
                    RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "Building the DLLs in ${build_dir} failed")
    endif()
endwhile()
