#pragma once

#include <memory>

#include "lists/deditdialog.h"

class MMember;

namespace Ui {
class DMember;
}

// Creates a household member to whom bills are attributed (new mode), or edits one after setMember: a name and a
// description. exec() is Accepted only once the record is stored.
class DMember : public DEditDialog {
    Q_OBJECT

public:
    explicit DMember(QWidget* parent);
    ~DMember() override;

    // Edit mode for member, which OK changes in place.
    void setMember(MMember* member);

private slots:
    void on_pbOK_clicked();
    void on_pbCancel_clicked();

private:
    Ui::DMember* ui;
    MMember* member = nullptr;
    bool isEdit = false;
    // The record a new-mode OK made; nothing else holds it.
    std::unique_ptr<MMember> created;
};
