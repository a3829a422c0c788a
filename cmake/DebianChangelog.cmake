# The Debian changelog of the native package, written from the <release> entries of the
# AppStream metadata, so that a version is typed in one place only:
#   cmake -DMETAINFO=file -DPACKAGE=name -DVERSION=version -DMAINTAINER="Name <mail>"
#         -DOUTPUT=changelog.gz -P DebianChangelog.cmake
# One entry per release, newest first as AppStream lists them; the release's English
# paragraphs and list items become the entry's items, "Release VERSION." when it has none.
# Fails when the newest release is not VERSION. Compressed with gzip -9n, as Debian wants it.
cmake_minimum_required(VERSION 3.25)

foreach(required METAINFO PACKAGE VERSION MAINTAINER OUTPUT)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "DebianChangelog.cmake needs -D${required}=...")
  endif()
endforeach()

# Items are wrapped to 80 columns: "  * " on the first line, four blanks after.
function(append_item out text)
  string(REGEX REPLACE "[ \t\r\n]+" " " text "${text}")
  string(STRIP "${text}" text)
  string(REPLACE "&lt${semicolon}" "<" text "${text}")
  string(REPLACE "&gt${semicolon}" ">" text "${text}")
  string(REPLACE "&quot${semicolon}" "\"" text "${text}")
  string(REPLACE "&apos${semicolon}" "'" text "${text}")
  string(REPLACE "&amp${semicolon}" "&" text "${text}")
  string(REPLACE " " ";" words "${text}")
  set(result "${${out}}")
  set(line "  *")
  foreach(word IN LISTS words)
    string(REPLACE "${semicolon}" ";" probe "${line} ${word}")
    string(LENGTH "${probe}" length)
    if(length GREATER 80 AND NOT line MATCHES "^ *\\*?$")
      string(APPEND result "${line}\n")
      set(line "    ${word}")
    else()
      string(APPEND line " ${word}")
    endif()
  endforeach()
  string(APPEND result "${line}\n")
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

file(READ "${METAINFO}" xml)
# List separators in the text would split it below.
set(semicolon "@QS_SEMICOLON@")
string(REPLACE ";" "${semicolon}" xml "${xml}")
string(REGEX REPLACE "<!--([^-]|-[^-])*-->" "" xml "${xml}")

set(changelog "")
set(newest "")
set(rest "${xml}")
while(TRUE)
  string(FIND "${rest}" "<release " start)
  if(start EQUAL -1)
    break()
  endif()
  string(SUBSTRING "${rest}" ${start} -1 rest)
  string(FIND "${rest}" ">" tag_end)
  math(EXPR tag_length "${tag_end} + 1")
  string(SUBSTRING "${rest}" 0 ${tag_length} tag)
  string(SUBSTRING "${rest}" ${tag_length} -1 rest)
  set(body "")
  if(NOT tag MATCHES "/>$")
    string(FIND "${rest}" "</release>" body_end)
    string(SUBSTRING "${rest}" 0 ${body_end} body)
    string(SUBSTRING "${rest}" ${body_end} -1 rest)
  endif()

  if(NOT tag MATCHES "version=\"([^\"]+)\"")
    message(FATAL_ERROR "${METAINFO}: a release without a version: ${tag}")
  endif()
  set(version "${CMAKE_MATCH_1}")
  if(NOT tag MATCHES "date=\"([0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9])")
    message(FATAL_ERROR "${METAINFO}: release ${version} has no date=\"YYYY-MM-DD\"")
  endif()
  set(date "${CMAKE_MATCH_1}")
  if(newest STREQUAL "")
    set(newest "${version}")
  endif()

  set(items "")
  string(REGEX MATCHALL "<(p|li)>[^<]*</(p|li)>" paragraphs "${body}")
  foreach(paragraph IN LISTS paragraphs)
    string(REGEX REPLACE "^<(p|li)>|</(p|li)>$" "" paragraph "${paragraph}")
    append_item(items "${paragraph}")
  endforeach()
  if(items STREQUAL "")
    append_item(items "Release ${version}.")
  endif()

  # RFC 5322 date, English names, noon UTC of the release day.
  execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC LC_ALL=C date -R -d "${date} 12:00"
                  OUTPUT_VARIABLE stamp OUTPUT_STRIP_TRAILING_WHITESPACE
                  COMMAND_ERROR_IS_FATAL ANY)
  if(NOT changelog STREQUAL "")
    string(APPEND changelog "\n")
  endif()
  string(APPEND changelog "${PACKAGE} (${version}) unstable; urgency=medium\n\n${items}\n"
                          " -- ${MAINTAINER}  ${stamp}\n")
endwhile()

if(NOT newest STREQUAL VERSION)
  message(FATAL_ERROR "${METAINFO}: the newest release is '${newest}', the project version is "
                      "${VERSION}; add a <release> for it first")
endif()

get_filename_component(output_dir "${OUTPUT}" DIRECTORY)
file(MAKE_DIRECTORY "${output_dir}")
string(REGEX REPLACE "\\.gz$" "" plain "${OUTPUT}")
string(REPLACE "${semicolon}" ";" changelog "${changelog}")
file(WRITE "${plain}" "${changelog}")
# -n: no name or time stamp in the header, so that the same text gives the same bytes.
execute_process(COMMAND gzip -9 -n -c "${plain}" OUTPUT_FILE "${OUTPUT}" COMMAND_ERROR_IS_FATAL ANY)
