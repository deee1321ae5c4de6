#pragma once

#include <QObject>
#include <QStringList>

// Records every Notifier signal in the order it arrives, by short name ("account", "borrower",
// "category", "member", "bill", "months", "condition: <text>").
class NotifierRecorder : public QObject
{
    Q_OBJECT

public:
    NotifierRecorder();

    QStringList signalList;
    int count(const QString& name) const { return signalList.count(name); }
    void clear() { signalList.clear(); }
};
