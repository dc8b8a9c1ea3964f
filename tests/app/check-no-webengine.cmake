# SPDX-License-Identifier: GPL-3.0-or-later
# The program must start without Qt WebEngine: the simple browser loads it on first use.
execute_process(COMMAND ldd "${PROGRAM}" OUTPUT_VARIABLE libraries RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "ldd ${PROGRAM} failed: ${rc}")
endif()
if(NOT libraries MATCHES "libQt6Widgets")
    message(FATAL_ERROR "ldd gave no Qt libraries for ${PROGRAM}:\n${libraries}")
endif()
if(libraries MATCHES "WebEngine")
    message(FATAL_ERROR "${PROGRAM} loads Qt WebEngine at start:\n${libraries}")
endif()
# Nor does it need a private Qt symbol to start: the browser module looks up the one it needs.
execute_process(COMMAND nm -D --undefined-only "${PROGRAM}" OUTPUT_VARIABLE symbols
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "nm -D ${PROGRAM} failed: ${rc}")
endif()
if(symbols MATCHES "qt_gl_")
    message(FATAL_ERROR "${PROGRAM} needs a private Qt symbol at load time:\n${symbols}")
endif()
