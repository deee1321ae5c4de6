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
};
