# Builds the Debian packages and checks what they hold and what they declare:
# the terminal package holds the terminal program and its man page and
# depends on no GUI library; the GUI package holds the GUI program, its
# desktop entry and icon, and depends on the terminal package; each holds its
# changelog and copyright; and lintian, when installed, finds no fault.
#   cmake -DBINARY_DIR=... -DWORK_DIR=... -P check_packages.cmake
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND cpack -G DEB --config ${BINARY_DIR}/CPackConfig.cmake -B ${WORK_DIR}
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cpack failed (${status}):\n${output}")
endif()

# check_package(name must-hold-regexes... DEPENDS depends-regex [NOT_DEPENDS regex])
function(check_package name)
  cmake_parse_arguments(arg "" "DEPENDS;NOT_DEPENDS" "HOLDS" ${ARGN})
  file(GLOB deb ${WORK_DIR}/${name}_*.deb)
  list(LENGTH deb count)
  if(NOT count EQUAL 1)
    message(FATAL_ERROR "expected one ${name}_*.deb in ${WORK_DIR}, found: ${deb}")
  endif()
  execute_process(COMMAND dpkg-deb -c ${deb} OUTPUT_VARIABLE contents)
  foreach(path ${arg_HOLDS})
    if(NOT contents MATCHES " \\./${path}\n")
      message(FATAL_ERROR "${name} lacks ${path}:\n${contents}")
    endif()
  endforeach()
  execute_process(COMMAND dpkg-deb -f ${deb} Depends OUTPUT_VARIABLE depends)
  if(NOT depends MATCHES "${arg_DEPENDS}")
    message(FATAL_ERROR "${name} Depends: ${depends} (expected ${arg_DEPENDS})")
  endif()
  if(arg_NOT_DEPENDS AND depends MATCHES "${arg_NOT_DEPENDS}")
    message(FATAL_ERROR "${name} Depends: ${depends} (must not name ${arg_NOT_DEPENDS})")
  endif()
  message(STATUS "${name}: Depends: ${depends}")
endfunction()

check_package(receiver-downloader
              HOLDS usr/bin/receiver-downloader usr/share/man/man1/receiver-downloader.1.gz
                    usr/share/doc/receiver-downloader/changelog.gz usr/share/doc/receiver-downloader/copyright
              DEPENDS "libc6 \\(>= " NOT_DEPENDS "wx|gtk|receiver-downloader")
check_package(receiver-downloader-gui
              HOLDS usr/bin/receiver-downloader-gui usr/share/applications/receiver-downloader.desktop
                    usr/share/icons/hicolor/scalable/apps/receiver-downloader.svg
                    usr/share/man/man1/receiver-downloader-gui.1.gz
                    usr/share/doc/receiver-downloader-gui/changelog.gz
                    usr/share/doc/receiver-downloader-gui/copyright
              DEPENDS "receiver-downloader \\(= [0-9.]+\\).*libwxgtk3")

# Debian's own checks, where lintian is installed: any error or warning fails.
find_program(LINTIAN lintian)
if(NOT LINTIAN)
  message(STATUS "lintian is not installed: Debian's checks of the packages are skipped")
  return()
endif()
file(GLOB debs ${WORK_DIR}/*.deb)
execute_process(COMMAND ${LINTIAN} --fail-on error,warning ${debs}
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "lintian found faults in the packages (status ${status}):\n${output}${errors}")
endif()
message(STATUS "lintian: no error, no warning")
