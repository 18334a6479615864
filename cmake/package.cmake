# The Debian package, made by CPack's DEB generator (scripts/package.sh):
# the build is CMake's, so its install rules are the package's contents, and
# no debhelper tool chain is needed. Its dependencies come from the binaries
# (dpkg-shlibdeps).

# The version the programs print (--version): the bundle's CFBundleVersion.
file(READ ${PROJECT_SOURCE_DIR}/resources/Info.plist tolvek_plist)
if(NOT tolvek_plist MATCHES "<key>CFBundleVersion</key>[ \t\r\n]*<string>([^<]+)</string>")
  message(FATAL_ERROR "resources/Info.plist names no CFBundleVersion")
endif()
set(TOLVEK_VERSION ${CMAKE_MATCH_1})
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/resources/Info.plist)

set(TOLVEK_PACKAGE_MAINTAINER "Tolvek maintainers <maintainers@tolvek.app>" CACHE STRING
    "Maintainer field of the Debian package")

# The package's documents: its copyright, and its changelog compressed as
# Debian wants it (gzip -9, no name or time stamp inside).
set(tolvek_doc_dir ${CMAKE_INSTALL_DATADIR}/doc/tolvek-photos)
set(tolvek_changelog ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz)
add_custom_command(OUTPUT ${tolvek_changelog}
                   COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
                   COMMAND gzip -9 -n -c ${PROJECT_SOURCE_DIR}/packaging/changelog > ${tolvek_changelog}
                   DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog VERBATIM)
add_custom_target(tolvek_package_changelog ALL DEPENDS ${tolvek_changelog})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${tolvek_changelog} DESTINATION ${tolvek_doc_dir})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tolvek-photos)
set(CPACK_PACKAGE_VERSION ${TOLVEK_VERSION})
set(CPACK_PACKAGE_CONTACT "${TOLVEK_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "photo library helper and library tool for Linux")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Installed through DESTDIR, so that the user unit's ExecStart names
# /usr/bin and not CPack's staging folder.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TOLVEK_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The modules are private (lib/tolvek-photos): no package links them.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
# The extended description; CPack puts the summary above it and indents it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "tolvek-photos keeps a photo library of imported pictures and videos and of
folders referenced in place, and answers a host application's requests
(albums, listings, thumbnails, exports) with one JSON document per run.

tolvek-photos-library imports, syncs and watches the library's sources;
its watch runs as a systemd user service.")
include(CPack)
