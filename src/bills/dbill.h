#pragma once

#include <memory>

#include <QDate>
#include <QSet>
#include <QString>

#include "lists/deditdialog.h"

class MBill;
class QComboBox;

namespace Ui {
class DBill;
}

// The dialog in which a bill of any kind is entered or edited: kind, account, categories,
// to-account, borrower, member, date, amount, title and description. exec() is Accepted only
// after OK stored the bill; bills stored with "保存并继续" stay stored whatever it returns.
class DBill : public DEditDialog {
    Q_OBJECT

public:
    // A new bill dated today.
    explicit DBill(QWidget* parent = nullptr);
    // A new bill on date (a day chosen in the bill list).
    DBill(QDate date, QWidget* parent);
    // Edits bill when it has an id; a bill without one (a copy) fills in a new bill.
    DBill(MBill* bill, QWidget* parent);
    ~DBill() override;

    QSize sizeHint() const override;

    virtual void resetForNew();
    virtual void setBill(MBill* bill);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void on_pbOk_clicked();
    void on_pbCancel_clicked();
    void onKindChanged();
    void onLoanKindChanged(int index);
    void on_pbContinue_clicked();
    void on_pbCreateCategory_clicked();
    void on_pbCreateSubCategory_clicked();
    void on_pbCreateAccount_clicked();
    void on_pbCreateBorrower_clicked();
    void on_pbCreateMember_clicked();
    void on_cbCategory_currentIndexChanged(int index);
    void on_pbCalculator_clicked();
    void on_cbContinue_clicked();

private:
    void init();
    void loadAccounts();
    void loadCategories();
    void loadBorrowers();
    void loadMembers();
    void selectByData(QComboBox* combo, const QString& value);
    // As selectByData, but an id that no longer names a record leaves the list without a current
    // item: the user has to choose again rather than the bill being moved silently.
    void selectRecord(QComboBox* combo, const QString& id);
    bool save();
    // False, after saying why, when the bill cannot be stored as the form stands.
    bool checkChoices();
    bool refuse(const QString& text);
    void promptForCategories();
    void focusAmount();
    // Shows the day nearest to a stored date that names no day, marked, until the user picks one.
    void showInvalidDate(const MBill* source);

    Ui::DBill* ui;
    QString kind;
    bool editMode = false;
    MBill* bill = nullptr;
    // The bill the last successful save made in new mode; nothing else holds it.
    std::unique_ptr<MBill> created;
    // Top categories already asked about having no sub-category: the user is asked once.
    QSet<QString> askedForSubCategory;

    // The bill the form was filled from, and what the form showed of it. A field still showing
    // that is stored as the bill had it: the form cannot show every stored value exactly (more
    // than two decimals, CR LF and other line or space characters, a date that names no day),
    // and saving without an edit must change nothing.
    struct Loaded {
        std::unique_ptr<MBill> bill; // a copy of every field as stored
        double shownAmount = 0;
        QString shownTitle;
        QString shownDescription;
    };
    Loaded loaded;
    bool dateEdited = false;
    // The stored text of an edited bill's date that names no day; empty for a real date.
    QString invalidDateText;
    bool invalidDateTold = false;
};
