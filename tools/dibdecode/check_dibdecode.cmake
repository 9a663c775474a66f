# Runs dibdecode once and checks the outcome:
#   cmake -DTOOL=dibdecode -DINPUT=in -DOUTPUT=out.png -DEXPECT=... -P check_dibdecode.cmake
# EXPECT "png WxH": exit 0, nothing on stderr, a PNG file of that size.
# Any other EXPECT: exit 1, no output file, and one stderr line naming the input and ending in
# EXPECT.
file(REMOVE "${OUTPUT}")
execute_process(COMMAND "${TOOL}" "${INPUT}" "${OUTPUT}" RESULT_VARIABLE rc ERROR_VARIABLE err)

if(EXPECT MATCHES "^png ([0-9]+)x([0-9]+)$")
  set(want "${CMAKE_MATCH_1}x${CMAKE_MATCH_2}")
  if(NOT rc EQUAL 0 OR NOT err STREQUAL "")
    message(FATAL_ERROR "dibdecode exited with ${rc}: ${err}")
  endif()
  file(READ "${OUTPUT}" signature LIMIT 8 HEX)
  if(NOT signature STREQUAL "89504e470d0a1a0a")
    message(FATAL_ERROR "${OUTPUT} is not a PNG file")
  endif()
  # The IHDR chunk holds the width and height, big-endian, 16 bytes into the file.
  file(READ "${OUTPUT}" w LIMIT 4 OFFSET 16 HEX)
  file(READ "${OUTPUT}" h LIMIT 4 OFFSET 20 HEX)
  math(EXPR w "0x${w}")
  math(EXPR h "0x${h}")
  if(NOT "${w}x${h}" STREQUAL want)
    message(FATAL_ERROR "${OUTPUT} is ${w}x${h}, want ${want}")
  endif()
else()
  if(NOT rc EQUAL 1)
    message(FATAL_ERROR "dibdecode exited with ${rc}, want 1")
  endif()
  if(EXISTS "${OUTPUT}")
    message(FATAL_ERROR "dibdecode wrote ${OUTPUT} for an input it refused")
  endif()
  set(line "dibdecode: cannot decode ${INPUT}: ${EXPECT}\n")
  if(NOT err STREQUAL line)
    message(FATAL_ERROR "stderr is\n${err}want\n${line}")
  endif()
endif()
