#include "bills/dcalculator.h"

#include <QDoubleSpinBox>
#include <QKeyEvent>
#include <QPushButton>

#include "widgets/dmessagebox.h"
#include "widgets/styledbackground.h"
#include "ui_dcalculator.h"

DCalculator::DCalculator(QDoubleSpinBox* target, QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::DCalculator)
    , target(target)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Popup);
    setFocusPolicy(Qt::StrongFocus);
    ui->lcdNumber->setDigitCount(10);
    setWindowTitle(QStringLiteral("Calculator"));

    connect(ui->pushButton_1, &QPushButton::clicked, this, &DCalculator::button1);
    connect(ui->pushButton_2, &QPushButton::clicked, this, &DCalculator::button2);
    connect(ui->pushButton_3, &QPushButton::clicked, this, &DCalculator::button3);
    connect(ui->pushButton_4, &QPushButton::clicked, this, &DCalculator::button4);
    connect(ui->pushButton_5, &QPushButton::clicked, this, &DCalculator::button5);
    connect(ui->pushButton_6, &QPushButton::clicked, this, &DCalculator::button6);
    connect(ui->pushButton_7, &QPushButton::clicked, this, &DCalculator::button7);
    connect(ui->pushButton_8, &QPushButton::clicked, this, &DCalculator::button8);
    connect(ui->pushButton_9, &QPushButton::clicked, this, &DCalculator::button9);
    connect(ui->pushButton_0, &QPushButton::clicked, this, &DCalculator::button0);
    connect(ui->pushButton_point, &QPushButton::clicked, this, &DCalculator::buttonPoint);
    connect(ui->pushButton_add, &QPushButton::clicked, this, &DCalculator::buttonAdd);
    connect(ui->pushButton_sub, &QPushButton::clicked, this, &DCalculator::buttonSub);
    connect(ui->pushButton_mul, &QPushButton::clicked, this, &DCalculator::buttonMul);
    connect(ui->pushButton_div, &QPushButton::clicked, this, &DCalculator::buttonDivision);
    connect(ui->pushButton_equal, &QPushButton::clicked, this, &DCalculator::buttonEqual);
    connect(ui->pushButton_empty, &QPushButton::clicked, this, &DCalculator::buttonEmpty);
    connect(ui->pushButton_del, &QPushButton::clicked, this, &DCalculator::buttonDel);
}

DCalculator::~DCalculator()
{
    delete ui;
}

void DCalculator::paintEvent(QPaintEvent*)
{
    // The style sheet's background and border: a pop-up stands apart from what lies behind it.
    paintStyledBackground(this);
}

void DCalculator::appendDigit(char digit)
{
    input.append(QLatin1Char(digit));
    ui->lcdNumber->display(input);
}

void DCalculator::button1()
{
    appendDigit('1');
}
void DCalculator::button2()
{
    appendDigit('2');
}
void DCalculator::button3()
{
    appendDigit('3');
}
void DCalculator::button4()
{
    appendDigit('4');
}
void DCalculator::button5()
{
    appendDigit('5');
}
void DCalculator::button6()
{
    appendDigit('6');
}
void DCalculator::button7()
{
    appendDigit('7');
}
void DCalculator::button8()
{
    appendDigit('8');
}
void DCalculator::button9()
{
    appendDigit('9');
}
void DCalculator::button0()
{
    appendDigit('0');
}

void DCalculator::buttonPoint()
{
    if (input.contains(QLatin1Char('.')))
        return;
    if (input.isEmpty())
        input = QStringLiteral("0");
    input.append(QLatin1Char('.'));
    ui->lcdNumber->display(input);
}

void DCalculator::buttonDel()
{
    if (input.isEmpty())
        return;
    input.chop(1);
    if (input.isEmpty())
        ui->lcdNumber->display(0);
    else
        ui->lcdNumber->display(input);
}

void DCalculator::buttonEmpty()
{
    // The operators stay: the next calculation starts from 0 with the operator chosen last.
    input.clear();
    accumulator = 0;
    ui->lcdNumber->display(0);
}

void DCalculator::chooseOperator(Operator chosen)
{
    currentOperator = pendingOperator;
    pendingOperator = chosen;
    calculate();
}

void DCalculator::buttonAdd()
{
    chooseOperator(Add);
}
void DCalculator::buttonSub()
{
    chooseOperator(Subtract);
}
void DCalculator::buttonMul()
{
    chooseOperator(Multiply);
}
void DCalculator::buttonDivision()
{
    chooseOperator(Divide);
}

void DCalculator::buttonEqual()
{
    currentOperator = pendingOperator;
    if (calculate())
        close();
}

bool DCalculator::calculate()
{
    if (firstOperand) {
        accumulator = input.toDouble();
        input.clear();
        firstOperand = false;
        return true;
    }
    const double x = input.toDouble();
    const double a = accumulator;
    double result = x;
    switch (currentOperator) {
    case Add:
        result = a + x;
        break;
    case Subtract:
        result = a - x;
        break;
    case Multiply:
        result = a * x;
        break;
    case Divide:
        if (x == 0) {
            // An infinite quotient would only turn into the amount box's maximum: refuse it and
            // leave the amount and the running value as they are.
            input.clear();
            ui->lcdNumber->display(accumulator);
            close();
            DMessageBox::error(parentWidget(), tr("除数不能为零！"));
            return false;
        }
        result = a / x;
        break;
    default:
        break;
    }
    if (currentOperator != None)
        ui->lcdNumber->display(result);
    accumulator = result;
    input.clear();
    target->setValue(result);
    return true;
}

void DCalculator::keyPressEvent(QKeyEvent* event)
{
    // Every key ends here: a key works exactly as the button of the same name.
    static const QHash<QString, QString> byText = {
        { QStringLiteral("+"), QStringLiteral("add") },
        { QStringLiteral("-"), QStringLiteral("sub") },
        { QStringLiteral("*"), QStringLiteral("mul") },
        { QStringLiteral("/"), QStringLiteral("div") },
        { QStringLiteral("."), QStringLiteral("point") },
    };
    QString name = byText.value(event->text());
    if (name.isEmpty()) {
        if (event->key() == Qt::Key_Backspace)
            name = QStringLiteral("del");
        else if (event->key() == Qt::Key_Enter)
            name = QStringLiteral("equal");
        else
            name = event->text();
    }
    if (name.isEmpty())
        return;
    if (auto* button = findChild<QPushButton*>(QStringLiteral("pushButton_") + name))
        button->click();
}
