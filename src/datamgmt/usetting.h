#pragma once

#include <QWidget>

namespace Ui {
class USetting;
}

class QColorButton;

// The settings page: program options, proxy, the open book's login password, the bill colours and
// the management of the books in the book folder. Options and colours are stored the moment they
// are clicked; whoever uses a setting reads it at its point of use.
class USetting : public QWidget {
    Q_OBJECT

public:
    explicit USetting(QWidget* parent = nullptr);
    ~USetting() override;

    // Refills the book list from the book folder, newest first; afterwards no book is chosen.
    void bindBookList();

private slots:
    void on_cbEnableBillTitle_clicked();
    void on_cbEnableBillMember_clicked();
    void on_cbEnableSystemTrayIcon_clicked();
    void on_cbEnableAutoUpdate_clicked();
    void on_cbEnableHttpProxy_clicked();
    void on_pbOK_clicked();
    void on_pbCreateBook_clicked();
    void on_pbRenameBook_clicked();
    void on_pbDeleteBook_clicked();
    void on_cbExpenseColor_clicked();
    void on_cbIncomeColor_clicked();
    void on_cbTransferColor_clicked();
    void on_cbLendColor_clicked();
    void on_cbBorrowColor_clicked();
    void on_cbRefundColor_clicked();
    void on_cbRepayColor_clicked();
    void on_cbAnalysisAllData_clicked();

private:
    void enableProxyFields(bool on);
    void storeColor(const QColorButton* button, const QString& key);
    // The chosen book's name (without ".db"), or "" after asking the user to choose one.
    QString chosenBook(const QString& failureTitle);
    // A new book name typed by the user, or "" when cancelled, empty or refused (the refusal told).
    // The dialog starts with current.
    QString askBookName(const QString& failureTitle, const QString& current);

    Ui::USetting* ui;
};
