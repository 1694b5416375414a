# The manual page, the documents that go with an installed program, and the packages:
#   Linux:   cpack -G DEB  ->  tarvel_<version>_<arch>.deb (program, manual page, bash
#            completion, /usr/share/doc/tarvel/{copyright,changelog.gz,README.md.gz,
#            readme.txt.gz,tarvel-report.schema.json.gz})
#   Windows: cpack -G ZIP  ->  tarvel-<version>-win64.zip (tarvel.exe, README.md, readme.txt,
#            LICENSE, tarvel-report.schema.json)
# The version comes from project(VERSION) alone; the manual page, the package changelog and
# readme.txt (the README as plain text, which the help names) are generated from
# docs/tarvel.1, CHANGELOG.md and README.md at configure time.

set(TARVEL_MAINTAINER "The TARVEL developers <tarvel@example.org>"
    CACHE STRING "Maintainer named in the packages")

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(tarvel_doc_dir ${PROJECT_BINARY_DIR}/doc)
file(MAKE_DIRECTORY ${tarvel_doc_dir})
find_program(TARVEL_GZIP gzip)

# Compresses `file` the way Debian wants it (best, no name or time stamp) and sets `out` to
# the file to install: the compressed one, or `file` itself when there is no gzip.
function(tarvel_gzip file out)
  if(TARVEL_GZIP)
    execute_process(COMMAND ${TARVEL_GZIP} -9nf ${file} RESULT_VARIABLE failed)
    if(NOT failed)
      set(${out} ${file}.gz PARENT_SCOPE)
      return()
    endif()
  endif()
  set(${out} ${file} PARENT_SCOPE)
endfunction()

