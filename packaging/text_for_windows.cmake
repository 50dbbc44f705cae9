# Writes the Windows zip's text files: the man page rendered as plain text
# (packrift.txt) and the README, both with CR LF line ends.
# Inputs: MANDOC, MAN_PAGE, README, OUT_DIR.
execute_process(COMMAND "${MANDOC}" -T ascii -O width=78 "${MAN_PAGE}"
  OUTPUT_VARIABLE page RESULT_VARIABLE status ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "mandoc could not render ${MAN_PAGE}: ${errors}")
endif()
# The terminal's bold and underline are a character, a backspace and a
# character; plain text keeps the last of the three.
string(ASCII 8 backspace)
string(REGEX REPLACE "[^\n]${backspace}" "" page "${page}")
string(REPLACE "\n" "\r\n" page "${page}")
file(WRITE "${OUT_DIR}/packrift.txt" "${page}")

file(READ "${README}" readme)
string(REPLACE "\n" "\r\n" readme "${readme}")
file(WRITE "${OUT_DIR}/README.md" "${readme}")
