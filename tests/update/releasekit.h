#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include "releasesigner.h"

class MVersion;

// A key pair made for one test: while it lives, the program's classes trust it in place of the
// built-in release key (test builds only), and the test signs its releases with it.
class ThrowawayReleaseKey {
public:
    ThrowawayReleaseKey();
    ~ThrowawayReleaseKey();
    ThrowawayReleaseKey(const ThrowawayReleaseKey&) = delete;
    ThrowawayReleaseKey& operator=(const ThrowawayReleaseKey&) = delete;

    // The "sha256" and "signature" of a release file with these bytes, as the update record carries
    // them.
    QJsonObject sign(const QByteArray& bytes) const;
    // The same with another secret key.
    static QJsonObject signWith(const QByteArray& secretKey, const QByteArray& bytes);

    const ReleaseSigner::KeyPair keys;
};

// Puts a record's "sha256" and "signature" into version.
void setSignature(MVersion& version, const QJsonObject& signature);

// The body of one GET of url, redirections not followed; empty when it fails.
QByteArray fetchBytes(const QString& url);

// Runs quorvane-release with arguments; its exit code, and its standard output and error output.
struct ToolRun {
    int exitCode = -1;
    QByteArray output;
    QString errors;
};
ToolRun runReleaseTool(const QStringList& arguments);
