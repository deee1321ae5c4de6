#pragma once

#include <QObject>
#include <QString>

// The synchronisation of the open book with the user's online account. Not built yet: a
// synchronisation starts and ends at once with an error that says so.
class SyncHelper : public QObject
{
    Q_OBJECT

public:
    static SyncHelper* getInstance();

    void sync();

signals:
    void syncStarted();
    void syncFinished();
    void syncError(int code, const QString& message);

private:
    explicit SyncHelper(QObject* parent = nullptr);
};
