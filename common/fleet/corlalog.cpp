#include "corlalog.h"

Q_LOGGING_CATEGORY(corlaDiscovery, "corla.discovery")
Q_LOGGING_CATEGORY(corlaNet, "corla.net")
Q_LOGGING_CATEGORY(corlaUi, "corla.ui")
