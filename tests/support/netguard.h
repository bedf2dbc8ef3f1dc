#pragma once
// Unit tests that may send packets — anything that builds a discovery adapter (the main
// window, the settings pane, the configuration dialog), a port check or an echo — run only
// in the private network namespace that scripts/netns-run gives ctest (or inside the lab),
// where nothing can reach the machine's own network. Run by hand outside it, they fail at
// once instead of broadcasting.

#include <QByteArray>
#include <QTest>

#include <unistd.h>

// True inside the namespace that scripts/netns-run or scripts/lab marked as ours.
inline bool inPrivateNetns()
{
    char link[64] = {};
    const ssize_t n = ::readlink("/proc/self/ns/net", link, sizeof link - 1);
    const QByteArray mark = qgetenv("CORLA_IN_NETNS");
    return n > 0 && !mark.isEmpty() && mark == QByteArray(link, static_cast<int>(n));
}

#define CORLA_REQUIRE_PRIVATE_NETNS()                                                              \
    QVERIFY2(inPrivateNetns(), "this test may send packets: run it through scripts/netns-run "     \
                               "(make test does), never in the machine's own network namespace")
