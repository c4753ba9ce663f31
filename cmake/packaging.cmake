# Installation and packages.
#
# `cmake --install` puts the programs, the man page, the desktop entry and the
# icon in the usual places. `cpack` makes two Debian packages from it: the
# terminal program with its man page (receiver-downloader, no GUI library),
# and the GUI program with its desktop entry and icon
# (receiver-downloader-gui, which needs the first). On Windows the same
# configuration makes a ZIP of the one program.
include(GNUInstallDirs)

if(WIN32)
  # The ZIP for Windows users: the program, the README and the example
  # scripts with their data files, side by side at the top.
  install(TARGETS receiver-downloader RUNTIME DESTINATION . COMPONENT terminal)
  file(GLOB RD_EXAMPLES ${PROJECT_SOURCE_DIR}/examples/*.cmd ${PROJECT_SOURCE_DIR}/examples/*.lzs)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION . COMPONENT terminal)
  install(FILES ${RD_EXAMPLES} DESTINATION . COMPONENT terminal)
else()
  install(TARGETS receiver-downloader RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT terminal)
endif()
if(NOT WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/receiver-downloader.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT terminal)
endif()
set(RD_PACKAGE_COMPONENTS terminal)
if(TARGET receiver-downloader-gui)
  install(TARGETS receiver-downloader-gui RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT gui)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/receiver-downloader-gui.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT gui)
  install(FILES ${PROJECT_SOURCE_DIR}/res/receiver-downloader.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT gui)
  install(FILES ${PROJECT_SOURCE_DIR}/res/receiver-downloader.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT gui)
  list(APPEND RD_PACKAGE_COMPONENTS gui)
endif()

set(CPACK_PACKAGE_NAME receiver-downloader)
set(CPACK_PACKAGE_VERSION 1.1.0)
set(CPACK_PACKAGE_VENDOR "Receiver Downloader developers")
set(CPACK_PACKAGE_CONTACT "Receiver Downloader developers <receiver-downloader@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Loads new code into a receiver over an RS-232 serial line")
set(CPACK_COMPONENTS_ALL ${RD_PACKAGE_COMPONENTS})
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  # The runtime libraries each program links, as dpkg-shlibdeps finds them.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_TERMINAL_PACKAGE_NAME receiver-downloader)
  set(CPACK_DEBIAN_TERMINAL_DESCRIPTION "Loads new code into a receiver over an RS-232 serial line
 The terminal program, which needs no GUI library: it checks and runs
 command scripts, lists serial ports and runs a demo against a simulated
 receiver.")
  set(CPACK_DEBIAN_GUI_PACKAGE_NAME receiver-downloader-gui)
  set(CPACK_DEBIAN_GUI_PACKAGE_DEPENDS "receiver-downloader (= ${CPACK_PACKAGE_VERSION})")
  set(CPACK_DEBIAN_GUI_DESCRIPTION "Loads new code into a receiver over an RS-232 serial line (GUI)
 The wxWidgets dialogs (Port Setup, Port Initialization, Upload) that
 receiver-downloader hands a run to when a display is present.")
endif()
include(CPack)
