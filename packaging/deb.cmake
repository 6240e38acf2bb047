# The Debian package, made by CPack's DEB generator:
#   packaging/build-deb            -> build-pkg/mkcolormap_1.00-1_amd64.deb
# Only `cpack -G DEB` reads these settings; a normal build or install is not
# affected, apart from the CPack configuration files written to the build
# directory.

set(MKCOLORMAP_DEB_MAINTAINER "The mkcolormap developers <mkcolormap@example.org>"
    CACHE STRING "Maintainer field of the Debian package and its changelog")

# The package version is the version the tool shows in its title ("v1.00"),
# so it must keep both decimals; fail here rather than ship "1.0" or "1.00.0".
if(NOT PROJECT_VERSION MATCHES "^[0-9]+\\.[0-9][0-9]$")
  message(FATAL_ERROR "packaging/deb.cmake: project version \"${PROJECT_VERSION}\" "
                      "is not of the form <major>.<two digits>")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME mkcolormap)
set(CPACK_PACKAGE_VENDOR "The mkcolormap developers")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Directories the install step creates get 0755 whatever the umask is.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_PACKAGE_NAME mkcolormap)
set(CPACK_DEBIAN_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # mkcolormap_<version>-<release>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${MKCOLORMAP_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends: comes from dpkg-shlibdeps (the Allegro 4.4 runtime and the C and
# C++ runtimes with their minimum versions), never from the -dev packages.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "build a colour-map file from paletted images and raw files
mkcolormap reads an INI file that lists one input path per line and writes
a binary colour-map file made of one entry per input, in the order listed.
.
A paletted 8-bit image (BMP, LBM, PCX or TGA) of exactly 256 pixels, in any
shape, becomes a 256-byte entry holding the palette index of every pixel,
line by line from the top-left corner. A raw .bin file is copied into the
output unchanged. Blank lines and lines starting with '#' are skipped.
.
splitcolormap goes the way back: it writes each entry of a colour map as a
256-pixel paletted picture (BMP, PCX or TGA), a sheet of the whole map, and
the INI file from which mkcolormap rebuilds the map byte for byte.
.
The images are read and written with the Allegro 4.4 library. Both tools run
in a terminal and need no display.")

# Debian-only files (gzipped manual page, copyright, changelog) are put into
# the staging directory after the install step, so `cmake --install` stays as
# it is.
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.Debian.in
               ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.Debian @ONLY)
set(MKCOLORMAP_DEB_COPYRIGHT ${CMAKE_CURRENT_LIST_DIR}/copyright)
set(MKCOLORMAP_DEB_CHANGELOG ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.Debian)
configure_file(${CMAKE_CURRENT_LIST_DIR}/deb-stage.cmake.in
               ${CMAKE_CURRENT_BINARY_DIR}/packaging/deb-stage.cmake @ONLY)
if(CMAKE_VERSION VERSION_LESS 3.19)
  message(WARNING "CMake ${CMAKE_VERSION} ignores CPACK_PRE_BUILD_SCRIPTS; "
                  "the Debian package needs CMake 3.19 or later (Debian 12 has 3.25)")
endif()
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_BINARY_DIR}/packaging/deb-stage.cmake)

include(CPack)
