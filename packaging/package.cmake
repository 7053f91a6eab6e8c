# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package, made by `cpack -G DEB` in a build folder (scripts/package does it all).
# One package holds the program and its two tools; dpkg-shlibdeps computes what they need, and
# the binaries are stripped.

install(FILES packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES packaging/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
  RENAME voruna)

# Debian wants a changelog in every package, gzipped without a time stamp.
find_program(GZIP gzip REQUIRED)
add_custom_command(OUTPUT changelog.Debian.gz
  COMMAND ${GZIP} -9nc ${PROJECT_SOURCE_DIR}/packaging/changelog > changelog.Debian.gz
  DEPENDS packaging/changelog VERBATIM)
add_custom_target(debian_changelog ALL DEPENDS changelog.Debian.gz)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME voruna)
set(CPACK_PACKAGE_VENDOR "The Voruna developers")
set(CPACK_PACKAGE_CONTACT "The Voruna developers <voruna@voruna.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "autoguide console and guide camera viewer for telescopes")
# The cross-built package has no INDI cameras (VORUNA_INDI off): it does not claim them.
set(cameras "The guide camera is a Video4Linux2 camera of this computer.")
if(VORUNA_INDI)
  set(cameras "The guide camera is a Video4Linux2 camera of this computer or a camera
of an INDI server, on this computer or on the one at the telescope; a
small stand-in for the star catalogue lets INDI's CCD simulator show stars.")
endif()
set(CPACK_PACKAGE_DESCRIPTION "Voruna is a small desktop utility for amateur astronomers who guide a
telescope mount through Nightwell's USB Autoguide Adaptor. It finds the
adaptor on a serial port, slews the telescope with four press-and-hold
buttons, shows the live guide camera under a cross-hair pointer, and
remembers the chosen port.
.
${cameras}
.
The package also holds voruna-ports, which lists the device each of
COM 1 to COM 16 opens, and voruna-adaptor-sim, a simulated adaptor with a
simulated mount and star field for trying the program without hardware.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
# Stripped with the build's own strip (the target's, in a cross build). No -dbgsym package: the
# one CPack 3.25 makes lists its files in md5sums by build-folder paths, which lintian rejects.
set(CPACK_STRIP_FILES ON)
# Directories the package creates get the usual 0755 whatever the builder's umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://voruna.org/)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Cross builds name the target's architecture; dpkg-shlibdeps then reads the target's libraries.
if(CMAKE_CROSSCOMPILING AND VORUNA_DEB_ARCH)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${VORUNA_DEB_ARCH})
endif()

include(CPack)
