# cmake/windows_text.cmake, which makes README.txt of the Windows zip from
# docs/modding.md, on small texts whose result is known:
#   cmake -DGENERATOR=<windows_text.cmake> -DSCRATCH=<folder> -P windows_text_test.cmake
cmake_minimum_required(VERSION 3.25)

string(ASCII 239 187 191 bom)
file(MAKE_DIRECTORY "${SCRATCH}")

# Runs the generator on `input` and checks its output against `expected`, or,
# when `expected` is FAIL, that it fails and leaves no output.
function(check name markdown input expected)
  set(in "${SCRATCH}/${name}.in")
  set(out "${SCRATCH}/${name}.out")
  file(REMOVE "${out}")
  file(WRITE "${in}" "${input}")
  execute_process(
    COMMAND ${CMAKE_COMMAND} -DINPUT=${in} -DOUTPUT=${out} -DMARKDOWN=${markdown} -P ${GENERATOR}
    RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
  if(expected STREQUAL "FAIL")
    if(status EQUAL 0 OR EXISTS "${out}")
      message(SEND_ERROR "${name}: succeeded, or left ${out}")
    endif()
    return()
  endif()
  if(NOT status EQUAL 0)
    message(SEND_ERROR "${name}: the generator failed (${status})")
    return()
  endif()
  # Compared as bytes: reading as text would drop the CRs that are checked.
  file(WRITE "${out}.expected" "${expected}")
  file(READ "${out}" got HEX)
  file(READ "${out}.expected" wanted HEX)
  if(NOT got STREQUAL wanted)
    message(SEND_ERROR "${name}:\n--- got\n${got}\n--- expected\n${wanted}")
  endif()
endfunction()

check(headings_are_underlined_to_their_width ON
  "# Title\n\n## The `--to` option\n\n### Deeper\n"
  "${bom}Title\r\n=====\r\n\r\nThe --to option\r\n---------------\r\n\r\nDeeper\r\n......\r\n")

check(code_blocks_are_indented_and_lose_their_fences ON
  "Run:\n\n```\nC:\\Tools> cubewright.exe a.csv b.xml\n\nnext\n```\n\n2. Step:\n\n   ```\n   cubewright --to csv a.xml\n   ```\n"
  "${bom}Run:\r\n\r\n    C:\\Tools> cubewright.exe a.csv b.xml\r\n\r\n    next\r\n\r\n2. Step:\r\n\r\n       cubewright --to csv a.xml\r\n")

check(inline_marks_links_pictures_and_comments_go ON
  "Use `-v` and **keep a copy**; see [the guide](docs/modding.md).\n![rifle](rifle.png)\n<!-- a place kept -->\nend\n"
  "${bom}Use -v and keep a copy; see the guide.\r\nend\r\n")

check(code_keeps_its_marks ON
  "```\ncubewright [options] `input` **x** [a](b)\n```\n"
  "${bom}    cubewright [options] `input` **x** [a](b)\r\n")

check(semicolons_and_unbalanced_brackets_survive ON
  "a; b [c\nd] e;; f\n"
  "${bom}a; b [c\r\nd] e;; f\r\n")

check(crlf_input_is_not_doubled ON
  "one\r\ntwo\r\n"
  "${bom}one\r\ntwo\r\n")

check(plain_text_only_gets_crlf OFF
  "@echo off\nset \"x=%~1\"; `kept` [kept\n\ngoto :eof\n"
  "@echo off\r\nset \"x=%~1\"; `kept` [kept\r\n\r\ngoto :eof\r\n")

check(an_unclosed_code_block_fails ON "text\n```\ncode\n" FAIL)
