# Linux: the tool's man page, and the Debian packages made by CPack from one
# release build (cmake --build build/release --target deb_packages):
#   tarv               the tool and its man page
#   gstreamer1.0-tarv  the GStreamer plugin, in GStreamer's plugin folder
#   vlc-plugin-tarv    the VLC module, in VLC's plugin folder
# The codec libraries (libtarvy.so, libtarvr.so) only answer Video for Windows'
# DriverProc, which no Linux program calls: the tool and both plugins link the
# codec statically, so no package carries them.
if(NOT TARV_BUILD_TOOL)
    return()
endif()

# The man page, gzip'd without a name or time stamp so that builds agree.
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/tarv.1 ${CMAKE_CURRENT_BINARY_DIR}/tarv.1 @ONLY)
add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/tarv.1.gz
                   COMMAND gzip -9nkf ${CMAKE_CURRENT_BINARY_DIR}/tarv.1
                   DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/tarv.1 VERBATIM)
add_custom_target(tarv_man_page ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/tarv.1.gz)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tarv.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        COMPONENT tool)

if(NOT CMAKE_BUILD_TYPE STREQUAL "Release" OR TARV_SANITIZE OR NOT TARGET gsttarv
   OR NOT TARGET tarv_vlc)
    message(STATUS "The Debian packages come from a release build with the GStreamer plugin "
                   "and the VLC module: no deb_packages target here")
    return()
endif()

# Debian's hardening asks for the whole GOT read-only once loaded.
foreach(target tarv gsttarv tarv_vlc)
    target_link_options(${target} PRIVATE LINKER:-z,now)
endforeach()

set(tarv_deb_maintainer "Tarv developers <tarv@tarv.invalid>")
# Components and the packages they make, in pairs.
set(tarv_deb_packages tool tarv gstreamer gstreamer1.0-tarv vlc vlc-plugin-tarv)

