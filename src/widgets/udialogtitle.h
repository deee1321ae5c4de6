#pragma once

#include <QPoint>
#include <QWidget>

namespace Ui {
class UDialogTitle;
}

// The title strip of every frameless dialog: shows the title, drags the dialog over the screen
// and closes it with the result 0, like a cancel.
class UDialogTitle : public QWidget {
    Q_OBJECT

public:
    explicit UDialogTitle(QWidget* parent = nullptr);
    ~UDialogTitle() override;

    void setTitle(const QString& title);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private slots:
    void on_pbClose_clicked();

private:
    Ui::UDialogTitle* ui;
    // Pointer position relative to the dialog's top-left corner at the last left press.
    QPoint dragOffset;
};
