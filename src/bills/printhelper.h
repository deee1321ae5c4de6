#pragma once

#include <QList>
#include <QString>
#include <functional>

class MBill;
class QPrinter;

// Prints a bill list as a four-column table (usage, amount, account, note) with a row for each
// date, through the print dialog.
class PrintHelper {
public:
    enum class Result { Printed, Cancelled, Failed };

    PrintHelper();

    // Builds the table of bills and prints it (printHtml).
    Result printBills(QList<MBill*>* bills);
    // Lets the user choose a printer and prints html on it. Cancelled when the user closed the
    // dialog; Failed when the printer or the print system gave up, so the caller can say so.
    Result printHtml(const QString& html);
    // The printed page for bills: their stored texts appear as text, whatever markup they hold.
    QString billsHtml(QList<MBill*>* bills);

    // Where the money went: categories for expense and income, the target account of a transfer,
    // the borrower otherwise. A record that is gone reads "出错啦~~~".
    QString usageText(MBill* bill);
    QString accountText(MBill* bill);
    // The title, or the description when there is no title.
    QString noteText(MBill* bill);

    // Runs the print dialog on printer and says whether the user chose to print. Replaceable, so
    // that tests can set up a PDF printer instead; an empty function brings the dialog back.
    using PrintDialog = std::function<bool(QPrinter* printer)>;
    static void setPrintDialog(PrintDialog dialog);
};
