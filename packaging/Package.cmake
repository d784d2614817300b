# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package, made by `cpack -G DEB` in a build folder (a Release build for a package to hand
# out). Its dependencies are computed by dpkg-shlibdeps from the installed programs.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvane)
set(CPACK_PACKAGE_VENDOR "The Corvane developers")
set(CPACK_PACKAGE_CONTACT "The Corvane developers <corvane@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "repair the GPS position in the XMP sidecars of HEIC, HEIF and DNG photos")
# The extended description, in lines of at most 80 columns as Debian asks.
set(CPACK_PACKAGE_DESCRIPTION [=[
Corvane compares the GPS position embedded in each photo with the one in its
XMP sidecar and rewrites sidecars that are right but written without
hemisphere letters. It never writes images and never creates sidecars.
The package holds the window (corvane) and the command-line program
(corvane-cli).]=])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://github.com/corvane/corvane")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Desktop integration: the menu cache and the icon theme the installed icons belong to.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "desktop-file-utils, hicolor-icon-theme")
set(CPACK_STRIP_FILES ON)
# Stripped as Debian strips: also without the compiler's .comment and .note sections.
find_program(CORVANE_STRIP strip REQUIRED)
set(CPACK_CORVANE_STRIP ${CORVANE_STRIP})
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/StripSections.cmake)
# Packaging installs what the build made; it does not build every target (tests, benchmarks) again.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
include(CPack)
