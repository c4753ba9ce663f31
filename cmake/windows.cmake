# What differs when the tool is built for Windows (cross-compiled through
# cmake/toolchain-mingw-w64.cmake, see scripts/build-windows.sh). Included
# by the top-level CMakeLists.txt before the layers are defined.
#
# Each layer's foo_win32.cpp replaces its foo.cpp on Windows (rd_layer
# picks one of the two), so that each system's code lives in one file.

enable_language(RC)

# Windows 7 API level; UTF-8 is the process code page (the manifest), so
# that the -A calls and the C runtime take the tool's UTF-8 strings.
add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601 WIN32_LEAN_AND_MEAN NOMINMAX
                        _POSIX_THREAD_SAFE_FUNCTIONS)
add_link_options(-static -static-libgcc -static-libstdc++)

# Libraries the Linux build names that Windows lacks or has under another
# name: openpty's (none needed), the simulator's SHA-256 (the system's own
# CNG, bcrypt), the port listing's SetupAPI and configuration manager.
add_library(util INTERFACE)
add_library(OpenSSL::Crypto INTERFACE IMPORTED)
set_property(TARGET OpenSSL::Crypto PROPERTY INTERFACE_LINK_LIBRARIES bcrypt)
link_libraries(setupapi cfgmgr32 advapi32)

# CLI11 is header-only and portable: its Debian headers, without the rest of
# /usr/include.
set(RD_CLI11_INCLUDE ${CMAKE_BINARY_DIR}/cli11-include)
file(MAKE_DIRECTORY ${RD_CLI11_INCLUDE})
file(CREATE_LINK /usr/include/CLI ${RD_CLI11_INCLUDE}/CLI SYMBOLIC)
include_directories(SYSTEM ${RD_CLI11_INCLUDE})

# nlohmann-json (the run's events) is header-only too: the same way, under
# the target name its Debian package's CMake files give it.
set(RD_JSON_INCLUDE ${CMAKE_BINARY_DIR}/json-include)
file(MAKE_DIRECTORY ${RD_JSON_INCLUDE})
file(CREATE_LINK /usr/include/nlohmann ${RD_JSON_INCLUDE}/nlohmann SYMBOLIC)
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
set_property(TARGET nlohmann_json::nlohmann_json PROPERTY INTERFACE_INCLUDE_DIRECTORIES ${RD_JSON_INCLUDE})

# The program's resources: the manifest (UTF-8 code page, common controls
# version 6, DPI aware), the icon and the version details, made from the
# templates in cmake/windows with the project's version.
set(RD_PRODUCT "Receiver Downloader")
set(RD_VERSION_QUAD ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0)
string(REPLACE "." "," RD_VERSION_COMMAS ${RD_VERSION_QUAD})
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE RD_COPYRIGHT REGEX "^Copyright ")
set(RD_WINDOWS_DIR ${PROJECT_BINARY_DIR}/windows)
set(RD_MANIFEST ${RD_WINDOWS_DIR}/receiver-downloader.manifest)
set(RD_ICON ${RD_WINDOWS_DIR}/receiver-downloader.ico)
configure_file(${PROJECT_SOURCE_DIR}/cmake/windows/receiver-downloader.manifest.in ${RD_MANIFEST} @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/cmake/windows/receiver-downloader.rc.in
               ${RD_WINDOWS_DIR}/receiver-downloader.rc @ONLY)
set(RD_WINDOWS_RESOURCES ${RD_WINDOWS_DIR}/receiver-downloader.rc)

# The icon: the SVG drawn at each size Windows asks for (the small ones for
# lists and title bars, 256 for large icon views, stored as PNG).
find_program(RD_RSVG_CONVERT rsvg-convert REQUIRED)
find_program(RD_ICOTOOL icotool REQUIRED)
set(RD_ICON_SVG ${PROJECT_SOURCE_DIR}/res/receiver-downloader.svg)
set(draw_commands)
set(bitmaps)
foreach(size 16 20 24 32 40 48 64 128)
  list(APPEND draw_commands COMMAND ${RD_RSVG_CONVERT} -w ${size} -h ${size} -o icon-${size}.png ${RD_ICON_SVG})
  list(APPEND bitmaps icon-${size}.png)
endforeach()
add_custom_command(OUTPUT ${RD_ICON}
                   ${draw_commands}
                   COMMAND ${RD_RSVG_CONVERT} -w 256 -h 256 -o icon-256.png ${RD_ICON_SVG}
                   COMMAND ${RD_ICOTOOL} -c -o ${RD_ICON} ${bitmaps} -r icon-256.png
                   DEPENDS ${RD_ICON_SVG}
                   WORKING_DIRECTORY ${RD_WINDOWS_DIR}
                   COMMENT "Drawing the program's icon"
                   VERBATIM)
# windres reads the icon and the manifest but does not tell CMake so.
set_source_files_properties(${RD_WINDOWS_RESOURCES} PROPERTIES OBJECT_DEPENDS "${RD_ICON};${RD_MANIFEST}")
