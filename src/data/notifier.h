#pragma once

#include <QObject>
#include <QString>

// The one hub through which the data layer announces changes of the book's data. Emitters and
// listeners only know the notifier; signals are delivered synchronously on the one thread.
class Notifier : public QObject
{
    Q_OBJECT

public:
    explicit Notifier(QObject* parent = nullptr);

    static Notifier* getInstance();

    void notifyListConditionChanged(const QString& condition);
    void notifyBillDataChanged();
    void notifyContentWidgetChanged();
    void notifyBookWidgetChanged();
    void notifyAccountDataChanged();
    void notifyBorrowerDataChanged();
    void notifyCategoryDataChanged();
    void notifyMemberDataChanged();
    void notifyMonthListChanged();

signals:
    void listConditionChanged(const QString& condition);
    void billDataChanged();
    void contentWidgetChanged();
    void bookWidgetChanged();
    void accountDataChanged();
    void borrowerDataChanged();
    void categoryDataChanged();
    void memberDataChanged();
    void monthListChanged();
};
