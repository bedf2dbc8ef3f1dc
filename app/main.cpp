// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "app/startup.h"

using namespace corla;

int main(int argc, char* argv[])
{
    return runWindowApplication(argc, argv);
}
