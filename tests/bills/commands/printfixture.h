#pragma once

#include <QString>
#include <QStringList>

#include "bills/printhelper.h"

// In place of the print dialog: a PDF printer writing to path, and whether the user chose to print.
PrintHelper::PrintDialog pdfPrinter(const QString& path, bool accepted = true);

// What program printed on its standard output; empty when it failed or took over a minute.
QString commandOutput(const QString& program, const QStringList& arguments);

// The text of a PDF file, or a null text when pdftotext (poppler-utils) is missing. The CJK font
// maps some glyphs back to their Kangxi radicals (⽤ for 用); the text comes with those folded.
QString pdfText(const QString& path);
