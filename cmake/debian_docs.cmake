# The documents every Debian package carries in /usr/share/doc/<package>:
# its changelog, made from CHANGELOG.md in Debian's changelog format, and its
# copyright file, made from LICENSE in Debian's machine-readable format.
# Both are written when the project is configured, and again whenever either
# source changes.

set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${PROJECT_SOURCE_DIR}/LICENSE)

# Writes `text` gzip-compressed to `path`, without a name or time stamp in
# the header, so that the same text always gives the same bytes.
function(rd_write_gzip path text)
  file(WRITE ${path}.plain "${text}")
  execute_process(COMMAND gzip -9nc INPUT_FILE ${path}.plain OUTPUT_FILE ${path}
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip failed (${status}) on ${path}")
  endif()
  file(REMOVE ${path}.plain)
endfunction()

# Appends one finished entry to `out`: its header, items and trailer line.
# A released entry carries its date; the one not released yet is marked
# UNRELEASED, as Debian does, and dated when it is built (SOURCE_DATE_EPOCH
# when that is set).
macro(rd_changelog_flush_entry)
  if(entry_version)
    if(entry_date STREQUAL "unreleased")
      set(distribution UNRELEASED)
      string(TIMESTAMP stamp "%a, %d %b %Y %H:%M:%S +0000" UTC)
    else()
      set(distribution unstable)
      execute_process(COMMAND date -u -R -d "${entry_date}"
                      OUTPUT_VARIABLE stamp OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
      if(NOT status EQUAL 0)
        message(FATAL_ERROR "CHANGELOG.md: entry ${entry_version} has no valid date: ${entry_date}")
      endif()
    endif()
    if(NOT entry_items)
      message(FATAL_ERROR "CHANGELOG.md: entry ${entry_version} lists no change")
    endif()
    string(APPEND out "${package_source} (${entry_version}) ${distribution}; urgency=medium\n\n"
                      "${entry_items}\n -- ${maintainer}  ${stamp}\n\n")
  endif()
endmacro()

# rd_debian_changelog(path source-package maintainer): the Debian changelog of
# CHANGELOG.md, gzip-compressed. Fails when the newest entry is not
# PROJECT_VERSION, so that the packages never describe another version.
function(rd_debian_changelog path package_source maintainer)
  file(READ ${PROJECT_SOURCE_DIR}/CHANGELOG.md text)
  # Comments are notes for the editors, not changes.
  string(REGEX REPLACE "<!--([^-]|-[^-]|--[^>])*-->" "" text "${text}")
  # One list element per line: the characters that would split or join list
  # elements (';', brackets, a backslash before the separator) are held as
  # markers until the text is written.
  string(UUID marker NAMESPACE 00000000-0000-0000-0000-000000000000 NAME changelog TYPE SHA1)
  string(REPLACE ";" "${marker}0" text "${text}")
  string(REPLACE "[" "${marker}1" text "${text}")
  string(REPLACE "]" "${marker}2" text "${text}")
  string(REPLACE "\\" "${marker}3" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")

  set(out "")
  set(entry_version "")
  set(first_version "")
  set(in_item FALSE)
  foreach(line IN LISTS lines)
    if(line MATCHES "^## ([0-9][0-9.]*) - ([0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]|unreleased)$")
      rd_changelog_flush_entry()
      set(entry_version ${CMAKE_MATCH_1})
      set(entry_date ${CMAKE_MATCH_2})
      set(entry_items "")
      set(in_item FALSE)
      if(NOT first_version)
        set(first_version ${entry_version})
      endif()
    elseif(line MATCHES "^## ")
      message(FATAL_ERROR "CHANGELOG.md: a heading that is not \"## VERSION - YYYY-MM-DD\" "
                          "or \"## VERSION - unreleased\": ${line}")
    elseif(entry_version AND line MATCHES "^- (.*)$")
      string(APPEND entry_items "  * ${CMAKE_MATCH_1}\n")
      set(in_item TRUE)
    elseif(in_item AND line MATCHES "^  (.*)$")
      string(APPEND entry_items "    ${CMAKE_MATCH_1}\n")
    else()
      # Prose between the items (such as "The first release.") stays in
      # CHANGELOG.md alone.
      set(in_item FALSE)
    endif()
  endforeach()
  rd_changelog_flush_entry()

  if(NOT first_version STREQUAL PROJECT_VERSION)
    message(FATAL_ERROR "CHANGELOG.md's newest entry is ${first_version}, the project's version "
                        "${PROJECT_VERSION}: give the new version its entry")
  endif()
  string(REPLACE "${marker}0" ";" out "${out}")
  string(REPLACE "${marker}1" "[" out "${out}")
  string(REPLACE "${marker}2" "]" out "${out}")
  string(REPLACE "${marker}3" "\\" out "${out}")
  string(STRIP "${out}" out)
  rd_write_gzip(${path} "${out}\n")
endfunction()

# rd_debian_copyright(path upstream-name contact): LICENSE as a Debian
# copyright file covering every file under the one license.
function(rd_debian_copyright path upstream_name contact)
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
  if(NOT license MATCHES "^MIT License\n\nCopyright \\(c\\) ([^\n]+)\n\n(.*)$")
    message(FATAL_ERROR "LICENSE is not the MIT license text with one copyright line")
  endif()
  set(holder "${CMAKE_MATCH_1}")
  set(body "${CMAKE_MATCH_2}")
  string(STRIP "${body}" body)
  # Debian's format: each line indented by one space, an empty line as " .".
  string(REPLACE "\n\n" "\n.\n" body "${body}")
  string(REPLACE "\n" "\n " body "${body}")
  file(WRITE ${path}
       "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
       "Upstream-Name: ${upstream_name}\n"
       "Upstream-Contact: ${contact}\n"
       "\n"
       "Files: *\n"
       "Copyright: ${holder}\n"
       "License: Expat\n"
       "\n"
       "License: Expat\n"
       " ${body}\n")
endfunction()
