# The Debian package: `cmake --build build --target package` makes
# build/tarrovel_<version>-<release>_amd64.deb with CPack's DEB generator,
# installing under /usr with the files the install rules lay out.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarrovel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_PACKAGE_CONTACT "Tarrovel maintainers <maintainers@users.noreply.c-seed-4f119bcf.example>")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The summary, then the long description (CPack indents it; an empty line
# separates paragraphs).
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "zap the resource forks of Mac files from a contextual menu
Tarrovel empties the resource forks of Mac files and folders: the
AppleDouble sidecar files and the extended attributes that Macs, Samba and
netatalk shares, USB sticks and unpacked archives leave behind. It asks before
changing anything, clears custom-icon flags, can keep modification dates,
and never rewrites metadata it cannot parse.

The package holds the tarrovel command, the Tarrovel.plugin contextual-menu
bundle it loads, and integrations that offer the same submenu in Nautilus,
Nemo, Thunar and Dolphin.")
# libplist and the C++ runtime, as dpkg-shlibdeps reads them off the binaries;
# the package's own library is found through the command's run path.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "zenity | kdialog, libglib2.0-bin")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-nautilus, nemo-python")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Thunar's system-wide actions are merged into a file shared with others, so
# the maintainer scripts add and remove them (see each script).
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_LIST_DIR}/debian/postinst ${CMAKE_CURRENT_LIST_DIR}/debian/prerm ${CMAKE_CURRENT_LIST_DIR}/debian/postrm)

# Stripping and compressing as Debian's helpers do happen in the staging
# folder only: `cmake --install` keeps plain files.
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.Debian.in ${CMAKE_BINARY_DIR}/packaging/changelog.Debian @ONLY)
set(TV_DEBIAN_CHANGELOG ${CMAKE_BINARY_DIR}/packaging/changelog.Debian)
configure_file(${CMAKE_CURRENT_LIST_DIR}/PreBuild.cmake.in ${CMAKE_BINARY_DIR}/packaging/PreBuild.cmake @ONLY)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_BINARY_DIR}/packaging/PreBuild.cmake)
configure_file(${CMAKE_CURRENT_LIST_DIR}/PostBuild.cmake.in ${CMAKE_BINARY_DIR}/packaging/PostBuild.cmake @ONLY)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_BINARY_DIR}/packaging/PostBuild.cmake)

include(CPack)
