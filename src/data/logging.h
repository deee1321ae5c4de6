#pragma once

#include <QLoggingCategory>

// The program's own log output. Debug lines (every statement, every change signal) are off unless
// a developer switches them on, e.g. QT_LOGGING_RULES="quorvane.*.debug=true"; warnings stay on.
Q_DECLARE_LOGGING_CATEGORY(lcSql)
Q_DECLARE_LOGGING_CATEGORY(lcNotifier)
