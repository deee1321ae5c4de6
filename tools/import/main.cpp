// quorvane-import: books a CSV or QIF file into a book with the import dialog's own engine, for
// scripted migrations. A missing book is created with its default records; a book that a running
// program holds is refused. Prints the same summary as the dialog's closing box.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>

#include "data/bookfile.h"
#include "data/booklock.h"
#include "data/constants.h"
#include "data/dbhelper.h"
#include "data/filesetting.h"
#include "import/columnrole.h"
#include "import/importplan.h"
#include "import/importpreset.h"
#include "import/importsource.h"
#include "import/textdecoder.h"

namespace {

int fail(const QString& message, int code = 2)
{
    std::fprintf(stderr, "quorvane-import: %s\n", message.toUtf8().constData());
    return code;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Books the bills of a CSV or QIF file into BOOK."));
    parser.addHelpOption();
    QStringList presets;
    for (const ImportPreset& preset : ImportPreset::all())
        presets << preset.key;
    const QCommandLineOption presetOption(QStringLiteral("preset"),
        QStringLiteral("The layout of the CSV file: %1 (default: found from the header row).")
            .arg(presets.join(QStringLiteral(", "))),
        QStringLiteral("name"));
    const QCommandLineOption columnsOption(QStringLiteral("columns"),
        QStringLiteral("The role of each CSV column in order, comma-separated: date, amount, income, expense, inout, "
                       "account, to-account, category, subcategory, member, title, description, borrower, or - "
                       "to skip it."),
        QStringLiteral("roles"));
    const QCommandLineOption encodingOption(QStringLiteral("encoding"),
        QStringLiteral("The file's encoding: %1 (default: detected).")
            .arg(TextDecoder::encodings().join(QStringLiteral(", "))),
        QStringLiteral("encoding"));
    const QCommandLineOption orderOption(QStringLiteral("date-order"),
        QStringLiteral("dmy or mdy: the order of day and month in dates such as 3/4/2023."), QStringLiteral("order"));
    const QCommandLineOption accountOption(
        QStringLiteral("account"), QStringLiteral("The account of rows that name none."), QStringLiteral("name"));
    const QCommandLineOption dryRunOption(
        QStringLiteral("dry-run"), QStringLiteral("Print what would be booked; change nothing."));
    parser.addOptions({ presetOption, columnsOption, encodingOption, orderOption, accountOption, dryRunOption });
    parser.addPositionalArgument(QStringLiteral("BOOK"), QStringLiteral("The book file (created when missing)."));
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The CSV or QIF file."));
    parser.process(app);
    if (parser.positionalArguments().size() != 2)
        parser.showHelp(2);

    ImportSource::Settings settings;
    if (parser.isSet(presetOption)) {
        settings.preset = parser.value(presetOption);
        if (!ImportPreset::find(settings.preset))
            return fail(
                QStringLiteral("no preset %1 (one of %2)").arg(settings.preset, presets.join(QStringLiteral(", "))));
    }
    if (parser.isSet(columnsOption)) {
        QString word;
        if (!ColumnRole::parseList(parser.value(columnsOption), &settings.columns, &word))
            return fail(QStringLiteral("--columns: %1 is no role, or a role given twice").arg(word));
    }
    if (parser.isSet(encodingOption)) {
        settings.encoding = parser.value(encodingOption).toUpper();
        if (!TextDecoder::encodings().contains(settings.encoding))
            return fail(
                QStringLiteral("--encoding: one of %1").arg(TextDecoder::encodings().join(QStringLiteral(", "))));
    }
    ValueParser::DateOrder order = ValueParser::DateOrder::Unknown;
    if (parser.isSet(orderOption)) {
        const QString word = parser.value(orderOption);
        if (word != QLatin1String("dmy") && word != QLatin1String("mdy"))
            return fail(QStringLiteral("--date-order: dmy or mdy"));
        order = word == QLatin1String("dmy") ? ValueParser::DateOrder::DayMonth : ValueParser::DateOrder::MonthDay;
    }
    settings.defaultAccount = parser.value(accountOption).trimmed();
    settings.dateOrder = order;
    const bool dryRun = parser.isSet(dryRunOption);

    const QFileInfo bookInfo(parser.positionalArguments().at(0));
    const QString file = parser.positionalArguments().at(1);
    if (!Constants::isValidBookName(bookInfo.fileName()) || !bookInfo.absoluteDir().exists())
        return fail(QStringLiteral("not a book path: %1").arg(bookInfo.filePath()));

    // The file is read before the book is touched: a file that cannot be read leaves no new book.
    ImportSource source;
    QString error;
    if (!source.load(file, &error) || !source.parse(settings, &error))
        return fail(error);
    if (!source.isQif() && settings.columns.isEmpty() && !source.hasHeader())
        return fail(QStringLiteral("the file has no header row: name the columns with --columns"));

    // A dry run of a book that does not exist yet reads the file against a new book that nobody keeps.
    QTemporaryDir scratch;
    const bool exists = bookInfo.exists();
    const QString folder = dryRun && !exists ? scratch.path() : bookInfo.absolutePath();
    Constants::Roots roots;
    // Nothing of the program's own folders is made: the book's folder holds all.
    roots.appDir = scratch.path();
    Constants::setInstance(new Constants(roots));
    Constants::getInstance()->setBookDir(folder);
    // The program's settings are not this tool's: nothing is written beside the book but its backup.
    FileSetting::setInstance(new FileSetting(scratch.filePath(QStringLiteral("Quorvane.ini"))));
    Constants::getInstance()->setBookName(bookInfo.fileName());
    const QString path = QDir(folder).filePath(bookInfo.fileName());

    // The book is locked as the program locks the book it opens: a book another running program
    // holds is left alone.
    BookLock lock(path);
    switch (lock.lock()) {
    case BookLock::Held:
        break;
    case BookLock::HeldElsewhere:
        return fail(QStringLiteral("%1 is open in a running program; close it first").arg(path), 3);
    case BookLock::Unavailable:
        return fail(QStringLiteral("cannot lock the book %1: its folder cannot be written").arg(path));
    }
    if (!QFileInfo::exists(path)) {
        if (!BookFile::create(path, &error))
            return fail(error);
    }
    if (!DBHelper::openDefaultConnection(path) || !DBHelper::checkSchema() || !DBHelper::getInstance()->upgrade())
        return fail(QStringLiteral("cannot open the book %1").arg(path));

    ImportPlan plan;
    plan.build(source, order, settings.defaultAccount);
    if (!plan.problem().isEmpty())
        return fail(plan.problem());
    if (plan.needsDateOrder())
        return fail(QStringLiteral("the dates do not tell day from month: use --date-order dmy or mdy"));

    ImportPlan::Summary summary;
    if (dryRun) {
        summary = plan.preview();
    } else if (!plan.book(&summary, &error)) {
        return fail(error, 1);
    }
    std::printf("%s\n", ImportPlan::summaryText(summary).toUtf8().constData());
    DBHelper::closeDefaultConnection();
    return 0;
}
