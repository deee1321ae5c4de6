#pragma once

#include <QString>

// The web service's addresses, relative to Constants::getBaseUrl().
namespace ServicePaths {
inline const QString UserId = QStringLiteral("sync/userid.php");
inline const QString Sync = QStringLiteral("sync/syncpc2.php");
inline const QString Version = QStringLiteral("client/pc.php");
inline const QString Feedback = QStringLiteral("client/feedback.php");
} // namespace ServicePaths