# "2026-12-07" or "2026-12-07 15:00 UTC" -> "Mon, 07 Dec 2026 15:00:00 +0000", the date form
# of a Debian changelog (the time is noon when none is given).
function(tarvel_changelog_date text out)
  if(NOT text MATCHES "^([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])( ([0-9][0-9]:[0-9][0-9]) UTC)?$")
    message(FATAL_ERROR "CHANGELOG.md: a version heading needs a date, (YYYY-MM-DD [HH:MM UTC]): ${text}")
  endif()
  set(day_text ${CMAKE_MATCH_3})
  set(time 12:00)
  if(CMAKE_MATCH_5)
    set(time ${CMAKE_MATCH_5})
  endif()
  math(EXPR year "${CMAKE_MATCH_1} + 0")
  math(EXPR month "${CMAKE_MATCH_2} + 0")
  math(EXPR day "${CMAKE_MATCH_3} + 0")
  set(month_names Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  set(month_offsets 0 3 2 5 0 3 5 1 4 6 2 4)
  math(EXPR index "${month} - 1")
  list(GET month_names ${index} month_name)
  list(GET month_offsets ${index} offset)
  set(y ${year})
  if(month LESS 3)
    math(EXPR y "${y} - 1")
  endif()
  math(EXPR weekday "(${y} + ${y} / 4 - ${y} / 100 + ${y} / 400 + ${offset} + ${day}) % 7")
  set(day_names Sun Mon Tue Wed Thu Fri Sat)
  list(GET day_names ${weekday} day_name)
  set(${out} "${day_name}, ${day_text} ${month_name} ${year} ${time}:00 +0000" PARENT_SCOPE)
endfunction()

# CHANGELOG.md in the Debian changelog format: "## <version> (<date>)" starts an entry,
# "### <heading>" becomes "  * <heading>:", its list items and text are indented under it.
function(tarvel_debian_changelog markdown out)
  file(STRINGS ${markdown} lines)
  set(text "")
  set(version "")
  set(date "")
  set(previous "")  # what the last line was: heading, item, text or blank
  foreach(line IN LISTS lines)
    string(REPLACE "`" "" line "${line}")
    if(line MATCHES "^## ([^ ]+) \\(([^)]*)\\)")
      if(version)
        string(APPEND text "\n -- ${TARVEL_MAINTAINER}  ${date}\n\n")
      endif()
      if(NOT version AND NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
        message(WARNING "CHANGELOG.md starts with ${CMAKE_MATCH_1}; the project is ${PROJECT_VERSION}")
      endif()
      set(version ${CMAKE_MATCH_1})
      tarvel_changelog_date("${CMAKE_MATCH_2}" date)
      string(APPEND text "tarvel (${version}) unstable; urgency=medium\n\n")
      set(previous heading)
    elseif(NOT version)
      # The title and the introduction above the first version.
    elseif(line MATCHES "^### (.*)")
      if(NOT previous STREQUAL "heading")
        string(APPEND text "\n")
      endif()
      string(APPEND text "  * ${CMAKE_MATCH_1}:\n")
      set(previous item)
    elseif(line MATCHES "^(- |  )")
      string(APPEND text "    ${line}\n")
      set(previous item)
    elseif(line STREQUAL "")
      if(previous STREQUAL "text")
        set(previous blank)
      endif()
    elseif(previous STREQUAL "item" OR previous STREQUAL "section text")
      # A paragraph under a section heading stays with the section's items.
      string(APPEND text "    ${line}\n")
      set(previous "section text")
    else()
      if(previous STREQUAL "blank")
        string(APPEND text "\n")
      endif()
      string(APPEND text "  ${line}\n")
      set(previous text)
    endif()
  endforeach()
  if(NOT version)
    message(FATAL_ERROR "CHANGELOG.md: no \"## <version> (<date>)\" heading")
  endif()
  string(APPEND text "\n -- ${TARVEL_MAINTAINER}  ${date}\n")
  file(WRITE ${out} "${text}")
endfunction()

# The copyright file in Debian's machine-readable format, from LICENSE: the holder from its
# "Copyright (c)" line, the permission text below it as the Expat license.
function(tarvel_debian_copyright license out)
  file(STRINGS ${license} lines)
  set(holder "")
  set(body "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^Copyright \\(c\\) (.*)")
      set(holder ${CMAKE_MATCH_1})
    elseif(holder)
      if(line STREQUAL "")
        string(APPEND body " .\n")
      else()
        string(APPEND body " ${line}\n")
      endif()
    endif()
  endforeach()
  string(REGEX REPLACE "^ \\.\n" "" body "${body}")
  file(WRITE ${out}
       "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
       "Upstream-Name: tarvel\n"
       "Upstream-Contact: ${TARVEL_MAINTAINER}\n"
       "\n"
       "Files: *\n"
       "Copyright: ${holder}\n"
       "License: Expat\n"
       "${body}")
endfunction()

# README.md as plain text: code blocks indented by four spaces without their fences,
# headings underlined, table rules and backquotes dropped. `newline` ends every line
# (CR LF for Windows).
function(tarvel_plain_text_readme markdown out newline)
  file(READ ${markdown} text)
  # One list element per line; the characters that CMake lists treat specially are held
  # apart meanwhile.
  string(REPLACE ";" "<semicolon>" text "${text}")
  string(REPLACE "[" "<open>" text "${text}")
  string(REPLACE "]" "<close>" text "${text}")
  string(REPLACE "```" "<fence>" text "${text}")
  string(REPLACE "`" "" text "${text}")
  string(REPLACE "<fence>" "```" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(plain "")
  set(in_code FALSE)
  foreach(line IN LISTS lines)
    if(line MATCHES "^```")
      if(in_code)
        set(in_code FALSE)
      else()
        set(in_code TRUE)
      endif()
    elseif(in_code AND line STREQUAL "")
      string(APPEND plain "${newline}")
    elseif(in_code)
      string(APPEND plain "    ${line}${newline}")
    elseif(line MATCHES "^#+ (.*)")
      set(title ${CMAKE_MATCH_1})
      string(LENGTH "${title}" length)
      set(rule_char "-")
      if(line MATCHES "^# ")
        set(rule_char "=")
      endif()
      string(REPEAT "${rule_char}" ${length} rule)
      string(APPEND plain "${title}${newline}${rule}${newline}")
    elseif(line MATCHES "^\\|[-| ]+\\|$")
      # a table's rule under its heading row
    else()
      string(APPEND plain "${line}${newline}")
    endif()
  endforeach()
  string(REPLACE "<semicolon>" ";" plain "${plain}")
  string(REPLACE "<open>" "[" plain "${plain}")
  string(REPLACE "<close>" "]" plain "${plain}")
  file(WRITE ${out} "${plain}")
endfunction()

set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${PROJECT_SOURCE_DIR}/docs/tarvel.1 ${PROJECT_SOURCE_DIR}/CHANGELOG.md
             ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/README.md
             ${PROJECT_SOURCE_DIR}/docs/tarvel-report.schema.json)

if(NOT WIN32)
  # The manual page carries the project's version in its title line.
  file(READ ${PROJECT_SOURCE_DIR}/docs/tarvel.1 page)
  string(REGEX REPLACE "\"tarvel [0-9][^\"]*\"" "\"tarvel ${PROJECT_VERSION}\"" page "${page}")
  file(WRITE ${tarvel_doc_dir}/tarvel.1 "${page}")
  tarvel_gzip(${tarvel_doc_dir}/tarvel.1 man_page)
  install(FILES ${man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

  tarvel_debian_copyright(${PROJECT_SOURCE_DIR}/LICENSE ${tarvel_doc_dir}/copyright)
  tarvel_debian_changelog(${PROJECT_SOURCE_DIR}/CHANGELOG.md ${tarvel_doc_dir}/changelog)
  tarvel_gzip(${tarvel_doc_dir}/changelog changelog)
  configure_file(${PROJECT_SOURCE_DIR}/README.md ${tarvel_doc_dir}/README.md COPYONLY)
  tarvel_gzip(${tarvel_doc_dir}/README.md readme_md)
  tarvel_plain_text_readme(${PROJECT_SOURCE_DIR}/README.md ${tarvel_doc_dir}/readme.txt "\n")
  tarvel_gzip(${tarvel_doc_dir}/readme.txt readme_txt)
  configure_file(${PROJECT_SOURCE_DIR}/docs/tarvel-report.schema.json ${tarvel_doc_dir}/tarvel-report.schema.json
                 COPYONLY)
  tarvel_gzip(${tarvel_doc_dir}/tarvel-report.schema.json report_schema)
  install(FILES ${tarvel_doc_dir}/copyright ${changelog} ${readme_md} ${readme_txt} ${report_schema}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tarvel)
else()
  tarvel_plain_text_readme(${PROJECT_SOURCE_DIR}/README.md ${tarvel_doc_dir}/readme.txt "\r\n")
  install(FILES README.md LICENSE ${tarvel_doc_dir}/readme.txt docs/tarvel-report.schema.json DESTINATION .)
endif()

set(CPACK_PACKAGE_NAME tarvel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The TARVEL developers")
set(CPACK_PACKAGE_CONTACT ${TARVEL_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "convert WMV files with VC-1 video to a VC-1 elementary stream")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_PACKAGE_FILE_NAME tarvel-${PROJECT_VERSION}-win64)
  else()
    set(CPACK_PACKAGE_FILE_NAME tarvel-${PROJECT_VERSION}-win32)
  endif()
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TARVEL_MAINTAINER})
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The completion file is loaded by the bash-completion package.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS bash-completion)
  string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "TARVEL reads an ASF container (a .wmv file) holding VC-1 Advanced Profile video\n"
      "(FourCC WVC1) and writes the video as a raw VC-1 elementary stream (SMPTE 421M)\n"
      "that plays and decodes as a plain .vc1 file: every frame behind its start code,\n"
      "the sequence and entry-point headers before key frames, with the file's frame\n"
      "rate and pixel aspect ratio written into them.\n"
      "\n"
      "It also reports the ASF header objects, the VC-1 headers field by field, every\n"
      "frame with its picture type, and a summary. It reads pipes, writes to pipes and\n"
      "handles files over 4 GiB.")
endif()

include(CPack)
