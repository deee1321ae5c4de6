// The test kit's box answerer: the boxes later tests rely on it for.
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "modalanswerer.h"
#include "widgets/dmessagebox.h"

class TestModalAnswerer : public QObject {
    Q_OBJECT

private slots:
    void answersQMessageBox();
    void answersBoxesOpenedFromASlotAndFromInsideABox();
    void unexpectedBoxIsDismissedAndReported();
};

void TestModalAnswerer::answersQMessageBox()
{
    ModalAnswerer boxes;
    boxes.expect(QStringLiteral("恢复失败"), QStringLiteral("恢复数据文件出现错误。"), QStringLiteral("OK"));
    boxes.expect(QStringLiteral("问"), QString(), QStringLiteral("No"));
    QCOMPARE(QMessageBox::warning(nullptr, QStringLiteral("恢复失败"), QStringLiteral("恢复数据文件出现错误。")),
        QMessageBox::Ok);
    QCOMPARE(QMessageBox::question(nullptr, QStringLiteral("问"), QStringLiteral("要吗？")), QMessageBox::No);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
}

void TestModalAnswerer::answersBoxesOpenedFromASlotAndFromInsideABox()
{
    // A button whose slot asks a question and, on 是, shows a notice: two boxes, the second
    // opened while the first one's answer is still on the stack.
    QPushButton button;
    int answer = -1;
    connect(&button, &QPushButton::clicked, this, [&] {
        answer = DMessageBox::question(&button, QStringLiteral("删除"), QStringLiteral("确定删除吗？"));
        if (answer == 1)
            DMessageBox::information(&button, QStringLiteral("完成"), QStringLiteral("已删除。"));
    });

    ModalAnswerer boxes;
    boxes.expect(QStringLiteral("删除"), QStringLiteral("确定删除吗？"), QStringLiteral("是"));
    boxes.expect(QStringLiteral("完成"), QStringLiteral("已删除。"), QStringLiteral("确定"));
    QTimer::singleShot(0, &button, &QPushButton::click);
    QVERIFY2(boxes.waitAnswered(), qPrintable(boxes.report()));
    QCOMPARE(answer, 1);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
}

void TestModalAnswerer::unexpectedBoxIsDismissedAndReported()
{
    ModalAnswerer boxes;
    boxes.expect(QStringLiteral("错误"), QStringLiteral("另一条消息"), QStringLiteral("确定"));
    QCOMPARE(DMessageBox::error(nullptr, QStringLiteral("意外的消息")), 0);
    QVERIFY(!boxes.answeredAll());
    QVERIFY(boxes.report().contains(QStringLiteral("意外的消息")));
    QVERIFY(boxes.report().contains(QStringLiteral("另一条消息")));
}

QTEST_MAIN(TestModalAnswerer)
#include "tst_modalanswerer.moc"
