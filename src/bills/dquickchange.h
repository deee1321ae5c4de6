#pragma once

#include <QDialog>
#include <QList>
#include <QString>

class MBill;

namespace Ui {
class DQuickChange;
}

// Moves many bills at once to another account, member, category (with its sub-category) or
// borrower. exec() is Accepted once every bill is stored with the new choice; a refused or failed
// OK changes no bill and keeps the dialog open.
class DQuickChange : public QDialog {
    Q_OBJECT

public:
    // type: "account", "member", "category" or "borrower". For "category" the bills are of one
    // kind, expense or income, and only that kind's categories are offered.
    DQuickChange(const QString& type, const QList<MBill*>& bills, QWidget* parent);
    ~DQuickChange() override;

protected:
    void paintEvent(QPaintEvent* event) override;

private slots:
    void on_pbOK_clicked();
    void on_comboBox_currentIndexChanged(int index);

private:
    // The one category kind of the bills; empty when they are not all expense or all income.
    QString categoryKind() const;
    // Writes the choice into every bill and stores them all, or none of them.
    bool store(const QString& id, const QString& subId);

    Ui::DQuickChange* ui;
    QString type;
    QList<MBill*> bills;
};
