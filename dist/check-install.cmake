# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the build into a scratch prefix and checks the layout a desktop needs.
set(prefix "${BUILD_DIR}/install-check")
file(REMOVE_RECURSE "${prefix}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}"
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${rc}")
endif()

set(expected
    "${PROGRAM_DIR}/harvix" "${PROGRAM_DIR}/harvix-cli" "${PROGRAM_DIR}/Help.txt"
    "${DATA_DIR}/applications/harvix.desktop"
    "${DATA_DIR}/icons/hicolor/32x32/apps/harvix.png"
    "${DATA_DIR}/icons/hicolor/256x256/apps/harvix.png"
    "${DATA_DIR}/metainfo/${APPSTREAM_ID}.metainfo.xml"
    "${MAN_DIR}/man1/harvix.1" "${MAN_DIR}/man1/harvix-cli.1")
foreach(f ${expected})
    if(NOT EXISTS "${prefix}/${f}")
        message(FATAL_ERROR "missing after install: ${f}")
    endif()
endforeach()

# The links on the PATH lead to the programs in the program folder, so that the program folder
# (where Help.txt lives) is found from the running executable.
foreach(p harvix harvix-cli)
    set(link "${prefix}/${BIN_DIR}/${p}")
    if(NOT IS_SYMLINK "${link}")
        message(FATAL_ERROR "${link} is not a link")
    endif()
    file(REAL_PATH "${link}" target)
    file(REAL_PATH "${prefix}/${PROGRAM_DIR}/${p}" wanted)
    if(NOT target STREQUAL wanted)
        message(FATAL_ERROR "${link} leads to ${target}, not ${wanted}")
    endif()
endforeach()

# Each program is installed once, into the program folder: nothing is installed on the PATH that a
# link then replaces.
file(STRINGS "${BUILD_DIR}/install_manifest.txt" installed)
foreach(f ${installed})
    if(f MATCHES "^${prefix}/${BIN_DIR}/")
        message(FATAL_ERROR "installed as a file on the PATH: ${f}")
    endif()
endforeach()

execute_process(COMMAND "${prefix}/${BIN_DIR}/harvix-cli" --help RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "installed harvix-cli --help failed: ${rc}")
endif()
file(REMOVE_RECURSE "${prefix}")
