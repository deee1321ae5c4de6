#pragma once

#include <QLoggingCategory>

// The synchronisation and web-service requests: replies and failures. Only warnings show by default;
// what the user is told in a box anyway (a refused request, an ignored row) is an info line, switched
// on with QT_LOGGING_RULES="quorvane.sync.info=true".
Q_DECLARE_LOGGING_CATEGORY(lcSync)
