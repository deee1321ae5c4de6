// quorvane-bookdriver: works on book files through the program's own classes, for the tests of book
// files.
//
//     quorvane-bookdriver --hold BOOK
//         takes the book's lock as a running program holds its open book, says "HELD" (or
//         "REFUSED" when another program holds it) and keeps it until its input ends.
//     quorvane-bookdriver --torn BOOK
//         leaves BOOK as a process that died in the middle of a large write leaves it.
//     quorvane-bookdriver --folder DIR --seed N --source FILE... --kobel FILE...
//         creates, renames, deletes, restores into and imports into the books of DIR/data at random,
//         for ever; the restore and the import replace "target.db". It says "BEGIN {json}" before
//         each of them and "ACK {json}" once it has returned success; "tear" ops leave a book with
//         a cut-off write and end the process. tst_crashbooks kills it at random moments.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <cstdio>
#include <unistd.h>

#include "data/backuphelper.h"
#include "data/bookfile.h"
#include "data/booklist.h"
#include "data/booklock.h"
#include "data/constants.h"
#include "data/filesetting.h"
#include "driverkit.h"

namespace {

using DriverKit::compact;
using DriverKit::say;

const QString Target = QStringLiteral("target.db");

int hold(const QString& book)
{
    if (BookLock::holdOpenBook(book) != BookLock::Held) {
        say("REFUSED");
        return 1;
    }
    say("HELD");
    // Until whoever started it closes its input (or kills it).
    char byte = 0;
    while (::read(STDIN_FILENO, &byte, 1) > 0) { }
    return 0;
}

class Driver {
public:
    Driver(quint32 seed, const QStringList& sources, const QStringList& kobelFiles)
        : seed(seed)
        , random(seed)
        , sources(sources)
        , kobelFiles(kobelFiles)
    {
    }

    [[noreturn]] void run();

private:
    void begin(QJsonObject op);
    void acknowledge(bool ok, const QString& what, const QString& reason);
    QString dataDir() const { return Constants::getInstance()->getDbDir(); }
    QStringList otherBooks() const;
    QString pick(const QStringList& names) { return names.at(int(random.bounded(quint32(names.size())))); }
    QString newName(const char* prefix)
    {
        return QStringLiteral("%1%2-%3.db").arg(QLatin1String(prefix)).arg(seed).arg(++made);
    }

    quint32 seed;
    QRandomGenerator random;
    QStringList sources;
    QStringList kobelFiles;
    int sequence = 0;
    int made = 0;
};

void Driver::begin(QJsonObject op)
{
    op.insert(QStringLiteral("seq"), ++sequence);
    say("BEGIN " + compact(op));
}

void Driver::acknowledge(bool ok, const QString& what, const QString& reason)
{
    if (!ok) {
        say("FAIL "
            + compact({ { QStringLiteral("seq"), sequence }, { QStringLiteral("what"), what },
                { QStringLiteral("reason"), reason } }));
        ::_exit(3);
    }
    say("ACK " + compact({ { QStringLiteral("seq"), sequence } }));
}

QStringList Driver::otherBooks() const
{
    QStringList books = BookList::files(dataDir());
    books.removeAll(Target);
    return books;
}

void Driver::run()
{
    say("READY");
    for (;;) {
        const QStringList others = otherBooks();
        // The folder keeps between three and eight books besides the target.
        int op = int(random.bounded(20u));
        if (others.size() < 3 && op >= 7 && op < 10)
            op = 0;
        if (others.size() > 8 && op < 4)
            op = 7;
        QString reason;
        if (op < 4) {
            const QString name = newName("c");
            begin({ { "op", "create" }, { "file", name } });
            acknowledge(BookFile::create(dataDir() + name, &reason), QStringLiteral("create"), reason);
        } else if (op < 7) {
            const QString from = pick(others);
            const QString to = newName("r");
            begin({ { "op", "rename" }, { "from", from }, { "to", to } });
            acknowledge(BackupHelper::renameBook(from, to, &reason), QStringLiteral("rename"), reason);
        } else if (op < 10) {
            const QString file = pick(others);
            begin({ { "op", "delete" }, { "file", file } });
            acknowledge(BackupHelper::deleteBook(file, &reason), QStringLiteral("delete"), reason);
        } else if (op < 14) {
            const int source = int(random.bounded(quint32(sources.size())));
            begin({ { "op", "restore" }, { "source", source } });
            acknowledge(BackupHelper::restore(sources.at(source), &reason), QStringLiteral("restore"), reason);
        } else if (op < 19) {
            const int variant = int(random.bounded(quint32(kobelFiles.size())));
            begin({ { "op", "import" }, { "variant", variant } });
            acknowledge(BackupHelper::kobel(kobelFiles.at(variant), nullptr, nullptr, &reason),
                QStringLiteral("import"), reason);
        } else {
            const QString file = pick(others + QStringList { Target });
            begin({ { "op", "tear" }, { "file", file } });
            DriverKit::tearAndDie(dataDir() + file);
        }
    }
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption holdOption(
        QStringLiteral("hold"), QStringLiteral("hold the book's lock"), QStringLiteral("book"));
    const QCommandLineOption tornOption(
        QStringLiteral("torn"), QStringLiteral("leave a cut-off write"), QStringLiteral("book"));
    const QCommandLineOption folder(QStringLiteral("folder"), QStringLiteral("program folder"), QStringLiteral("dir"));
    const QCommandLineOption seed(QStringLiteral("seed"), QStringLiteral("random seed"), QStringLiteral("n"));
    const QCommandLineOption source(
        QStringLiteral("source"), QStringLiteral("book to restore"), QStringLiteral("file"));
    const QCommandLineOption kobel(QStringLiteral("kobel"), QStringLiteral("file to import"), QStringLiteral("file"));
    parser.addOptions({ holdOption, tornOption, folder, seed, source, kobel });
    parser.process(app);
    if (parser.isSet(holdOption))
        return hold(parser.value(holdOption));
    if (parser.isSet(tornOption))
        DriverKit::tearAndDie(parser.value(tornOption));

    Constants::Roots roots;
    roots.appDir = QDir(parser.value(folder)).absolutePath();
    Constants::setInstance(new Constants(roots));
    FileSetting::getInstance();
    Constants::getInstance()->setBookName(Target);
    Driver(parser.value(seed).toUInt(), parser.values(source), parser.values(kobel)).run();
}
