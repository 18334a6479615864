# The installed layout: the helper and the tool in ${CMAKE_INSTALL_BINDIR},
# their modules in a private folder that the loader finds relative to the
# executable, so the same binaries run from the build folder (modules beside
# them) and from any prefix. Tests and benchmarks are never installed.
include(GNUInstallDirs)

# Private modules, so not the multiarch folder of public libraries that
# GNUInstallDirs gives a /usr prefix on Debian.
set(TOLVEK_INSTALL_MODULEDIR "lib/tolvek-photos" CACHE STRING
    "Folder of the media, JPEG and download modules, relative to the prefix")
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
    GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# The module folder as seen from the executable's folder, compiled into the
# loader: both folders move with the prefix, so the path between them holds.
# That needs both relative to the prefix.
foreach(folder CMAKE_INSTALL_BINDIR TOLVEK_INSTALL_MODULEDIR)
  if(IS_ABSOLUTE "${${folder}}")
    message(FATAL_ERROR "${folder} must be relative to the prefix, not ${${folder}}")
  endif()
endforeach()
cmake_path(ABSOLUTE_PATH CMAKE_INSTALL_BINDIR BASE_DIRECTORY /prefix OUTPUT_VARIABLE tolvek_bin_full)
cmake_path(ABSOLUTE_PATH TOLVEK_INSTALL_MODULEDIR BASE_DIRECTORY /prefix OUTPUT_VARIABLE tolvek_module_full)
file(RELATIVE_PATH TOLVEK_MODULE_RELATIVE_DIR ${tolvek_bin_full} ${tolvek_module_full})
set_source_files_properties(${PROJECT_SOURCE_DIR}/src/platform/system/module_loader.cpp DIRECTORY ${PROJECT_SOURCE_DIR}/src
                            PROPERTIES COMPILE_DEFINITIONS "TOLVEK_MODULE_RELATIVE_DIR=\"${TOLVEK_MODULE_RELATIVE_DIR}\"")

install(TARGETS tolvek-photos tolvek-photos-library RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS tolvek_media tolvek_jpeg tolvek_download LIBRARY DESTINATION ${TOLVEK_INSTALL_MODULEDIR}
        NAMELINK_SKIP)

# The watch's user unit: one text (packaging/tolvek-photos-watch.service.in)
# for the unit installed here and the one `watch --install` writes, which
# embeds it (user_unit_text.h).
set(TOLVEK_UNIT_TEMPLATE ${PROJECT_SOURCE_DIR}/packaging/tolvek-photos-watch.service.in)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${TOLVEK_UNIT_TEMPLATE})
file(READ ${TOLVEK_UNIT_TEMPLATE} TOLVEK_UNIT_TEXT)
configure_file(${CMAKE_CURRENT_LIST_DIR}/user_unit_text.h.in ${CMAKE_BINARY_DIR}/generated/user_unit_text.h @ONLY)
target_include_directories(tolvek_tool_commands PRIVATE ${CMAKE_BINARY_DIR}/generated)

# Written at install time, so that ExecStart names the prefix given then
# (`cmake --install --prefix P`, CPack's /usr). A prefix of /usr is the
# distribution's: its units live in lib/systemd/user; any other prefix
# (/usr/local, ~/.local) uses share/systemd/user, which systemd searches
# below every XDG data folder.
install(CODE "
  set(tolvek_bindir \"${CMAKE_INSTALL_BINDIR}\")
  set(tolvek_template \"${TOLVEK_UNIT_TEMPLATE}\")
  set(tolvek_staging \"${CMAKE_BINARY_DIR}/packaging\")
  include(\"${CMAKE_CURRENT_LIST_DIR}/install_user_unit.cmake\")
")
