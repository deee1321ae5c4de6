#include <QDialog>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

#include "modalanswerer.h"
#include "widgets/udialogtitle.h"
#include "widgettest.h"

namespace {
// A dialog laid out the way the program's dialogs carry the strip: across the top, no margins.
struct StripDialog {
    QDialog dialog;
    UDialogTitle* strip = nullptr;
    QPushButton* okButton = nullptr;

    StripDialog()
    {
        dialog.setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
        auto* layout = new QVBoxLayout(&dialog);
        layout->setContentsMargins(0, 0, 0, 0);
        strip = new UDialogTitle(&dialog);
        strip->setTitle(QStringLiteral("标题"));
        layout->addWidget(strip);
        okButton = new QPushButton(QStringLiteral("确定"), &dialog);
        okButton->setDefault(true);
        QObject::connect(okButton, &QPushButton::clicked, &dialog, &QDialog::accept);
        layout->addWidget(okButton);
        dialog.resize(300, 150);
    }
};

}

class TestUDialogTitle : public QObject {
    Q_OBJECT

private slots:
    void closeEndsLikeCancel_data();
    void closeEndsLikeCancel();
    void closeOnAWindowThatIsNoDialog();
    void drag_data();
    void drag();
};

void TestUDialogTitle::closeEndsLikeCancel_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("result");
    QTest::newRow("the strip's close button") << "strip" << 0;
    QTest::newRow("Escape") << "escape" << 0;
    // The strip's button never takes focus and is never the default: Return is the dialog's.
    QTest::newRow("Return") << "return" << 1;
}

void TestUDialogTitle::closeEndsLikeCancel()
{
    QFETCH(QString, how);
    QFETCH(int, result);
    StripDialog fixture;
    ModalAnswerer boxes;
    boxes.expect(ModalAnswerer::titled(QStringLiteral("标题")), ModalAnswerer::named(how));
    QCOMPARE(fixture.dialog.exec(), result);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
}

void TestUDialogTitle::closeOnAWindowThatIsNoDialog()
{
    QWidget window;
    auto* strip = new UDialogTitle(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    strip->findChild<QPushButton*>(QStringLiteral("pbClose"))->click();
    QVERIFY(window.isVisible());
}

void TestUDialogTitle::drag_data()
{
    QTest::addColumn<QString>("pressOn");
    QTest::addColumn<int>("pressButton");
    QTest::addColumn<int>("heldButtons");
    QTest::addColumn<QPoint>("expectedShift");
    const int left = Qt::LeftButton;
    const int right = Qt::RightButton;
    QTest::newRow("left drag on the strip") << "strip" << left << left << QPoint(50, 30);
    QTest::newRow("left drag on the title text") << "tlTitle" << left << left << QPoint(50, 30);
    QTest::newRow("right drag") << "strip" << right << right << QPoint(0, 0);
    QTest::newRow("move with no button held") << "strip" << left << 0 << QPoint(0, 0);
    QTest::newRow("press on the close button, drag off it") << "pbClose" << left << left << QPoint(0, 0);
}

void TestUDialogTitle::drag()
{
    QFETCH(QString, pressOn);
    QFETCH(int, pressButton);
    QFETCH(int, heldButtons);
    QFETCH(QPoint, expectedShift);

    StripDialog fixture;
    fixture.dialog.move(100, 100);
    fixture.dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&fixture.dialog));
    const QPoint start = fixture.dialog.pos();

    QWidget* target = pressOn == QLatin1String("strip") ? fixture.strip : fixture.strip->findChild<QWidget*>(pressOn);
    QVERIFY(target);
    const QPoint local(5, 5);
    WidgetTest::sendMouse(
        target, QEvent::MouseButtonPress, local, Qt::MouseButton(pressButton), Qt::MouseButtons(pressButton));
    WidgetTest::sendMouse(
        target, QEvent::MouseMove, local + QPoint(50, 30), Qt::NoButton, Qt::MouseButtons(heldButtons));

    QTRY_COMPARE(fixture.dialog.pos(), start + expectedShift);
    // The point grabbed stays under the pointer over a second step too.
    if (!expectedShift.isNull()) {
        WidgetTest::sendMouse(
            target, QEvent::MouseMove, local + QPoint(20, -10), Qt::NoButton, Qt::MouseButtons(heldButtons));
        QTRY_COMPARE(fixture.dialog.pos(), start + QPoint(70, 20));
    }
}

QTEST_MAIN(TestUDialogTitle)
#include "tst_udialogtitle.moc"
