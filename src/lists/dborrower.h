#pragma once

#include <memory>

#include "lists/deditdialog.h"

class MBorrower;

namespace Ui {
class DBorrower;
}

// Creates a borrower, the other party of loan bills (new mode), or edits one after setBorrower: a name and a
// description. exec() is Accepted only once the record is stored.
class DBorrower : public DEditDialog {
    Q_OBJECT

public:
    explicit DBorrower(QWidget* parent);
    ~DBorrower() override;

    // Edit mode for borrower, which OK changes in place.
    void setBorrower(MBorrower* borrower);

private slots:
    void on_pbOK_clicked();
    void on_pbCancel_clicked();

private:
    Ui::DBorrower* ui;
    MBorrower* borrower = nullptr;
    bool isEdit = false;
    // The record a new-mode OK made; nothing else holds it.
    std::unique_ptr<MBorrower> created;
};
