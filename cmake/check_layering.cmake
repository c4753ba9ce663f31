# Checks the quoted includes of every library of the tool against the layers
# it declares. A quoted include is looked up beside the including file before
# the include folders, so a header of another library can be reached that
# way even though that library is not declared: "wx/wx_app.h" from src/ui/,
# or "../upload/upload_thread.h" from src/link/. This check fails on
#   - any quoted include that climbs out of its folder ("../"), and
#   - any quoted include that, found beside the including file, is a header
#     the library does not reach through its declared layers.
#   cmake -DMANIFESTS=<folder of lib.cmake files> -DINCLUDE_ROOT=<build>/include
#         -P check_layering.cmake
# Each manifest sets SOURCES (the library's sources), OWN (the folder of links
# to its own headers) and INCLUDES (every folder it includes from).
cmake_minimum_required(VERSION 3.20)
file(GLOB manifests ${MANIFESTS}/*.cmake)
if(NOT manifests)
  message(FATAL_ERROR "no library manifests in ${MANIFESTS}")
endif()

set(faults "")
set(checked 0)
foreach(manifest ${manifests})
  get_filename_component(library ${manifest} NAME_WE)
  unset(SOURCES)
  unset(OWN)
  unset(INCLUDES)
  include(${manifest})

  # The headers the library may use: those under its include folders, as
  # the real files behind the links.
  set(reachable "")
  foreach(folder ${INCLUDES})
    # Only the tool's own layers: third-party folders hold nothing of ours.
    if(NOT folder MATCHES "^${INCLUDE_ROOT}/")
      continue()
    endif()
    file(GLOB_RECURSE headers FOLLOW_SYMLINKS ${folder}/*.h)
    foreach(header ${headers})
      file(REAL_PATH ${header} real)
      list(APPEND reachable ${real})
    endforeach()
  endforeach()

  # Its files: the sources, and the headers it exposes as its own.
  set(files "")
  foreach(source ${SOURCES})
    if(source MATCHES "\\.(cpp|h)$" AND IS_ABSOLUTE ${source})
      list(APPEND files ${source})
    endif()
  endforeach()
  file(GLOB_RECURSE own_headers ${OWN}/*.h)
  foreach(header ${own_headers})
    file(REAL_PATH ${header} real)
    list(APPEND files ${real})
  endforeach()
  list(REMOVE_DUPLICATES files)

  foreach(file ${files})
    math(EXPR checked "${checked} + 1")
    file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    get_filename_component(folder ${file} DIRECTORY)
    foreach(line ${lines})
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*$" "\\1" included "${line}")
      if(included MATCHES "(^|/)\\.\\.(/|$)")
        string(APPEND faults "  ${file}: #include \"${included}\" climbs out of its folder (${library})\n")
      elseif(EXISTS ${folder}/${included})
        file(REAL_PATH ${folder}/${included} real)
        if(NOT real IN_LIST reachable)
          string(APPEND faults "  ${file}: #include \"${included}\" is found beside it as ${real}, "
                               "a header of a layer ${library} does not declare\n")
        endif()
      endif()
    endforeach()
  endforeach()
endforeach()

if(faults)
  message(FATAL_ERROR "Includes that bypass the layers:\n${faults}")
endif()
message(STATUS "${checked} files of the tool's libraries include only what their layers declare")
