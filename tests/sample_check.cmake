# Splits the bundled sample with packrift and compares each output's SHA-256
# with the digests of ffmpeg's stream copy recorded beside the sample.
# Inputs: PACKRIFT, SAMPLE_DIR, WORK_DIR; EMULATOR optionally runs PACKRIFT.
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
file(COPY "${SAMPLE_DIR}/sample.vob" DESTINATION "${WORK_DIR}")

foreach(args IN ITEMS "-video;0;-audio;0" "-audio;1")
  execute_process(COMMAND ${EMULATOR} "${PACKRIFT}" sample.vob ${args}
    WORKING_DIRECTORY "${WORK_DIR}" RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE errors)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "packrift sample.vob ${args} exited with ${status}: ${errors}")
  endif()
endforeach()

file(STRINGS "${SAMPLE_DIR}/sample.sha256" lines)
list(LENGTH lines expected_count)
if(expected_count LESS 3)
  message(FATAL_ERROR "sample.sha256 lists ${expected_count} outputs, expected 3")
endif()
foreach(line IN LISTS lines)
  string(REGEX MATCH "^([0-9a-f]+)  (.+)$" matched "${line}")
  set(expected "${CMAKE_MATCH_1}")
  set(name "${CMAKE_MATCH_2}")
  file(SHA256 "${WORK_DIR}/${name}" actual)
  if(NOT actual STREQUAL expected)
    message(FATAL_ERROR "${name}: packrift wrote ${actual}, ffmpeg's stream copy is ${expected}")
  endif()
  message(STATUS "${name}: ${actual} matches")
endforeach()
