#include "bills/exporthelper.h"

#include <QFileDialog>
#include <QSaveFile>
#include <QTextStream>

#include "data/constants.h"
#include "data/enteredtext.h"
#include "data/maccount.h"
#include "data/mbill.h"
#include "data/mborrower.h"
#include "data/mcategory.h"
#include "data/metadata.h"
#include "data/mmember.h"

namespace {

// Every file gets Windows line ends, so an export reads the same wherever it was made.
const char* const LineEnd = "\r\n";

ExportHelper::FileNameAsker& fileNameAsker()
{
    static ExportHelper::FileNameAsker asker;
    return asker;
}

QString askWithDialog(QWidget* parent)
{
    // Exports go where the user keeps documents, not wherever the program was started from.
    QFileDialog dialog(
        parent, QObject::tr("导出Excel文件"), Constants::getDocumentsDir(), QObject::tr("导出Excel文件 (*.xls)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    // The dialog here does not add the filter's extension by itself.
    dialog.setDefaultSuffix(QStringLiteral("xls"));
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    return dialog.selectedFiles().value(0);
}

void writeCell(QTextStream& out, const QString& text)
{
    // A book written by another program may hold what no one can type here: the file gets none of it.
    // A reader of the page takes a bare CR for a line end like any other; as a character reference
    // it reads back as the CR the note holds.
    out << "<td>" << enteredText(text).toHtmlEscaped().replace(QLatin1Char('\r'), QLatin1String("&#13;")) << "</td>"
        << LineEnd;
}

// The cell of a referenced record: its name, or nothing when the record is gone.
template <typename Record> void writeNameCell(QTextStream& out, const Record* record)
{
    writeCell(out, record ? record->getName() : QString());
}

} // namespace

ExportHelper::ExportHelper()
    : QObject(nullptr)
{
}

bool ExportHelper::exportBills(const QString& fileName, QList<MBill*>* bills, QString* errorText)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        if (errorText)
            *errorText = file.errorString();
        return false;
    }
    // The household's money is its owner's business, whatever the umask says.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);

    QTextStream out(&file);
    out << "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
           "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">"
        << LineEnd;
    out << "<html xmlns=\"http://www.w3.org/1999/xhtml\" >" << LineEnd;
    out << "<head>" << LineEnd;
    out << "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\" />" << LineEnd;
    out << "</head>" << LineEnd;
    out << "<body>" << LineEnd;
    out << "<table border=\"1\">" << LineEnd;
    out << "<tr>" << LineEnd;
    for (const QString& title : { tr("<td>日期</td>"), tr("<td>类型</td>"), tr("<td>金额</td>"), tr("<td>账户</td>"),
             tr("<td>大类别</td>"), tr("<td>小类别</td>"), tr("<td>转入账户</td>"), tr("<td>借款人</td>"),
             tr("<td>成员</td>"), tr("<td>标题</td>"), tr("<td>说明</td>") })
        out << title << LineEnd;
    out << "</tr>" << LineEnd;

    const MetaData* kinds = Constants::getInstance()->getBillKinds();
    const QList<MBill*> none;
    for (const MBill* bill : std::as_const(bills ? *bills : none)) {
        out << "<tr>" << LineEnd;
        writeCell(out, bill->getDate().toString(QStringLiteral("yyyy-MM-dd")));
        writeCell(out, kinds->getLabel(bill->getKind()));
        writeCell(out, QString::number(bill->getAmount(), 'f', 2));
        writeNameCell(out, bill->getAccount());
        writeNameCell(out, bill->getCategory());
        writeNameCell(out, bill->getSubCategory());
        writeNameCell(out, bill->getToAccount());
        writeNameCell(out, bill->getBorrower());
        writeNameCell(out, bill->getMember());
        writeCell(out, bill->getTitle());
        writeCell(out, bill->getDescription());
        out << "</tr>" << LineEnd;
    }
    out << "</table>" << LineEnd << "</body>" << LineEnd << "</html>" << LineEnd;

    // The file takes the new contents only when every byte was written; until then the old one
    // stays, and a failed write leaves nothing behind.
    out.flush();
    if (out.status() != QTextStream::Ok || !file.commit()) {
        if (errorText)
            *errorText = file.errorString();
        file.cancelWriting();
        return false;
    }
    return true;
}

QString ExportHelper::askFileName(QWidget* parent)
{
    const FileNameAsker& asker = fileNameAsker();
    return asker ? asker(parent) : askWithDialog(parent);
}

void ExportHelper::setFileNameAsker(FileNameAsker asker)
{
    fileNameAsker() = std::move(asker);
}