# Debian's machine-readable copyright file, its licence text from LICENSE.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE tarv_licence)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]+)" tarv_copyright_line "${tarv_licence}")
set(tarv_copyright_holder ${CMAKE_MATCH_1})
string(REGEX REPLACE "^[^\n]*\n\nCopyright[^\n]*\n\n" "" tarv_licence_terms "${tarv_licence}")
string(STRIP "${tarv_licence_terms}" tarv_licence_terms)
string(REGEX REPLACE "\n\n" "\n.\n" tarv_licence_terms "${tarv_licence_terms}")
string(REGEX REPLACE "\n" "\n " tarv_licence_terms "${tarv_licence_terms}")
set(tarv_copyright "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: tarv

Files: *
Copyright: ${tarv_copyright_holder}
License: BSD-2-Clause
 ${tarv_licence_terms}
")
# A native package's Debian changelog is changelog.gz. Its date follows
# SOURCE_DATE_EPOCH when set, as release.sh does.
string(TIMESTAMP tarv_changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(tarv_changelog "tarv (${PROJECT_VERSION}) unstable; urgency=medium

  * Tarv ${PROJECT_VERSION}: see CHANGELOG.md in the source for what it brought.

 -- ${tarv_deb_maintainer}  ${tarv_changelog_date}
")
set(tarv_deb_docs ${CMAKE_CURRENT_BINARY_DIR}/debian)
file(WRITE ${tarv_deb_docs}/copyright "${tarv_copyright}")
file(WRITE ${tarv_deb_docs}/changelog "${tarv_changelog}")
add_custom_command(OUTPUT ${tarv_deb_docs}/changelog.gz
                   COMMAND gzip -9nkf ${tarv_deb_docs}/changelog
                   DEPENDS ${tarv_deb_docs}/changelog VERBATIM)
add_custom_target(tarv_deb_changelog DEPENDS ${tarv_deb_docs}/changelog.gz)

while(tarv_deb_packages)
    list(POP_FRONT tarv_deb_packages component package)
    string(TOUPPER ${component} upper)
    set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${package})
    # Only package builds want these: cmake --install leaves them out.
    install(FILES ${tarv_deb_docs}/copyright ${tarv_deb_docs}/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component}
            EXCLUDE_FROM_ALL)
endwhile()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarv)
set(CPACK_PACKAGE_VENDOR Tarv)
# Each package's description starts with its own synopsis, which CPack would
# push down below the project's summary.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_PACKAGE_CONTACT "${tarv_deb_maintainer}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL tool gstreamer vlc)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE tarv)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# Each description: a synopsis line, what Tarv is, what the package holds.
set(tarv_deb_about "Tarv is a lossless intra-frame video codec: every frame is a key frame,
turned into gradient residuals and range coded. Its AVI FourCCs are TRVY
(packed 4:2:2 YUY2) and TRVR (24-bit RGB).")
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION video)
set(CPACK_DEBIAN_TOOL_PACKAGE_SUGGESTS "gstreamer1.0-tarv, vlc-plugin-tarv")
set(CPACK_COMPONENT_TOOL_DESCRIPTION "lossless video codec: command-line tool
${tarv_deb_about}

The tarv tool turns any recording FFmpeg reads, with its sound, into Tarv
AVI files and back, checks that a file decodes to its original exactly,
lists a file's streams and measures the codec's speed and ratio.")

set(CPACK_DEBIAN_GSTREAMER_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_GSTREAMER_PACKAGE_RECOMMENDS gstreamer1.0-plugins-good)
set(CPACK_COMPONENT_GSTREAMER_DESCRIPTION "lossless video codec: GStreamer plugin
${tarv_deb_about}

This package holds tarvdec, a GStreamer element that decodes Tarv streams,
so that players built on GStreamer (gst-play-1.0, Totem, Pitivi) play Tarv
AVI files. avidemux (gstreamer1.0-plugins-good) reads the files.")

# A VLC module loads only into the VLC whose plugin ABI it was built for, which
# libvlccore's package provides as vlc-plugin-abi-<its module symbol>. No
# maintainer scripts: libvlc-bin's trigger on VLC's plugin folder refreshes the
# plugin cache whenever a package adds or removes a module there.
pkg_get_variable(tarv_vlc_include_dir vlc-plugin pkgincludedir)
file(STRINGS ${tarv_vlc_include_dir}/plugins/vlc_plugin.h tarv_vlc_abi
     REGEX "^# *define +MODULE_SYMBOL +[0-9a-z_]+$")
string(REGEX REPLACE ".* " "" tarv_vlc_abi "${tarv_vlc_abi}")
string(REPLACE "_" "-" tarv_vlc_abi "${tarv_vlc_abi}")
if(NOT tarv_vlc_abi)
    message(FATAL_ERROR "No MODULE_SYMBOL in ${tarv_vlc_include_dir}/plugins/vlc_plugin.h: "
                        "the VLC module's package cannot name its plugin ABI")
endif()
set(CPACK_DEBIAN_VLC_PACKAGE_SECTION video)
set(CPACK_DEBIAN_VLC_PACKAGE_DEPENDS vlc-plugin-abi-${tarv_vlc_abi})
set(CPACK_DEBIAN_VLC_PACKAGE_RECOMMENDS vlc-plugin-base)
set(CPACK_COMPONENT_VLC_DESCRIPTION "lossless video codec: VLC plugin
${tarv_deb_about}

This package holds a VLC decoder module for Tarv streams, so that VLC plays
Tarv AVI files.")
include(CPack)

set(tarv_deb_dir ${CMAKE_BINARY_DIR}/package-deb)
add_custom_target(deb_packages
                  COMMAND ${CMAKE_COMMAND} -E rm -rf ${tarv_deb_dir}
                  COMMAND ${CMAKE_CPACK_COMMAND} --config ${CMAKE_BINARY_DIR}/CPackConfig.cmake
                          -G DEB -B ${tarv_deb_dir}
                  COMMAND ${CMAKE_COMMAND} -E rm -rf ${tarv_deb_dir}/_CPack_Packages
                  VERBATIM USES_TERMINAL)
add_dependencies(deb_packages tarv gsttarv tarv_vlc tarv_man_page tarv_deb_changelog)
