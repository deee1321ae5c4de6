#pragma once

#include <QDialog>
#include <QDialogButtonBox>

class QPushButton;

namespace Ui {
class DMessageBox;
}

// The program's own message box: frameless, with the dialog title strip, a centred message and
// a centred row of buttons with Chinese texts. The statics return exec()'s value: 1 only for
// "确定" or "是"; "否", Escape and the strip's close button give 0.
class DMessageBox : public QDialog {
    Q_OBJECT

public:
    DMessageBox(QWidget* parent, const QString& title, const QString& text);
    ~DMessageBox() override;

    void setStandardButtons(QDialogButtonBox::StandardButtons buttons);
    void setButtonText(QDialogButtonBox::StandardButton which, const QString& text);
    QPushButton* addButton(QDialogButtonBox::StandardButton which);

    static int error(QWidget* parent, const QString& text);
    static int question(QWidget* parent, const QString& title, const QString& text);
    static int information(QWidget* parent, const QString& title, const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Ui::DMessageBox* ui;
};
