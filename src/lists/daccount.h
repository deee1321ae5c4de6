#pragma once

#include <memory>

#include "lists/deditdialog.h"

class MAccount;

namespace Ui {
class DAccount;
}

// Creates an account (new mode) or edits one after setAccount (edit mode): name, kind, initial
// amount and description. exec() is Accepted only once the record is stored.
class DAccount : public DEditDialog {
    Q_OBJECT

public:
    explicit DAccount(QWidget* parent);
    ~DAccount() override;

    // Edit mode for account, which OK changes in place.
    void setAccount(MAccount* account);

private slots:
    void on_pbOK_clicked();
    void on_pbCancel_clicked();

private:
    Ui::DAccount* ui;
    MAccount* account = nullptr;
    bool isEdit = false;
    // The record a new-mode OK made; nothing else holds it.
    std::unique_ptr<MAccount> created;
};
