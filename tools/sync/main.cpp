// quorvane-sync: synchronises one book with the web service from the command line, with the
// program's own synchronisation engine: a second "device" for the end-to-end tests, and a way to
// sync a book without opening the program. The folder is laid out as the program's own when it runs
// from there: books, Quorvane.ini and backups in FOLDER/data/.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <cstdio>

#include "data/bookfile.h"
#include "data/booklock.h"
#include "data/constants.h"
#include "data/dbhelper.h"
#include "data/dbsetting.h"
#include "data/filesetting.h"
#include "engine/httphelper.h"
#include "engine/synchelper.h"
#include "passwordinput.h"

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Synchronises the book FOLDER/data/BOOK with the web service."));
    parser.addHelpOption();
    const QCommandLineOption folderOption(QStringLiteral("folder"),
        QStringLiteral("The program folder (default: the current one)."), QStringLiteral("dir"), QStringLiteral("."));
    const QCommandLineOption createOption(
        QStringLiteral("create"), QStringLiteral("Create the book with the default records when it does not exist."));
    const QCommandLineOption userOption(
        QStringLiteral("user"), QStringLiteral("Store this sync account name in the book."), QStringLiteral("name"));
    const QCommandLineOption passwordOption(QStringLiteral("password"),
        QStringLiteral("Store this sync password in the book. It is visible to every user of this computer while "
                       "quorvane-sync runs; --ask-password keeps it off the command line."),
        QStringLiteral("password"));
    const QCommandLineOption askPasswordOption(QStringLiteral("ask-password"),
        QStringLiteral("Store the sync password in the book, asked for (not shown) or read from the first line of "
                       "standard input."));
    const QCommandLineOption urlOption(QStringLiteral("base-url"),
        QStringLiteral("The web service's address (default: QUORVANE_BASE_URL or the program's)."),
        QStringLiteral("url"));
    const QCommandLineOption timeoutOption(QStringLiteral("timeout-ms"),
        QStringLiteral("Give up a request after this long without progress (default 60000)."), QStringLiteral("ms"));
    const QCommandLineOption replyOption(QStringLiteral("max-reply-bytes"),
        QStringLiteral("Refuse a reply larger than this (default 1073741824)."), QStringLiteral("bytes"));
    parser.addOptions({ folderOption, createOption, userOption, passwordOption, askPasswordOption, urlOption,
        timeoutOption, replyOption });
    parser.addPositionalArgument(QStringLiteral("book"), QStringLiteral("The book's file name, e.g. Quorvane.db."));
    parser.process(app);
    if (parser.positionalArguments().size() != 1)
        parser.showHelp(2);
    QString password = parser.value(passwordOption);
    if (parser.isSet(askPasswordOption)) {
        if (parser.isSet(passwordOption)) {
            std::fprintf(stderr, "quorvane-sync: --password or --ask-password, not both\n");
            return 2;
        }
        QString error;
        password = PasswordInput::read(QStringLiteral("Sync password: "), false, &error);
        if (password.isEmpty()) {
            std::fprintf(stderr, "quorvane-sync: %s\n", qPrintable(error));
            return 2;
        }
    }
    const bool passwordGiven = parser.isSet(passwordOption) || parser.isSet(askPasswordOption);

    if (parser.isSet(urlOption))
        qputenv("QUORVANE_BASE_URL", parser.value(urlOption).toUtf8());
    if (parser.isSet(timeoutOption))
        HttpHelper::setTransferTimeout(parser.value(timeoutOption).toInt());
    if (parser.isSet(replyOption))
        HttpHelper::setMaxReplyBytes(parser.value(replyOption).toLongLong());

    Constants::Roots roots;
    roots.appDir = QDir(parser.value(folderOption)).absolutePath();
    Constants::setInstance(new Constants(roots));
    Constants* constants = Constants::getInstance();
    // The program's last book stays what it was: this is not the program opening a book.
    if (!constants->setBookName(parser.positionalArguments().constFirst())) {
        std::fprintf(stderr, "quorvane-sync: not a book name: %s\n", qPrintable(parser.positionalArguments().first()));
        return 2;
    }
    const QString path = constants->getDbDir() + constants->getBookName();
    // Held while the book is synchronised: a running program has it open, or it is left alone.
    if (BookLock::holdOpenBook(path) == BookLock::HeldElsewhere) {
        std::fprintf(stderr, "quorvane-sync: %s is open in a running program\n", qPrintable(path));
        return 2;
    }
    if (!QFile::exists(path)) {
        if (!parser.isSet(createOption)) {
            std::fprintf(stderr, "quorvane-sync: no book %s (use --create)\n", qPrintable(path));
            return 2;
        }
        // Whole or not at all: a book whose default records failed is never left for a later run.
        QString error;
        if (!BookFile::create(path, &error)) {
            std::fprintf(stderr, "quorvane-sync: cannot create %s: %s\n", qPrintable(path), qPrintable(error));
            return 2;
        }
    }
    if (!DBHelper::openDefaultConnection(path) || !DBHelper::getInstance()->upgrade()) {
        std::fprintf(stderr, "quorvane-sync: cannot open %s\n", qPrintable(path));
        return 2;
    }

    DbSetting* setting = DbSetting::getInstance();
    if (parser.isSet(userOption) || passwordGiven) {
        if (parser.isSet(userOption))
            setting->setSyncUsername(parser.value(userOption));
        if (passwordGiven)
            setting->setSyncPassword(password);
        if (!setting->save()) {
            std::fprintf(stderr, "quorvane-sync: cannot store the sync account\n");
            return 2;
        }
    }
    if (!setting->hasSyncAccount()) {
        std::fprintf(stderr, "quorvane-sync: the book has no sync account (use --user and --ask-password)\n");
        return 2;
    }

    int result = 0;
    SyncHelper* sync = SyncHelper::getInstance();
    QObject::connect(sync, &SyncHelper::syncFinished, &app, [] {
        std::printf("synchronised\n");
        QCoreApplication::exit(0);
    });
    QObject::connect(sync, &SyncHelper::syncError, &app, [&result](int code, const QString& message) {
        std::fprintf(stderr, "quorvane-sync: error %d: %s\n", code, qPrintable(message));
        result = 1;
        QCoreApplication::exit(1);
    });
    // The run goes on; the warning goes to the error stream, before the outcome.
    QObject::connect(sync, &SyncHelper::clockWarning, &app, [](qint64 seconds) {
        std::fprintf(stderr, "quorvane-sync: warning: %s\n", qPrintable(SyncHelper::clockWarningText(seconds)));
    });
    sync->sync();
    app.exec();
    FileSetting::getInstance()->sync();
    return result;
}
