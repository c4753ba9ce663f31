# Installation and packages.
#
# `cmake --install` puts the programs, the man pages, the desktop entry, the
# icon and each package's changelog and copyright in the usual places.
# `cpack` makes two Debian packages from it: the terminal program with its
# man page (receiver-downloader, no GUI library), and the GUI program with
# its desktop entry and icon (receiver-downloader-gui, which needs the
# first). On Windows the same configuration makes a ZIP of the one program,
# and the `installer` target a setup program (cmake/windows_installer.cmake).
include(GNUInstallDirs)

if(WIN32)
  # The ZIP for Windows users: the program, the README, the license, the
  # changelog and the example scripts with their data files, side by side at
  # the top.
  install(TARGETS receiver-downloader RUNTIME DESTINATION . COMPONENT terminal)
  file(GLOB RD_EXAMPLES ${PROJECT_SOURCE_DIR}/examples/*.cmd ${PROJECT_SOURCE_DIR}/examples/*.lzs)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/CHANGELOG.md
          DESTINATION . COMPONENT terminal)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt COMPONENT terminal)
  install(FILES ${RD_EXAMPLES} DESTINATION . COMPONENT terminal)
  include(${PROJECT_SOURCE_DIR}/cmake/windows_installer.cmake)
else()
  include(${PROJECT_SOURCE_DIR}/cmake/debian_docs.cmake)
  set(RD_DOC_DIR ${PROJECT_BINARY_DIR}/doc)
  # The man page carries the version; installed compressed, as Debian wants.
  configure_file(${PROJECT_SOURCE_DIR}/docs/receiver-downloader.1.in ${RD_DOC_DIR}/receiver-downloader.1 @ONLY)
  set(RD_MAN_PAGE ${RD_DOC_DIR}/receiver-downloader.1)
  file(READ ${RD_MAN_PAGE} page)
  rd_write_gzip(${RD_DOC_DIR}/receiver-downloader.1.gz "${page}")
  set(RD_GUI_PAGE ${PROJECT_SOURCE_DIR}/docs/receiver-downloader-gui.1)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${RD_GUI_PAGE})
  file(READ ${RD_GUI_PAGE} page)
  rd_write_gzip(${RD_DOC_DIR}/receiver-downloader-gui.1.gz "${page}")
  rd_debian_changelog(${RD_DOC_DIR}/changelog.gz receiver-downloader "${RD_CONTACT}")
  rd_debian_copyright(${RD_DOC_DIR}/copyright "Receiver Downloader" "${RD_CONTACT}")

  install(TARGETS receiver-downloader RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT terminal)
  install(FILES ${RD_DOC_DIR}/receiver-downloader.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT terminal)
  install(FILES ${RD_DOC_DIR}/changelog.gz ${RD_DOC_DIR}/copyright
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/receiver-downloader COMPONENT terminal)
endif()
set(RD_PACKAGE_COMPONENTS terminal)
if(TARGET receiver-downloader-gui)
  install(TARGETS receiver-downloader-gui RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT gui)
  install(FILES ${RD_DOC_DIR}/receiver-downloader-gui.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT gui)
  install(FILES ${RD_DOC_DIR}/changelog.gz ${RD_DOC_DIR}/copyright
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/receiver-downloader-gui COMPONENT gui)
  install(FILES ${PROJECT_SOURCE_DIR}/res/receiver-downloader.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT gui)
  install(FILES ${PROJECT_SOURCE_DIR}/res/receiver-downloader.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT gui)
  list(APPEND RD_PACKAGE_COMPONENTS gui)
endif()

set(CPACK_PACKAGE_NAME receiver-downloader)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR ${RD_VENDOR})
set(CPACK_PACKAGE_CONTACT ${RD_CONTACT})
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
  # Each description's first line is the package's synopsis.
  set(CPACK_DEBIAN_TERMINAL_DESCRIPTION "load new code into a receiver over an RS-232 serial line
Receiver Downloader answers a receiver's start-up dialogue, switches the
line to 38400 baud and carries out a command script, sending the data files
it names. This package holds the terminal program, which needs no GUI
library: it checks and runs command scripts, lists serial ports, loads many
receivers at once on a production line and runs a demo against a simulated
receiver. Its exit status tells whether the download worked.")
  set(CPACK_DEBIAN_GUI_PACKAGE_NAME receiver-downloader-gui)
  set(CPACK_DEBIAN_GUI_PACKAGE_DEPENDS "receiver-downloader (= ${CPACK_PACKAGE_VERSION})")
  set(CPACK_DEBIAN_GUI_DESCRIPTION "graphical front end of Receiver Downloader
The wxWidgets dialogs (Port Setup, Port Initialization, Code Upload) that
receiver-downloader hands a run to when a display is present, with a
desktop entry to start them from the menu.")
endif()
include(CPack)
