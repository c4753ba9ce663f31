# The Windows setup program, receiver-downloader-<version>-setup.exe (target
# `installer`): built by makensis from Debian's nsis package out of
# cmake/windows/installer.nsi, with the program (stripped), the README, the
# license, the changelog and the example scripts. Included by packaging.cmake.

find_program(RD_MAKENSIS makensis REQUIRED)

# The Start-menu shortcut to the station window ("Receiver Downloader Station").
option(RD_STATION_SHORTCUT "The installer adds a Start-menu shortcut to the station window" ON)

set(RD_SETUP ${PROJECT_BINARY_DIR}/receiver-downloader-${PROJECT_VERSION}-setup.exe)
set(RD_SETUP_STAGE ${RD_WINDOWS_DIR}/setup)
set(RD_SETUP_EXE ${RD_SETUP_STAGE}/receiver-downloader.exe)

# What the installer writes and its uninstaller removes, file by file, so
# that uninstalling never takes anything it did not put there.
set(install_lines "SetOutPath \"$INSTDIR\"\n")
set(remove_lines "")
foreach(file "${RD_SETUP_EXE}|receiver-downloader.exe" "${PROJECT_SOURCE_DIR}/README.md|README.md"
             "${PROJECT_SOURCE_DIR}/CHANGELOG.md|CHANGELOG.md" "${PROJECT_SOURCE_DIR}/LICENSE|LICENSE.txt")
  string(REPLACE "|" ";" file "${file}")
  list(GET file 0 source)
  list(GET file 1 name)
  string(APPEND install_lines "  File \"/oname=${name}\" \"${source}\"\n")
  string(APPEND remove_lines "  Delete \"$INSTDIR\\${name}\"\n")
endforeach()
string(APPEND install_lines "  SetOutPath \"$INSTDIR\\examples\"\n")
foreach(example ${RD_EXAMPLES})
  get_filename_component(name ${example} NAME)
  string(APPEND install_lines "  File \"${example}\"\n")
  string(APPEND remove_lines "  Delete \"$INSTDIR\\examples\\${name}\"\n")
endforeach()
string(APPEND remove_lines "  RMDir \"$INSTDIR\\examples\"\n")
set(station_define "")
if(RD_STATION_SHORTCUT)
  set(station_define "!define STATION_SHORTCUT\n")
endif()
set(RD_SETUP_CONFIG ${RD_WINDOWS_DIR}/installer-config.nsh)
file(WRITE ${RD_SETUP_CONFIG}
     "; Made by cmake/windows_installer.cmake for cmake/windows/installer.nsi.\n"
     "!define PRODUCT \"${RD_PRODUCT}\"\n"
     "!define VERSION \"${PROJECT_VERSION}\"\n"
     "!define VERSION_QUAD \"${RD_VERSION_QUAD}\"\n"
     "!define PUBLISHER \"${RD_VENDOR}\"\n"
     "!define COPYRIGHT \"${RD_COPYRIGHT}\"\n"
     "!define ICON \"${RD_ICON}\"\n"
     "!define OUTFILE \"${RD_SETUP}\"\n"
     "${station_define}"
     "!macro RdInstallFiles\n  ${install_lines}!macroend\n"
     "!macro RdRemoveFiles\n${remove_lines}!macroend\n")

add_custom_command(OUTPUT ${RD_SETUP}
                   COMMAND ${CMAKE_COMMAND} -E make_directory ${RD_SETUP_STAGE}
                   COMMAND ${CMAKE_STRIP} -o ${RD_SETUP_EXE} $<TARGET_FILE:receiver-downloader>
                   COMMAND ${RD_MAKENSIS} -V2 -DCONFIG=${RD_SETUP_CONFIG}
                           ${PROJECT_SOURCE_DIR}/cmake/windows/installer.nsi
                   DEPENDS receiver-downloader ${PROJECT_SOURCE_DIR}/cmake/windows/installer.nsi
                           ${RD_SETUP_CONFIG} ${RD_ICON} ${RD_EXAMPLES} ${PROJECT_SOURCE_DIR}/README.md
                           ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${PROJECT_SOURCE_DIR}/LICENSE
                   COMMENT "Building ${RD_SETUP}"
                   VERBATIM)
add_custom_target(installer DEPENDS ${RD_SETUP})
