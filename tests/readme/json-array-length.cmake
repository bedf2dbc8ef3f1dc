# SPDX-License-Identifier: Apache-2.0
# SPDX-FileCopyrightText: 2026 The Corla developers
# cmake -DFILE=PATH -P json-array-length.cmake
# Prints the number of elements of the JSON array in FILE; fails on anything that is not a
# JSON array. CMake is on every machine that builds Corla, a JSON tool may not be.
file(READ "${FILE}" text)
string(JSON type ERROR_VARIABLE error TYPE "${text}")
if(error)
    message(FATAL_ERROR "${FILE}: not JSON: ${error}")
endif()
if(NOT type STREQUAL "ARRAY")
    message(FATAL_ERROR "${FILE}: a JSON ${type}, not an array")
endif()
string(JSON length LENGTH "${text}")
message("${length}")
