# The man page renders without a warning and names every option --help
# lists, so that the two cannot drift apart; --help and --version exit 0, and
# the page's header names the version --version prints.
#   cmake -DPROGRAM=... -DPAGE=... -P check_man_page.cmake
execute_process(COMMAND groff -man -Tutf8 -ww -z ${PAGE} RESULT_VARIABLE status ERROR_VARIABLE warnings)
if(NOT status EQUAL 0 OR NOT warnings STREQUAL "")
  message(FATAL_ERROR "groff on ${PAGE} (status ${status}):\n${warnings}")
endif()
execute_process(COMMAND groff -man -Tascii -P-cbou -rLL=200n ${PAGE} OUTPUT_VARIABLE page)

foreach(flag --help --version)
  execute_process(COMMAND ${PROGRAM} ${flag} RESULT_VARIABLE status OUTPUT_VARIABLE output
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT status EQUAL 0 OR output STREQUAL "")
    message(FATAL_ERROR "${PROGRAM} ${flag}: status ${status}, output:\n${output}")
  endif()
  if(flag STREQUAL "--help")
    set(help "${output}")
  else()
    set(version "${output}")
  endif()
endforeach()

file(STRINGS ${PAGE} header REGEX "^\\.TH ")
string(REGEX MATCH "\"Receiver Downloader [^\"]+\"" page_version "${header}")
if(NOT page_version STREQUAL "\"${version}\"")
  message(FATAL_ERROR "${PAGE}'s header (${header}) does not name the version --version prints: ${version}")
endif()

string(REGEX MATCHALL "--[a-z][a-z-]*" options "${help}")
list(REMOVE_DUPLICATES options)
list(LENGTH options count)
if(count LESS 10)
  message(FATAL_ERROR "--help names only ${count} options: ${options}")
endif()
foreach(option ${options})
  string(FIND "${page}" "${option}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${option} is in --help but not in ${PAGE}")
  endif()
endforeach()
