#include "data/logging.h"

Q_LOGGING_CATEGORY(lcSql, "quorvane.sql", QtInfoMsg)
Q_LOGGING_CATEGORY(lcNotifier, "quorvane.notifier", QtInfoMsg)
