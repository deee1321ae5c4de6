#include "bills/printhelper.h"

#include <QObject>
#include <QPrintDialog>
#include <QPrinter>
#include <QTextDocument>
#include <optional>

#include "data/constants.h"
#include "data/maccount.h"
#include "data/mbill.h"
#include "data/mborrower.h"
#include "data/mcategory.h"
#include "data/metadata.h"

namespace {

PrintHelper::PrintDialog& printDialog()
{
    static PrintHelper::PrintDialog dialog;
    return dialog;
}

bool runPrintDialog(QPrinter* printer)
{
    QPrintDialog dialog(printer);
    return dialog.exec() == QDialog::Accepted;
}

template <typename Record> QString nameOf(const Record* record)
{
    return record ? record->getName() : QObject::tr("出错啦~~~");
}

QString cell(const QString& text)
{
    return QStringLiteral("<td>") + text.toHtmlEscaped() + QStringLiteral("</td>");
}

} // namespace

PrintHelper::PrintHelper() = default;

PrintHelper::Result PrintHelper::printBills(QList<MBill*>* bills)
{
    return printHtml(billsHtml(bills));
}

PrintHelper::Result PrintHelper::printHtml(const QString& html)
{
    QPrinter printer(QPrinter::HighResolution);
    const PrintDialog& dialog = printDialog();
    if (!(dialog ? dialog(&printer) : runPrintDialog(&printer)))
        return Result::Cancelled;
    QTextDocument document;
    document.setHtml(html);
    document.print(&printer);
    return printer.printerState() == QPrinter::Error ? Result::Failed : Result::Printed;
}

QString PrintHelper::billsHtml(QList<MBill*>* bills)
{
    QString html = QStringLiteral("<!doctype html><html><head><style type=\"text/css\">   body,td,th,table {  "
                                  "font-size: 10pt;} </style></head><body>");
    html += QStringLiteral(
        "<table width=\"100%\" border=\"1\" cellspacing=0 cellpadding=2  style=\"border-color:#000\" >");
    html += QStringLiteral("<tr style=\"background-color:#F5F5F5\">");
    for (const QString& title : { QObject::tr("用途"), QObject::tr("金额"), QObject::tr("账户"), QObject::tr("说明") })
        html += cell(title);
    html += QStringLiteral("</tr>");

    const MetaData* kinds = Constants::getInstance()->getBillKinds();
    std::optional<QDate> previous;
    const QList<MBill*> none;
    for (MBill* bill : std::as_const(bills ? *bills : none)) {
        // The list comes sorted by date, so every date gets one row above its bills.
        if (!previous || bill->getDate() != *previous) {
            html += QStringLiteral("<tr><td colspan=\"4\">") + bill->getDate().toString(QStringLiteral("yyyy-MM-dd"))
                + QStringLiteral("</td></tr>");
        }
        previous = bill->getDate();
        html += QStringLiteral("<tr>");
        html += cell(usageText(bill));
        html += cell(kinds->getLabel(bill->getKind()) + QLatin1Char(' ') + QString::number(bill->getAmount(), 'f', 2));
        html += cell(accountText(bill));
        html += cell(noteText(bill));
        html += QStringLiteral("</tr>");
    }
    html += QStringLiteral("</table></body></html>");
    return html;
}

QString PrintHelper::usageText(MBill* bill)
{
    const QString kind = bill->getKind();
    if (MBill::isCategoryKind(kind))
        return nameOf(bill->getCategory()) + QStringLiteral(" - ") + nameOf(bill->getSubCategory());
    if (kind == MBill::Transfer)
        return nameOf(bill->getToAccount());
    return nameOf(bill->getBorrower());
}

QString PrintHelper::accountText(MBill* bill)
{
    return nameOf(bill->getAccount());
}

QString PrintHelper::noteText(MBill* bill)
{
    return bill->getTitle().isEmpty() ? bill->getDescription() : bill->getTitle();
}

void PrintHelper::setPrintDialog(PrintDialog dialog)
{
    printDialog() = std::move(dialog);
}
