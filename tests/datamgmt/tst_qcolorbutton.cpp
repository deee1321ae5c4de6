#include <QColorDialog>
#include <QDialogButtonBox>
#include <QIcon>
#include <QPushButton>
#include <QTest>

#include "datamgmt/qcolorbutton.h"
#include "modalanswerer.h"

namespace {
QImage swatch(const QColorButton& button)
{
    return button.icon().pixmap(QSize(16, 16)).toImage();
}

// Picks colour in the colour dialog and presses its OK button.
ModalAnswerer::Answer choose(const QColor& colour)
{
    return [colour](QWidget* modal) {
        auto* dialog = qobject_cast<QColorDialog*>(modal);
        dialog->setCurrentColor(colour);
        dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    };
}
}

class TestQColorButton : public QObject {
    Q_OBJECT

private slots:
    void newButton();
    void setColor();
    void sameColorChangesNothing();
    void captionAndName();
    void toolTipSwitch();
    void dialog_data();
    void dialog();
};

void TestQColorButton::newButton()
{
    QColorButton button(nullptr);
    QCOMPARE(button.color(), QColor("#ffffff"));
    QCOMPARE(button.toolTip(), QString("#ffffff"));
    QCOMPARE(button.text(), QString());
    const QImage image = swatch(button);
    QCOMPARE(image.size(), QSize(16, 16));
    QCOMPARE(image.pixelColor(0, 0), QColor(Qt::white));
    QCOMPARE(image.pixelColor(15, 15), QColor(Qt::white));
}

void TestQColorButton::setColor()
{
    QColorButton button(nullptr);
    button.setText("选择支出账目标记颜色");
    button.setColor(Qt::red);
    QCOMPARE(button.color(), QColor(Qt::red));
    QCOMPARE(button.toolTip(), QString("#ff0000"));
    QCOMPARE(swatch(button).pixelColor(8, 8), QColor(Qt::red));
    QCOMPARE(button.text(), QString("选择支出账目标记颜色"));
}

void TestQColorButton::sameColorChangesNothing()
{
    QColorButton button(nullptr);
    button.setColor(QColor("#123456"));
    button.setShowName(true);
    const qint64 icon = button.icon().cacheKey();
    button.setToolTip("mine");
    button.setButtonText("mine too");

    button.setColor(QColor(0x12, 0x34, 0x56));
    QCOMPARE(button.icon().cacheKey(), icon);
    QCOMPARE(button.toolTip(), QString("mine"));
    QCOMPARE(button.text(), QString("mine too"));
}

void TestQColorButton::captionAndName()
{
    QColorButton button(nullptr);
    button.setText("caption");
    button.setColor(QColor("#00ff00"));
    button.setShowName(true);
    QCOMPARE(button.text(), QString("#00ff00"));
    button.setColor(QColor("#0000ff"));
    QCOMPARE(button.text(), QString("#0000ff"));

    // The recorded caption again: nothing happens, the name stays on the button.
    button.setText("caption");
    QCOMPARE(button.text(), QString("#0000ff"));
    // A new caption is recorded and shown.
    button.setText("other");
    QCOMPARE(button.text(), QString("other"));

    button.setShowName(false);
    QCOMPARE(button.text(), QString("other"));
    button.setShowName(true);
    button.setShowName(false);
    QCOMPARE(button.text(), QString("other"));
    QCOMPARE(button.toolTip(), QString("#0000ff"));
}

void TestQColorButton::toolTipSwitch()
{
    QColorButton button(nullptr);
    button.setShowToolTip(false);
    QCOMPARE(button.toolTip(), QString());
    button.setColor(Qt::red);
    QCOMPARE(button.toolTip(), QString());
    button.setShowToolTip(true);
    QCOMPARE(button.toolTip(), QString("#ff0000"));
}

void TestQColorButton::dialog_data()
{
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<QColor>("expected");
    QTest::newRow("a colour chosen") << false << QColor("#336699");
    QTest::newRow("cancelled") << true << QColor(Qt::yellow);
}

void TestQColorButton::dialog()
{
    QFETCH(bool, cancel);
    QFETCH(QColor, expected);

    QColorButton button(nullptr);
    button.setColor(Qt::yellow);
    const qint64 icon = button.icon().cacheKey();
    // A receiver connected after the button's own handler, as the settings page's slot is.
    QList<QColor> seenByLaterReceiver;
    connect(&button, &QPushButton::clicked, &button, [&] { seenByLaterReceiver << button.color(); });

    ModalAnswerer boxes;
    QColor initial;
    boxes.expect(ModalAnswerer::ofClass("QColorDialog"), [&](QWidget* modal) {
        initial = qobject_cast<QColorDialog*>(modal)->currentColor();
        if (cancel)
            ModalAnswerer::escape()(modal);
        else
            choose(QColor("#336699"))(modal);
    });
    QTest::mouseClick(&button, Qt::LeftButton);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));

    QCOMPARE(initial, QColor(Qt::yellow));
    QCOMPARE(button.color(), expected);
    QCOMPARE(button.toolTip(), expected.name());
    QCOMPARE(seenByLaterReceiver, QList<QColor>({ expected }));
    QCOMPARE(button.icon().cacheKey() == icon, cancel);
}

QTEST_MAIN(TestQColorButton)
#include "tst_qcolorbutton.moc"
