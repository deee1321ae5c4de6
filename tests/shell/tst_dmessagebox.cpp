#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "modalanswerer.h"
#include "widgets/dmessagebox.h"

class TestDMessageBox : public QObject {
    Q_OBJECT

private slots:
    void statics_data();
    void statics();
    void looksLikeEveryDialog();
};

void TestDMessageBox::statics_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("shownTitle");
    QTest::addColumn<QStringList>("shownButtons");
    QTest::addColumn<int>("result");

    const QStringList ok { QStringLiteral("确定") };
    const QStringList yesNo { QStringLiteral("是"), QStringLiteral("否") };
    const QString text = QStringLiteral("确定要删除吗？");

    QTest::newRow("question: 是") << "question" << text << "是"
                                  << "提问" << yesNo << 1;
    QTest::newRow("question: 否") << "question" << text << "否"
                                  << "提问" << yesNo << 0;
    QTest::newRow("question: Escape") << "question" << text << "escape"
                                      << "提问" << yesNo << 0;
    QTest::newRow("question: strip close") << "question" << text << "strip"
                                           << "提问" << yesNo << 0;
    QTest::newRow("question: window closed") << "question" << text << "window"
                                             << "提问" << yesNo << 0;
    QTest::newRow("error: 确定") << "error" << text << "确定"
                                 << "错误" << ok << 1;
    QTest::newRow("error: Escape") << "error" << text << "escape"
                                   << "错误" << ok << 0;
    QTest::newRow("error: strip close") << "error" << text << "strip"
                                        << "错误" << ok << 0;
    QTest::newRow("information: 确定") << "information" << text << "确定"
                                       << "提示" << ok << 1;
    QTest::newRow("information: Return") << "information" << text << "return"
                                         << "提示" << ok << 1;
    QTest::newRow("information: strip close") << "information" << text << "strip"
                                              << "提示" << ok << 0;
    QTest::newRow("information: empty text still waits") << "information" << QString("") << "确定"
                                                         << "提示" << ok << 1;
}

void TestDMessageBox::statics()
{
    QFETCH(QString, kind);
    QFETCH(QString, text);
    QFETCH(QString, answer);
    QFETCH(QString, shownTitle);
    QFETCH(QStringList, shownButtons);
    QFETCH(int, result);

    QStringList buttons;
    ModalAnswerer boxes;
    boxes.expect(ModalAnswerer::box(shownTitle, text), [&buttons, answer](QWidget* modal) {
        buttons = ModalAnswerer::buttonTextsOf(modal);
        ModalAnswerer::named(answer)(modal);
    });

    int got = -1;
    if (kind == QLatin1String("question"))
        got = DMessageBox::question(nullptr, QStringLiteral("提问"), text);
    else if (kind == QLatin1String("error"))
        got = DMessageBox::error(nullptr, text);
    else
        got = DMessageBox::information(nullptr, QStringLiteral("提示"), text);

    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(got, result);
    QCOMPARE(buttons, shownButtons);
}

void TestDMessageBox::looksLikeEveryDialog()
{
    // The style sheet reaches dialogs through this property; the strip replaces the system frame.
    DMessageBox box(nullptr, QStringLiteral("标题"), QStringLiteral("正文"));
    QCOMPARE(box.property("style").toString(), QStringLiteral("dialog"));
    QVERIFY(box.windowFlags().testFlag(Qt::FramelessWindowHint));
    QCOMPARE(box.windowType(), Qt::Dialog);
    QCOMPARE(box.findChild<QLabel*>(QStringLiteral("tlTitle"))->text(), QStringLiteral("标题"));
    QCOMPARE(box.findChild<QLabel*>(QStringLiteral("tlText"))->text(), QStringLiteral("正文"));

    // Extra buttons can be added and retitled, and they end the box through the button box.
    box.setStandardButtons(QDialogButtonBox::Ok);
    QPushButton* cancel = box.addButton(QDialogButtonBox::Cancel);
    box.setButtonText(QDialogButtonBox::Cancel, QStringLiteral("取消"));
    QCOMPARE(cancel->text(), QStringLiteral("取消"));
    ModalAnswerer boxes;
    boxes.expect(QStringLiteral("标题"), QStringLiteral("正文"), QStringLiteral("取消"));
    QCOMPARE(box.exec(), 0);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
}

QTEST_MAIN(TestDMessageBox)
#include "tst_dmessagebox.moc"
