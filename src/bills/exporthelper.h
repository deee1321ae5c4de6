#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <functional>

class MBill;
class QWidget;

// Writes a bill list as a spreadsheet file: an XHTML page holding one table with a row of eleven
// cells per bill, which spreadsheet programs open as a sheet.
class ExportHelper : private QObject {
public:
    ExportHelper();

    // Writes bills, in their order, to fileName (taken as it is: no extension is added). The file
    // is replaced as a whole and only once all of it is written; stored texts come out as text,
    // whatever markup they hold. False, with the reason in errorText when given, when the file
    // could not be written: it is then left as it was.
    static bool exportBills(const QString& fileName, QList<MBill*>* bills, QString* errorText = nullptr);
    // The same bills as a CSV file (UTF-8 with a byte-order mark, so that spreadsheet programs show
    // the Chinese), one record per bill with the columns of the import's preview, dates as
    // yyyy-MM-dd and amounts with a point, signed as stored. The import reads it back into the same
    // bills.
    static bool exportBillsCsv(const QString& fileName, const QList<MBill*>& bills, QString* errorText = nullptr);

    // Asks the user where to export to, as an .xls or a .csv file; empty when cancelled. The
    // name ends in the chosen format's extension.
    static QString askFileName(QWidget* parent);
    // Replaces the save dialog behind askFileName (tests choose the file this way); an empty
    // function brings the dialog back.
    using FileNameAsker = std::function<QString(QWidget* parent)>;
    static void setFileNameAsker(FileNameAsker asker);
};
