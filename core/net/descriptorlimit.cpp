// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "core/net/descriptorlimit.h"

#ifndef _WIN32
#include <sys/resource.h>

#include <cstdio>
#endif

namespace corla {

namespace {

#ifdef __linux__
// With an unlimited hard limit the soft one may still go no higher than fs.nr_open.
rlim_t openFileCeiling(rlim_t hard)
{
    if (hard != RLIM_INFINITY)
        return hard;
    unsigned long long nrOpen = 0;
    if (FILE* f = std::fopen("/proc/sys/fs/nr_open", "r")) {
        if (std::fscanf(f, "%llu", &nrOpen) != 1)
            nrOpen = 0;
        std::fclose(f);
    }
    return nrOpen > 0 ? static_cast<rlim_t>(nrOpen) : hard;
}
#endif

} // namespace

bool raiseDescriptorLimit()
{
#ifdef __linux__
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return false;
    const rlim_t target = openFileCeiling(limit.rlim_max);
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= target)
        return true;
    limit.rlim_cur = target;
    return ::setrlimit(RLIMIT_NOFILE, &limit) == 0;
#else
    return true;
#endif
}

long long currentDescriptorLimit()
{
#ifndef _WIN32
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return -1;
    return static_cast<long long>(limit.rlim_cur);
#else
    return -1;
#endif
}

} // namespace corla
