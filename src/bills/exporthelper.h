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

    // Asks the user where to export to; empty when cancelled.
    static QString askFileName(QWidget* parent);
    // Replaces the save dialog behind askFileName (tests choose the file this way); an empty
    // function brings the dialog back.
    using FileNameAsker = std::function<QString(QWidget* parent)>;
    static void setFileNameAsker(FileNameAsker asker);
};
