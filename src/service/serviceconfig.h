#pragma once

#include <QJsonObject>
#include <QString>

// What a developer or a test may change while the service runs: a small JSON file, read again at
// every request, so that a change applies to the next request. Every key is optional:
//   "update":    fields of the update record client/pc.php answers, over the defaults (the program's
//                own version, so no update is offered); a release's record carries the "sha256" and
//                "signature" of its file that quorvane-release prints, without which the program
//                does not offer it;
//   "installer": {"size": bytes, "script": shell lines} of the installer download, a shell script
//                that runs the lines (none by default) and is padded to the size;
//   "panLink":   the address the cloud-disk page links to.
// "{base}" in a text stands for the service's own address, e.g. "{base}r302/download/quorvane-setup.exe".
struct ServiceConfig {
    QJsonObject update;
    // The file gave an "update" record of its own (which should carry "sha256" and "signature").
    bool updateConfigured = false;
    qint64 installerSize = 0;
    QString installerScript;
    QString panLink;

    // The configuration in the file at path (the defaults where it is missing or unreadable).
    static ServiceConfig load(const QString& path, const QString& baseUrl);

    // Paths of the download the update record points to, of the cloud-disk page and of the health
    // check (what the client asks for itself is in ServicePaths).
    static const char* const installerPath;
    static const char* const panPath;
    static const char* const healthPath;
    // The update record the service gives by default: the program's own release.
    static const int versionCode;
    static const char* const versionName;
};
