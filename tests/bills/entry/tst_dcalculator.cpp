#include <QDoubleSpinBox>
#include <QLCDNumber>
#include <QPushButton>
#include <QTest>

#include "bills/dcalculator.h"
#include "modalanswerer.h"

namespace {
// The pop-up on an amount box as the bill dialog has one, but with more decimals so that the
// precision of the pushed values shows.
struct Pad {
    QWidget host;
    QDoubleSpinBox* amount = nullptr;
    DCalculator* calculator = nullptr;

    Pad()
    {
        amount = new QDoubleSpinBox(&host);
        amount->setRange(0, 100000000);
        amount->setDecimals(6);
        amount->setValue(7);
        calculator = new DCalculator(amount, &host);
        calculator->show();
    }

    // Buttons by their names: digits, "add", "sub", "mul", "div", "point", "del", "empty", "equal".
    void press(const QStringList& names)
    {
        for (const QString& name : names) {
            auto* button = calculator->findChild<QPushButton*>("pushButton_" + name);
            QVERIFY2(button, qPrintable(name));
            button->click();
        }
    }
};

// "12+3=" → the button names of each character; "C" is 清空 and "<" the delete button.
QStringList buttonsOf(const QString& keys)
{
    static const QHash<QChar, QString> names { { '+', "add" }, { '-', "sub" }, { '*', "mul" }, { '/', "div" },
        { '.', "point" }, { '<', "del" }, { 'C', "empty" }, { '=', "equal" } };
    QStringList result;
    for (const QChar key : keys)
        result << names.value(key, QString(key));
    return result;
}
}

class TestDCalculator : public QObject {
    Q_OBJECT

private slots:
    void sequences_data();
    void sequences();
    void divisionByZeroIsRefused_data();
    void divisionByZeroIsRefused();
    void keyboard_data();
    void keyboard();
};

void TestDCalculator::sequences_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<double>("amount");
    QTest::addColumn<double>("display");
    QTest::addColumn<bool>("open");

    // The amount box starts at 7, so an untouched box shows.
    QTest::newRow("equals pushes and closes") << "12+3=" << 15.0 << 15.0 << false;
    QTest::newRow("an operator waits for the next operand") << "12+" << 7.0 << 12.0 << true;
    QTest::newRow("left to right, no precedence") << "12+3*2=" << 30.0 << 30.0 << false;
    QTest::newRow("each step pushes its result") << "12+3*" << 15.0 << 15.0 << true;
    QTest::newRow("a lone number only becomes the first operand") << "45=" << 7.0 << 45.0 << false;
    QTest::newRow("an operator first takes 0") << "+5=" << 5.0 << 5.0 << false;
    QTest::newRow("a second operator adds the empty input") << "12++3=" << 15.0 << 15.0 << false;
    QTest::newRow("an operator after * multiplies by the empty input") << "12*+3=" << 3.0 << 3.0 << false;
    QTest::newRow("below zero the box stops at its minimum") << "9-12=" << 0.0 << -3.0 << false;
    QTest::newRow("clear keeps the operator and starts from 0") << "12+3*C5=" << 0.0 << 0.0 << false;
    QTest::newRow("cents survive a chain of steps") << "12345.67+1+1=" << 12347.67 << 12347.67 << false;
    QTest::newRow("seven digits survive a chain of steps") << "1234567+1+1=" << 1234569.0 << 1234569.0 << false;
    QTest::newRow("thirds come back whole") << "1/3*3=" << 1.0 << 1.0 << false;
    QTest::newRow("a point first reads as 0.") << ".5*4=" << 2.0 << 2.0 << false;
    QTest::newRow("a second point is ignored") << "1.5.*2=" << 3.0 << 3.0 << false;
    QTest::newRow("delete takes the last digit") << "12<+1=" << 2.0 << 2.0 << false;
    QTest::newRow("delete of the only digit shows 0") << "1<" << 7.0 << 0.0 << true;
    QTest::newRow("delete on an empty input does nothing") << "<1+1=" << 2.0 << 2.0 << false;
    QTest::newRow("two zeros stay two zeros") << "100+1=" << 101.0 << 101.0 << false;
}

void TestDCalculator::sequences()
{
    QFETCH(QString, keys);
    QFETCH(double, amount);
    QFETCH(double, display);
    QFETCH(bool, open);

    ModalAnswerer boxes;
    Pad pad;
    pad.press(buttonsOf(keys));
    QCOMPARE(pad.amount->value(), amount);
    QCOMPARE(pad.calculator->findChild<QLCDNumber*>("lcdNumber")->value(), display);
    QCOMPARE(pad.calculator->isVisible(), open);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
}

void TestDCalculator::divisionByZeroIsRefused_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<double>("amount");

    QTest::newRow("at equals") << "1/0=" << 7.0;
    QTest::newRow("at the next operator, after a pushed result") << "2+6/0+" << 8.0;
    QTest::newRow("by an empty input") << "5/=" << 7.0;
    QTest::newRow("zero by zero") << "0/0=" << 7.0;
}

void TestDCalculator::divisionByZeroIsRefused()
{
    QFETCH(QString, keys);
    QFETCH(double, amount);

    ModalAnswerer boxes;
    boxes.expect("错误", "除数不能为零！", "确定");
    Pad pad;
    pad.press(buttonsOf(keys));
    QVERIFY2(boxes.waitAnswered(), qPrintable(boxes.report()));
    QCOMPARE(pad.amount->value(), amount);
    QVERIFY(!pad.calculator->isVisible());
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
}

void TestDCalculator::keyboard_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("lastKey");
    QTest::addColumn<double>("amount");
    QTest::addColumn<double>("display");
    QTest::addColumn<bool>("open");

    QTest::newRow("keypad Enter is equals") << "12+3" << int(Qt::Key_Enter) << 15.0 << 15.0 << false;
    QTest::newRow("Return does nothing") << "12+3" << int(Qt::Key_Return) << 7.0 << 3.0 << true;
    QTest::newRow("Escape does nothing") << "12+3" << int(Qt::Key_Escape) << 7.0 << 3.0 << true;
    QTest::newRow("Backspace deletes") << "12+34" << int(Qt::Key_Backspace) << 7.0 << 3.0 << true;
    QTest::newRow("= is no key of the pad") << "12+3=" << 0 << 7.0 << 3.0 << true;
    QTest::newRow("* multiplies, / divides, - subtracts") << "6*4/3-1" << int(Qt::Key_Enter) << 7.0 << 7.0 << false;
    QTest::newRow("letters do nothing") << "1a+b2" << int(Qt::Key_Enter) << 3.0 << 3.0 << false;
}

void TestDCalculator::keyboard()
{
    QFETCH(QString, typed);
    QFETCH(int, lastKey);
    QFETCH(double, amount);
    QFETCH(double, display);
    QFETCH(bool, open);

    ModalAnswerer boxes;
    Pad pad;
    QTest::keyClicks(pad.calculator, typed);
    if (lastKey == Qt::Key_Enter)
        QTest::keyClick(pad.calculator, Qt::Key_Enter, Qt::KeypadModifier);
    else if (lastKey != 0)
        QTest::keyClick(pad.calculator, Qt::Key(lastKey));
    QCOMPARE(pad.amount->value(), amount);
    QCOMPARE(pad.calculator->findChild<QLCDNumber*>("lcdNumber")->value(), display);
    QCOMPARE(pad.calculator->isVisible(), open);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
}

QTEST_MAIN(TestDCalculator)
#include "tst_dcalculator.moc"
