# Run by `cmake --install` (and CPack): writes the watch's user unit with
# ExecStart naming the tool under the prefix of this installation.
# Given: tolvek_bindir (the install folder of executables), tolvek_template
# (packaging/tolvek-photos-watch.service.in) and tolvek_staging (a folder of
# the build where the unit is written before it is installed).
string(REGEX REPLACE "(.)/+$" "\\1" tolvek_prefix "${CMAKE_INSTALL_PREFIX}")
if(tolvek_prefix STREQUAL "/usr")
  set(tolvek_unit_dir "${tolvek_prefix}/lib/systemd/user")
else()
  set(tolvek_unit_dir "${tolvek_prefix}/share/systemd/user")
endif()
cmake_path(ABSOLUTE_PATH tolvek_bindir BASE_DIRECTORY "${tolvek_prefix}" NORMALIZE OUTPUT_VARIABLE tolvek_bin)

# One double-quoted word of an Exec line: backslash and quote escaped, "%"
# (specifiers) and "$" (variables) doubled.
set(tolvek_exec "${tolvek_bin}/tolvek-photos-library")
if(tolvek_exec MATCHES "[\n\r\t]")
  message(FATAL_ERROR "the install prefix holds a control character: ${tolvek_exec}")
endif()
string(REPLACE "\\" "\\\\" tolvek_exec "${tolvek_exec}")
string(REPLACE "\"" "\\\"" tolvek_exec "${tolvek_exec}")
string(REPLACE "%" "%%" tolvek_exec "${tolvek_exec}")
string(REPLACE "$" "$$" tolvek_exec "${tolvek_exec}")

# The installed unit serves the default library: no Environment line.
file(READ "${tolvek_template}" tolvek_unit)
string(REPLACE "@TOLVEK_WATCH_EXEC@" "\"${tolvek_exec}\"" tolvek_unit "${tolvek_unit}")
string(REPLACE "@TOLVEK_WATCH_ENVIRONMENT@\n" "" tolvek_unit "${tolvek_unit}")
set(tolvek_staged "${tolvek_staging}/tolvek-photos-watch.service")
file(WRITE "${tolvek_staged}" "${tolvek_unit}")
file(INSTALL DESTINATION "${tolvek_unit_dir}" TYPE FILE
     PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ FILES "${tolvek_staged}")
