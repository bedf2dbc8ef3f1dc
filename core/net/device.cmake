# SPDX-License-Identifier: Apache-2.0
# SPDX-FileCopyrightText: 2026 The Corla developers
# Device records and their vocabulary, the logging categories and the usage-error helper of
# the three programs: QtCore only. A file of its own so that the fuzz build, which has no
# net layer otherwise, can bring it in for the plan fuzzer.
set(dir ${CMAKE_CURRENT_LIST_DIR})
add_library(corla_device STATIC ${dir}/devicetypes.cpp ${dir}/devicetypes.h ${dir}/device.cpp
    ${dir}/device.h ${dir}/logging.cpp ${dir}/logging.h ${dir}/usageerror.cpp ${dir}/usageerror.h)
target_link_libraries(corla_device PUBLIC corla_nethost Qt5::Core)
