#pragma once

#include <QString>
#include <QStringList>

// Data files of the other bookkeeping program (kobel), made from scratch for the import's tests:
// its kbl_ tables, its triggers (seven of them named like the book's own) and a few rows of each
// kind, with UUID ids.
namespace KobelFixture {

enum Variant {
    Complete,
    WithoutBorrowers, // no kbl_borrowers table
    NullDescription, // one bill without a description
    DuplicateBillIds, // two bills with one id
    NullAmount, // one bill without an amount
    DefaultIds, // an account and a category with the id "01"
    MissingColumn, // kbl_bills without its month column
    NoImportTables, // an SQLite file with tables of its own only
    NotSqlite, // a text file
};

// Writes the file at path (replacing nothing: path must be free). False when it could not.
bool make(const QString& path, Variant variant);

// The number of bills and categories in the complete file.
constexpr int BillCount = 8;
constexpr int CategoryCount = 4;

// The first column of every row of sql on the book at path, read-only, in the order returned.
QStringList columnIn(const QString& path, const QString& sql);

} // namespace KobelFixture
