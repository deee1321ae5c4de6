#pragma once

#include <QWidget>

namespace Ui {
class USync;
}

// The sync page: synchronise now (asking for the account first when the book has none), the
// account and its switches, and the help about synchronisation.
class USync : public QWidget {
    Q_OBJECT

public:
    explicit USync(QWidget* parent = nullptr);
    ~USync() override;

private slots:
    void on_pbSync_clicked();
    void on_pbConfig_clicked();
    void on_pbAbount_clicked();

private:
    Ui::USync* ui;
};
