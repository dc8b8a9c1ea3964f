# SPDX-License-Identifier: GPL-3.0-or-later
# Turns the UTF-8 manual into Help.txt as the program reads it: CR LF line ends, CP932.
# Usage: cmake -DINPUT=<utf-8 file> -DOUTPUT=<Help.txt> -P helptocp932.cmake
file(READ "${INPUT}" text)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
set(crlf_file "${OUTPUT}.crlf")
file(WRITE "${crlf_file}" "${text}")
find_program(ICONV iconv REQUIRED)
execute_process(COMMAND "${ICONV}" -f UTF-8 -t CP932 "${crlf_file}"
                OUTPUT_FILE "${OUTPUT}.tmp" RESULT_VARIABLE result ERROR_VARIABLE error)
file(REMOVE "${crlf_file}")
if(NOT result EQUAL 0)
    file(REMOVE "${OUTPUT}.tmp")
    message(FATAL_ERROR "Help.txt: the manual holds text that CP932 cannot store: ${error}")
endif()
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
