#include <QMetaMethod>
#include <QSignalSpy>
#include <QTest>
#include <memory>
#include <vector>

#include "data/notifier.h"

class TestNotifier : public QObject
{
    Q_OBJECT

private slots:
    void oneInstanceWithoutParent();
    void signalsInDeclarationOrder();
    void eachOperationEmitsItsOwnSignalOnce_data();
    void eachOperationEmitsItsOwnSignalOnce();
};

void TestNotifier::oneInstanceWithoutParent()
{
    Notifier* first = Notifier::getInstance();
    QVERIFY(first);
    QCOMPARE(Notifier::getInstance(), first);
    QCOMPARE(first->parent(), nullptr);
}

void TestNotifier::signalsInDeclarationOrder()
{
    const QMetaObject* meta = &Notifier::staticMetaObject;
    QCOMPARE(QString(meta->className()), QString("Notifier"));
    QStringList signatures;
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        const QMetaMethod method = meta->method(i);
        if (method.methodType() == QMetaMethod::Signal)
            signatures << QString::fromLatin1(method.methodSignature());
    }
    QCOMPARE(signatures,
        QStringList({ "listConditionChanged(QString)", "billDataChanged()", "contentWidgetChanged()",
            "bookWidgetChanged()", "accountDataChanged()", "borrowerDataChanged()", "categoryDataChanged()",
            "memberDataChanged()", "monthListChanged()" }));
}

namespace {
struct Operation {
    const char* name;
    void (*call)(Notifier*);
    const char* signal;
};

const Operation operations[] = {
    { "condition", [](Notifier* n) { n->notifyListConditionChanged(" 1=1 "); }, "listConditionChanged(QString)" },
    { "bills", [](Notifier* n) { n->notifyBillDataChanged(); }, "billDataChanged()" },
    { "content widget", [](Notifier* n) { n->notifyContentWidgetChanged(); }, "contentWidgetChanged()" },
    { "book widget", [](Notifier* n) { n->notifyBookWidgetChanged(); }, "bookWidgetChanged()" },
    { "accounts", [](Notifier* n) { n->notifyAccountDataChanged(); }, "accountDataChanged()" },
    { "borrowers", [](Notifier* n) { n->notifyBorrowerDataChanged(); }, "borrowerDataChanged()" },
    { "categories", [](Notifier* n) { n->notifyCategoryDataChanged(); }, "categoryDataChanged()" },
    { "members", [](Notifier* n) { n->notifyMemberDataChanged(); }, "memberDataChanged()" },
    { "months", [](Notifier* n) { n->notifyMonthListChanged(); }, "monthListChanged()" },
};
} // namespace

void TestNotifier::eachOperationEmitsItsOwnSignalOnce_data()
{
    QTest::addColumn<int>("index");
    for (int i = 0; i < int(std::size(operations)); ++i)
        QTest::newRow(operations[i].name) << i;
}

void TestNotifier::eachOperationEmitsItsOwnSignalOnce()
{
    QFETCH(int, index);
    Notifier* notifier = Notifier::getInstance();
    const QMetaObject* meta = notifier->metaObject();
    std::vector<std::unique_ptr<QSignalSpy>> spies;
    QStringList names;
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        const QMetaMethod method = meta->method(i);
        if (method.methodType() != QMetaMethod::Signal)
            continue;
        spies.push_back(std::make_unique<QSignalSpy>(notifier, method));
        names << QString::fromLatin1(method.methodSignature());
    }

    operations[index].call(notifier);

    QStringList fired;
    for (size_t i = 0; i < spies.size(); ++i) {
        for (int n = 0; n < spies[i]->count(); ++n)
            fired << names.at(int(i));
    }
    QCOMPARE(fired, QStringList(QString::fromLatin1(operations[index].signal)));
    if (index == 0)
        QCOMPARE(spies[0]->first().first().toString(), QString(" 1=1 "));
}

QTEST_GUILESS_MAIN(TestNotifier)
#include "tst_notifier.moc"
