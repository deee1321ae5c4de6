#pragma once

#include <memory>

#include "lists/deditdialog.h"

class MCategory;

namespace Ui {
class DCategory;
}

// Creates or edits a top category or, with isSub, a sub-category under a top category of the
// same kind. exec() is Accepted only once the record is stored.
class DCategory : public DEditDialog {
    Q_OBJECT

public:
    // kind: "expense" or "income". parentId: the top category to offer first as the parent.
    DCategory(const QString& kind, QWidget* parent, bool isSub, const QString& parentId);
    ~DCategory() override;

    // Edit mode for category, which OK changes in place. Construct with isSub exactly when the
    // record has a parent category id.
    void setCategory(MCategory* category);

private slots:
    void on_pbOK_clicked();
    void on_pbCancel_clicked();

private:
    Ui::DCategory* ui;
    MCategory* category = nullptr;
    bool isEdit = false;
    bool isSub = false;
    QString kind;
    // The record a new-mode OK made; nothing else holds it.
    std::unique_ptr<MCategory> created;
};
