# What differs when the tool is built for Windows (cross-compiled with
# cmake/toolchain-mingw-w64.cmake; see scripts/build-windows.sh).
#
# Files named *_win32.cpp hold the Windows-only code; the files listed in
# RD_POSIX_ONLY_SOURCES hold their POSIX counterparts. Each build drops the
# other system's files from every target once the targets are defined.

set(RD_POSIX_ONLY_SOURCES
  src/platform/serial_port.cpp
  src/platform/serial_termios.cpp
  src/ui/term/interrupt_watcher.cpp
  src/ui/term/port_list.cpp
  src/ui/term/stdin_wait.cpp
  src/upload/data_file.cpp
  src/upload/case_insensitive_path.cpp
  sim/sim_line.cpp
  sim/sim_sha256.cpp
)

function(rd_drop_other_system_sources)
  if(WIN32)
    set(pattern "")
    foreach(file ${RD_POSIX_ONLY_SOURCES})
      string(REPLACE "." "\\." file "${file}")
      string(APPEND pattern "|/${file}$")
    endforeach()
    string(SUBSTRING "${pattern}" 1 -1 pattern)
  else()
    set(pattern "_win32\\.cpp$")
  endif()
  get_property(targets DIRECTORY ${PROJECT_SOURCE_DIR} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target ${targets})
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY")
      continue()
    endif()
    get_target_property(sources ${target} SOURCES)
    if(sources)
      list(FILTER sources EXCLUDE REGEX "${pattern}")
      set_property(TARGET ${target} PROPERTY SOURCES ${sources})
    endif()
  endforeach()
  if(WIN32 AND TARGET receiver-downloader)
    target_sources(receiver-downloader PRIVATE ${RD_WINDOWS_RESOURCES})
    # The ZIP for Windows users: the program, the README, an example script
    # with its data file.
    install(TARGETS receiver-downloader RUNTIME DESTINATION .)
    install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/examples/load.cmd
                  ${PROJECT_SOURCE_DIR}/examples/code.lzs DESTINATION .)
    set(CPACK_PACKAGE_NAME receiver-downloader)
    set(CPACK_PACKAGE_VERSION 1.1)
    set(CPACK_SYSTEM_NAME win64)
    set(CPACK_GENERATOR ZIP)
    include(CPack)
  endif()
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL rd_drop_other_system_sources)

if(NOT WIN32)
  return()
endif()

enable_language(RC)

# Windows 7 API level; the C runtime's localtime_r and friends.
add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601 _POSIX_THREAD_SAFE_FUNCTIONS)
# std::filesystem and the rest of the C++ runtime linked in, no DLLs beside
# the system's own.
add_link_options(-static -static-libgcc -static-libstdc++)

# openpty's library on Linux; Windows has no pseudo-terminals.
add_library(util INTERFACE)
# The simulator's SHA-256 comes from the system's own CNG on Windows.
add_library(OpenSSL::Crypto INTERFACE IMPORTED)
set_property(TARGET OpenSSL::Crypto PROPERTY INTERFACE_LINK_LIBRARIES bcrypt)

# CLI11 is header-only and portable: its Debian headers, without the rest of
# /usr/include.
set(RD_CLI11_INCLUDE ${CMAKE_BINARY_DIR}/cli11-include)
file(MAKE_DIRECTORY ${RD_CLI11_INCLUDE})
file(CREATE_LINK /usr/include/CLI ${RD_CLI11_INCLUDE}/CLI SYMBOLIC)
include_directories(SYSTEM ${RD_CLI11_INCLUDE})

# Port listing (SetupAPI) and the system libraries the serial code uses.
link_libraries(setupapi advapi32)

# wxWidgets built for Windows by scripts/build-wx-windows.sh.
if(RD_WITH_GUI AND RD_WX_PREFIX)
  set(wxWidgets_CONFIG_EXECUTABLE ${RD_WX_PREFIX}/bin/wx-config)
  set(wxWidgets_CONFIG_OPTIONS --static=yes)
endif()

# The process runs with UTF-8 as its code page (file names reach the C
# runtime and the -A calls as UTF-8) and with the common controls of
# today's Windows.
set(RD_WINDOWS_RESOURCES ${PROJECT_SOURCE_DIR}/cmake/windows/receiver-downloader.rc)
