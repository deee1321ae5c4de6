#include "notifierrecorder.h"

#include "data/notifier.h"

NotifierRecorder::NotifierRecorder()
{
    Notifier* notifier = Notifier::getInstance();
    const auto record = [this](const char* name) { return [this, name] { signalList << QString::fromLatin1(name); }; };
    connect(notifier, &Notifier::accountDataChanged, this, record("account"));
    connect(notifier, &Notifier::borrowerDataChanged, this, record("borrower"));
    connect(notifier, &Notifier::categoryDataChanged, this, record("category"));
    connect(notifier, &Notifier::memberDataChanged, this, record("member"));
    connect(notifier, &Notifier::billDataChanged, this, record("bill"));
    connect(notifier, &Notifier::monthListChanged, this, record("months"));
    connect(notifier, &Notifier::contentWidgetChanged, this, record("content widget"));
    connect(notifier, &Notifier::bookWidgetChanged, this, record("book widget"));
    connect(notifier, &Notifier::listConditionChanged, this,
        [this](const QString& condition) { signalList << QStringLiteral("condition: ") + condition; });
}
