#pragma once

#include <QDialog>

namespace Ui {
class DSyncAbout;
}

// The help about synchronisation: what it is for and how the two-way merge behaves.
class DSyncAbout : public QDialog {
    Q_OBJECT

public:
    explicit DSyncAbout(QWidget* parent = nullptr);
    ~DSyncAbout() override;

protected:
    void paintEvent(QPaintEvent* event) override;

private slots:
    void on_pushButton_clicked();

private:
    Ui::DSyncAbout* ui;
};
