#pragma once

#include <QLoggingCategory>

// The synchronisation and web-service requests: replies and failures (debug lines off by default).
Q_DECLARE_LOGGING_CATEGORY(lcSync)
