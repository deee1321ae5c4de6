#include "data/notifier.h"
#include "data/billindex.h"
#include "data/logging.h"

#include <QDebug>

namespace {
Notifier* instance = nullptr;
}

Notifier::Notifier(QObject* parent)
    : QObject(parent)
{
}

Notifier* Notifier::getInstance()
{
    if (!instance)
        instance = new Notifier(nullptr);
    return instance;
}

void Notifier::notifyListConditionChanged(const QString& condition)
{
    emit listConditionChanged(condition);
}

void Notifier::notifyBillDataChanged()
{
    qCDebug(lcNotifier, "Notifier: bill data changed");
    // Bills changed in a way the bill records did not follow (SQL of its own): what is kept about
    // them is read again, so that every listener sees the book as it is now.
    if (!BillIndex::isAnnouncing())
        BillIndex::forget();
    emit billDataChanged();
}

void Notifier::notifyContentWidgetChanged()
{
    emit contentWidgetChanged();
}

void Notifier::notifyBookWidgetChanged()
{
    emit bookWidgetChanged();
}

void Notifier::notifyAccountDataChanged()
{
    emit accountDataChanged();
}

void Notifier::notifyBorrowerDataChanged()
{
    emit borrowerDataChanged();
}

void Notifier::notifyCategoryDataChanged()
{
    emit categoryDataChanged();
}

void Notifier::notifyMemberDataChanged()
{
    emit memberDataChanged();
}

void Notifier::notifyMonthListChanged()
{
    qCDebug(lcNotifier, "Notifier: month list changed");
    emit monthListChanged();
}
