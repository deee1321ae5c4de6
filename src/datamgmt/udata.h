#pragma once

#include <QWidget>

namespace Ui {
class UData;
}

// The data page: the book as a whole. A backup to a file of the user's choice, the restore and the
// import (both take effect across a restart of the program), the backup settings, the reset of the
// book to its default records, and the import of CSV and QIF files into the open book.
class UData : public QWidget {
    Q_OBJECT

public:
    explicit UData(QWidget* parent = nullptr);
    ~UData() override;

protected:
    bool event(QEvent* event) override;

private slots:
    void on_pbBackup_clicked();
    void on_pbResotre_clicked();
    void on_pbAutoBackup_clicked();
    void on_pbKobel_clicked();
    void on_pbImport_clicked();
    void on_pbAutoBackup_2_clicked();

private:
    void equaliseButtons();
    // Asks for a data file, to write (the manual backup) or to read, starting in the folder last used
    // for the purpose that folderKey names (at first fallback). Empty when cancelled.
    QString askFile(const QString& caption, bool save, const QString& folderKey, const QString& fallback);
    void restartWith(const QString& word, const QString& caption, const QString& folderKey, const QString& fallback,
        const QString& failText);

    Ui::UData* ui;
};
