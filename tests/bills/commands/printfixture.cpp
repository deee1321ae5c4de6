#include "printfixture.h"

#include <QPrinter>
#include <QProcess>
#include <QStandardPaths>

PrintHelper::PrintDialog pdfPrinter(const QString& path, bool accepted)
{
    return [path, accepted](QPrinter* printer) {
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(path);
        return accepted;
    };
}

QString commandOutput(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return QString();
    return QString::fromUtf8(process.readAllStandardOutput());
}

QString pdfText(const QString& path)
{
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
        return QString();
    return commandOutput(
        QStringLiteral("pdftotext"), { QStringLiteral("-enc"), QStringLiteral("UTF-8"), path, QStringLiteral("-") })
        .normalized(QString::NormalizationForm_KC);
}
