# Runs the fuzzer for a bounded time from the committed seeds; fails on any
# finding. New inputs go to a scratch corpus, never into the seeds.
# Inputs: FUZZER, SEEDS, DICTIONARY, WORK_DIR, SECONDS, MAX_LEN.
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}/corpus" "${WORK_DIR}/artifacts")
execute_process(
  COMMAND "${FUZZER}" -max_total_time=${SECONDS} -max_len=${MAX_LEN} -timeout=10
    -dict=${DICTIONARY} -print_final_stats=1 -artifact_prefix=${WORK_DIR}/artifacts/
    "${WORK_DIR}/corpus" "${SEEDS}"
  RESULT_VARIABLE status)
file(GLOB findings "${WORK_DIR}/artifacts/*")
if(NOT status EQUAL 0 OR findings)
  message(FATAL_ERROR "the fuzzer exited with ${status}; findings: ${findings}")
endif()
