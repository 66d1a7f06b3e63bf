# Runs one fuzzer for a fixed time on a fresh copy of its seed corpus:
#   cmake -D FUZZER=... -D SEED_CORPUS=... -D DICTIONARY=... -D WORK_DIR=...
#         -D SECONDS=... [-D MAX_LEN=...] -P run_fuzzer.cmake
# New inputs go to WORK_DIR/corpus; an input that fails a check is saved in
# WORK_DIR as crash-*, leak-* or timeout-*, and running the fuzzer with that
# file as its argument reproduces the failure.
if(NOT MAX_LEN)
  set(MAX_LEN 8192)
endif()
file(REMOVE_RECURSE ${WORK_DIR}/corpus)
file(MAKE_DIRECTORY ${WORK_DIR}/corpus)
file(COPY ${SEED_CORPUS}/ DESTINATION ${WORK_DIR}/corpus)
execute_process(
  COMMAND ${FUZZER} -max_total_time=${SECONDS} -max_len=${MAX_LEN} -timeout=10 -rss_limit_mb=1024
          -print_final_stats=1 -dict=${DICTIONARY} -artifact_prefix=${WORK_DIR}/
          ${WORK_DIR}/corpus
  WORKING_DIRECTORY ${WORK_DIR}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(GLOB findings ${WORK_DIR}/crash-* ${WORK_DIR}/leak-* ${WORK_DIR}/timeout-*
       ${WORK_DIR}/oom-*)
  message(FATAL_ERROR "${FUZZER} failed (${result}); reproduce with: ${FUZZER} ${findings}")
endif()
