#pragma once

#include <QDialog>

namespace Ui {
class DLogin;
}

// Chooses the book to open at start and asks for its login password when it has one. Accepting
// makes the chosen book the current one (and the last used book).
class DLogin : public QDialog {
    Q_OBJECT

public:
    // book: the file name of a book to preselect, or "" for the last used book.
    DLogin(QWidget* parent, const QString& book);
    ~DLogin() override;

protected:
    void paintEvent(QPaintEvent* event) override;

private slots:
    void on_pbCancel_clicked();
    void on_pbOK_clicked();
    void on_cbDbList_currentIndexChanged(int index);

private:
    Ui::DLogin* ui;
    // The plain password of the book probed last.
    QString storedPassword;
};
