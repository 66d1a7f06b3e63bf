# Makes a text file of the Windows archive from its source in the tree, so
# that the two never drift apart:
#   cmake -DINPUT=<file> -DOUTPUT=<file> [-DMARKDOWN=ON] -P windows_text.cmake
# Every line ends in CR LF, as Notepad and cmd expect. With MARKDOWN, the
# Markdown of the guide becomes plain text that reads well in Notepad:
# headings are underlined, code blocks indented by four spaces, and the
# marks for code, emphasis, links, pictures and comments are dropped; the
# text starts with a UTF-8 byte order mark, so that every Notepad reads
# names such as Модели right. The output appears in one step, complete.
cmake_minimum_required(VERSION 3.25)

if(NOT DEFINED INPUT OR NOT DEFINED OUTPUT)
  message(FATAL_ERROR "windows_text.cmake: give -DINPUT=<file> and -DOUTPUT=<file>")
endif()
file(READ "${INPUT}" text)

# CMake lists split at semicolons and stop splitting inside unbalanced square
# brackets: both stand in as control characters until the text is joined.
string(ASCII 1 semicolon)
string(ASCII 2 open_bracket)
string(ASCII 3 close_bracket)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE ";" "${semicolon}" text "${text}")
string(REPLACE "[" "${open_bracket}" text "${text}")
string(REPLACE "]" "${close_bracket}" text "${text}")
string(REGEX REPLACE "\n$" "" text "${text}")
string(REPLACE "\n" ";" lines "${text}")

set(result "")
if(MARKDOWN)
  set(in_code OFF)
  foreach(line IN LISTS lines)
    if(line MATCHES "^( *)```")
      if(in_code)
        set(in_code OFF)
      else()
        set(in_code ON)
      endif()
      continue()
    endif()
    if(in_code)
      if(line STREQUAL "")
        list(APPEND result "")
      else()
        list(APPEND result "    ${line}")
      endif()
      continue()
    endif()
    # Comments (places kept for later additions) and pictures have no text.
    if(line MATCHES "^ *<!--.*--> *$" OR line MATCHES "^ *!${open_bracket}")
      continue()
    endif()
    if(line MATCHES "^(#+) +(.*)$")
      set(title "${CMAKE_MATCH_2}")
      string(LENGTH "${CMAKE_MATCH_1}" level)
      string(REGEX REPLACE "`" "" title "${title}")
      string(LENGTH "${title}" width)
      if(level EQUAL 1)
        string(REPEAT "=" ${width} underline)
      elseif(level EQUAL 2)
        string(REPEAT "-" ${width} underline)
      else()
        string(REPEAT "." ${width} underline)
      endif()
      list(APPEND result "${title}" "${underline}")
      continue()
    endif()
    string(REGEX REPLACE "`([^`]*)`" "\\1" line "${line}")
    string(REGEX REPLACE "\\*\\*([^*]*)\\*\\*" "\\1" line "${line}")
    string(REGEX REPLACE "${open_bracket}([^${close_bracket}]*)${close_bracket}\\([^)]*\\)" "\\1"
           line "${line}")
    list(APPEND result "${line}")
  endforeach()
  if(in_code)
    message(FATAL_ERROR "windows_text.cmake: ${INPUT}: a code block is not closed")
  endif()
else()
  set(result "${lines}")
endif()

string(REPLACE ";" "\r\n" text "${result}")
string(APPEND text "\r\n")
string(REPLACE "${semicolon}" ";" text "${text}")
string(REPLACE "${open_bracket}" "[" text "${text}")
string(REPLACE "${close_bracket}" "]" text "${text}")
if(MARKDOWN)
  string(ASCII 239 187 191 byte_order_mark)
  string(PREPEND text "${byte_order_mark}")
endif()

file(WRITE "${OUTPUT}.part" "${text}")
file(RENAME "${OUTPUT}.part" "${OUTPUT}")
