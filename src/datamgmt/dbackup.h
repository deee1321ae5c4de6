#pragma once

#include <QDialog>

namespace Ui {
class DBackup;
}

// The backup settings: a backup folder, which is stored and shown only (backups always go to the
// book folder's backup folder), and the four moments of automatic backups. OK stores all five;
// cancelling stores nothing.
class DBackup : public QDialog {
    Q_OBJECT

public:
    explicit DBackup(QWidget* parent);
    ~DBackup() override;

protected:
    void paintEvent(QPaintEvent* event) override;

private slots:
    void on_pbBackupDir_clicked();
    void on_pbOk_clicked();
    void on_pbCancel_clicked();

private:
    Ui::DBackup* ui;
};
