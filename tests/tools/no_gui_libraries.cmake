# SPDX-License-Identifier: Apache-2.0
# SPDX-FileCopyrightText: 2026 The Corla developers
# cmake -DBINARY=<file> -P no_gui_libraries.cmake
# Fails when the binary needs Qt's GUI or widget library: corla-cli must run on machines
# without a display stack.
execute_process(COMMAND readelf -d "${BINARY}"
    RESULT_VARIABLE status OUTPUT_VARIABLE dynamic ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "readelf -d ${BINARY} failed: ${errors}")
endif()
string(REGEX MATCHALL "\\(NEEDED\\)[^\n]*" needed "${dynamic}")
# An empty list would pass anything: Qt's core library must be there to be looked at.
if(NOT needed MATCHES "libQt5Core")
    message(FATAL_ERROR "no NEEDED entry for libQt5Core in:\n${dynamic}")
endif()
foreach(library libQt5Gui libQt5Widgets)
    if(needed MATCHES "\\[${library}[.]")
        message(FATAL_ERROR "${BINARY} needs ${library}:\n${needed}")
    endif()
endforeach()
