#pragma once

#include <QObject>

// Asks the update service for a newer version. Not built yet: the check asks nothing.
class UpdateHelper : public QObject
{
    Q_OBJECT

public:
    UpdateHelper(QObject* parent, bool offerUpdate);

    void checkVersion();

private:
    bool offerUpdate;
};
