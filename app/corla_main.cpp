// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "startup.h"

int main(int argc, char* argv[])
{
    return runWindowApplication(argc, argv);
}
