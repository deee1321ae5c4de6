#pragma once

#include <QObject>
#include <QString>

// The update service's answer: the newest release, its notes and where to download it.
class MVersion : public QObject
{
    Q_OBJECT

public:
    explicit MVersion(QObject* parent = nullptr);

    QString description;
    QString url1;
    QString url2;
    QString panurl;
    QString panreg;
    QString vername;
    int vercode = 0;
    // The release file's SHA-256 digest (hex) and the publisher's signature of it (base64).
    QString sha256;
    QString signature;
};
