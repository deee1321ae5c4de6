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

private slots:
    void on_pbBackup_clicked();
    void on_pbResotre_clicked();
    void on_pbAutoBackup_clicked();
    void on_pbKobel_clicked();
    void on_pbImport_clicked();
    void on_pbAutoBackup_2_clicked();

private:
    // Asks for a data file, starting in folder: to write (the manual backup) or to read. Empty when
    // cancelled.
    QString askFile(const QString& caption, bool save, const QString& folder);
    void restartWith(const QString& word, const QString& caption, const QString& folder, const QString& failText);

    Ui::UData* ui;
};
