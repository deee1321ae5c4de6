#include "bills/exporthelper.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>

#include "data/constants.h"
#include "data/enteredtext.h"
#include "data/filesetting.h"
#include "data/maccount.h"
#include "data/mbill.h"
#include "data/mborrower.h"
#include "data/mcategory.h"
#include "data/metadata.h"
#include "data/mmember.h"
#include "data/settingkeys.h"
#include "import/csvwriter.h"

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
    const QString excel = QObject::tr("导出Excel文件 (*.xls)");
    const QString csv = QObject::tr("导出CSV文件 (*.csv)");
    // Exports go where the last one went, at first where the user keeps documents, not wherever the
    // program was started from.
    FileSetting* settings = FileSetting::getInstance();
    QFileDialog dialog(parent, QObject::tr("导出Excel文件"),
        settings->folderFor(SettingKeys::ExportFolder, Constants::getDocumentsDir()),
        excel + QStringLiteral(";;") + csv);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    settings->rememberFolder(SettingKeys::ExportFolder, dialog.selectedFiles().value(0));
    // The dialog here does not add the chosen filter's extension by itself; a name that has one
    // keeps it, and the extension decides the format.
    QString name = dialog.selectedFiles().value(0);
    if (!name.isEmpty() && QFileInfo(name).suffix().isEmpty())
        name += dialog.selectedNameFilter() == csv ? QStringLiteral(".csv") : QStringLiteral(".xls");
    return name;
}

// Writes bytes to fileName as a whole, owner-only, or leaves the file as it was.
bool writeWhole(const QString& fileName, const QByteArray& bytes, QString* errorText)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        if (errorText)
            *errorText = file.errorString();
        return false;
    }
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        if (errorText)
            *errorText = file.errorString();
        file.cancelWriting();
        return false;
    }
    return true;
}

template <typename Record> QString nameOf(const Record* record)
{
    return record ? record->getName() : QString();
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

bool ExportHelper::exportBillsCsv(const QString& fileName, const QList<MBill*>& bills, QString* errorText)
{
    QByteArray bytes("\xEF\xBB\xBF");
    bytes.reserve(qsizetype(bills.size()) * 120 + 200);
    bytes += CsvWriter::record({ tr("日期"), tr("类型"), tr("金额"), tr("账户"), tr("转入账户"), tr("大类别"),
        tr("小类别"), tr("成员"), tr("标题"), tr("说明"), tr("借款人") });
    const MetaData* kinds = Constants::getInstance()->getBillKinds();
    for (const MBill* bill : bills) {
        // A bill keeps a date that names no day as the book has it.
        const QString date = bill->getDate().isValid() ? bill->getDate().toString(QStringLiteral("yyyy-MM-dd"))
                                                       : MBill::getStoredDate(bill->getId());
        bytes += CsvWriter::record({ date, kinds->getLabel(bill->getKind()), QString::number(bill->getAmount(), 'f', 2),
            nameOf(bill->getAccount()), nameOf(bill->getToAccount()), nameOf(bill->getCategory()),
            nameOf(bill->getSubCategory()), nameOf(bill->getMember()), enteredText(bill->getTitle()),
            enteredText(bill->getDescription()), nameOf(bill->getBorrower()) });
    }
    return writeWhole(fileName, bytes, errorText);
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
