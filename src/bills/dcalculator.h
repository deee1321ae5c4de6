#pragma once

#include <QDialog>
#include <QString>

class QDoubleSpinBox;

namespace Ui {
class DCalculator;
}

// The calculator pop-up of the bill dialog: works strictly left to right, without precedence,
// and pushes every result it computes into its amount box. Equals (or the keypad's Enter) closes
// it.
class DCalculator : public QDialog {
    Q_OBJECT

public:
    DCalculator(QDoubleSpinBox* target, QWidget* parent);
    ~DCalculator() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private slots:
    void button1();
    void button2();
    void button3();
    void button4();
    void button5();
    void button6();
    void button7();
    void button8();
    void button9();
    void button0();
    void buttonPoint();
    void buttonAdd();
    void buttonSub();
    void buttonMul();
    void buttonDivision();
    void buttonEqual();
    void buttonEmpty();
    void buttonDel();
    // False when the calculation was refused (a division by zero).
    bool calculate();

private:
    enum Operator { None = -1, Add = 0, Subtract = 1, Multiply = 2, Divide = 3 };

    void appendDigit(char digit);
    void chooseOperator(Operator chosen);

    Ui::DCalculator* ui;
    QDoubleSpinBox* target;
    // The number typed since the last operator: digits and at most one point.
    QString input;
    // The running value, at full precision: rounding it between steps would drift the sum.
    double accumulator = 0;
    int currentOperator = None;
    int pendingOperator = None;
    bool firstOperand = true;
};
