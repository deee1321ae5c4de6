#include "engine/synclogging.h"

Q_LOGGING_CATEGORY(lcSync, "quorvane.sync", QtWarningMsg)
