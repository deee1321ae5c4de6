#pragma once

#include <QObject>
#include <QString>

#include "data/mversion.h"

// Asks the web service for the newest release. When it is newer than this program, its record
// carries the digest and signature of its file, and the helper was made to offer it, the update
// dialog opens; otherwise the check stays silent, network failures included.
class UpdateHelper : public QObject {
    Q_OBJECT

public:
    UpdateHelper(QObject* parent, bool showDialog);

    // Sends one request; may be called again, each call with a helper of its own.
    void checkVersion();

signals:
    // The record has been filled from an answer (before any dialog opens).
    void versionChecked(MVersion* version);

public slots:
    void downloaded(const QString& text);

private:
    QObject* parentWidget;
    bool showDialog;
    MVersion* version;
};
