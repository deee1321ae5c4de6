// quorvane-crashdriver: writes to a book at random through the program's own classes, for ever, and
// says what it does on its standard output, one line each: "BEGIN {json}" before a write starts
// (what it is about to write) and "ACK {json}" once the write has returned success. tst_crashwrites
// kills it with SIGKILL at random moments and checks the book against the lines it got.
//
//     quorvane-crashdriver --folder DIR --seed N --kobel FILE --kobel FILE --service URL --user NAME
//         --password SECRET --config FILE --prefix PREFIX
//     quorvane-crashdriver --torn PATH
//
// The second form leaves PATH as a process that died in the middle of a large write leaves it: part
// of the transaction written into the file, the rollback journal beside it.
#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QSaveFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <unistd.h>

#include "bills/dquickchange.h"
#include "data/backuphelper.h"
#include "data/constants.h"
#include "data/dbhelper.h"
#include "data/dbsetting.h"
#include "data/filesetting.h"
#include "data/mbill.h"
#include "data/mcategory.h"
#include "data/sqlhelper.h"
#include "engine/synchelper.h"
#include "randomwrites.h"
#include "servicestore.h"
#include "testenv.h"

namespace {

int sequence = 0;

// One line, in one write: a line shorter than the pipe's buffer arrives whole or not at all, and a
// longer one that a kill cuts short has no line end, so the reader drops it.
void say(const QByteArray& text)
{
    const QByteArray line = text + '\n';
    qsizetype done = 0;
    while (done < line.size()) {
        const ssize_t written = ::write(STDOUT_FILENO, line.constData() + done, size_t(line.size() - done));
        if (written <= 0)
            ::_exit(4);
        done += written;
    }
}

QByteArray compact(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

void begin(QJsonObject op)
{
    op.insert(QStringLiteral("seq"), ++sequence);
    say("BEGIN " + compact(op));
}

void acknowledge(QJsonObject result = {})
{
    result.insert(QStringLiteral("seq"), sequence);
    say("ACK " + compact(result));
}

[[noreturn]] void failed(const QString& what)
{
    say("FAIL " + compact({ { QStringLiteral("seq"), sequence }, { QStringLiteral("what"), what } }));
    ::_exit(3);
}

void confirm(bool ok, const QString& what, const QJsonObject& result = {})
{
    if (!ok)
        failed(what);
    acknowledge(result);
}

class Driver {
public:
    struct Options {
        QStringList kobelFiles;
        QString configPath;
        QString user;
        QString secret;
        QString prefix;
    };

    Driver(const Options& given, quint32 seed)
        : options(given)
        , writes(seed)
    {
    }

    bool openBook();
    void run();

private:
    bool insertBill();
    bool updateBill();
    bool deleteBill();
    bool insertReference();
    bool updateReference();
    bool deleteReference();
    bool quickChange();
    bool storeSettings();
    bool synchronise();
    bool reset();
    bool import();

    bool recordWrite(const std::function<RandomWrites::Outcome(const RandomWrites::Announce&, QString*)>& write);
    QJsonArray serverReply(bool migrating);

    Options options;
    RandomWrites writes;
    int futureSeconds = 0;
};

bool Driver::openBook()
{
    Constants* constants = Constants::getInstance();
    return TestBook::openDefault(constants->getDbDir() + constants->getBookName())
        && DBHelper::getInstance()->upgrade();
}

void Driver::run()
{
    struct Op {
        int weight;
        bool (Driver::*write)();
    };
    const Op ops[] = { { 26, &Driver::insertBill }, { 16, &Driver::updateBill }, { 9, &Driver::deleteBill },
        { 9, &Driver::insertReference }, { 7, &Driver::updateReference }, { 4, &Driver::deleteReference },
        { 7, &Driver::quickChange }, { 1, &Driver::storeSettings }, { 6, &Driver::synchronise }, { 1, &Driver::reset },
        { 2, &Driver::import } };
    int total = 0;
    for (const Op& op : ops)
        total += op.weight;
    say("READY");
    for (;;) {
        int roll = writes.between(1, total);
        for (const Op& op : ops) {
            roll -= op.weight;
            if (roll <= 0) {
                (this->*op.write)();
                break;
            }
        }
    }
}

// One of the record writes, announced before it is made and acknowledged once it returned success.
bool Driver::recordWrite(const std::function<RandomWrites::Outcome(const RandomWrites::Announce&, QString*)>& write)
{
    QString id;
    const RandomWrites::Outcome outcome = write([](const QJsonObject& op) { begin(op); }, &id);
    if (outcome == RandomWrites::Outcome::Skipped)
        return false;
    QJsonObject result;
    if (!id.isEmpty())
        result.insert(QStringLiteral("id"), id);
    confirm(outcome == RandomWrites::Outcome::Written, QStringLiteral("record write"), result);
    return true;
}

bool Driver::insertBill()
{
    return recordWrite(
        [this](const RandomWrites::Announce& announce, QString* id) { return writes.insertBill(announce, id); });
}

bool Driver::updateBill()
{
    return recordWrite(
        [this](const RandomWrites::Announce& announce, QString*) { return writes.updateBill(announce); });
}

bool Driver::deleteBill()
{
    return recordWrite(
        [this](const RandomWrites::Announce& announce, QString*) { return writes.deleteBill(announce); });
}

bool Driver::insertReference()
{
    const QString table = writes.pick(RandomWrites::referenceTables());
    return recordWrite([&](const RandomWrites::Announce& announce, QString* id) {
        return writes.insertReference(table, announce, id);
    });
}

bool Driver::updateReference()
{
    const QString table = writes.pick(RandomWrites::referenceTables());
    return recordWrite(
        [&](const RandomWrites::Announce& announce, QString*) { return writes.updateReference(table, announce); });
}

bool Driver::deleteReference()
{
    const QString table = writes.pick(RandomWrites::referenceTables());
    return recordWrite(
        [&](const RandomWrites::Announce& announce, QString*) { return writes.deleteReference(table, announce); });
}

bool Driver::quickChange()
{
    const QString type = writes.pick(QStringList { "account", "member", "category", "borrower" });
    QList<MBill*> bills = RandomWrites::bills();
    QString kind;
    if (type == QLatin1String("category")) {
        kind = writes.chance(70) ? QStringLiteral("expense") : QStringLiteral("income");
        // Every category the combo could stop at must have sub-categories, or the dialog asks
        // whether to make one.
        const QList<MCategory*>* categories = MCategory::get(kind);
        if (categories->isEmpty()
            || std::any_of(categories->cbegin(), categories->cend(),
                [](const MCategory* category) { return category->getChildren().isEmpty(); }))
            return false;
        bills.erase(
            std::remove_if(bills.begin(), bills.end(), [&](const MBill* bill) { return bill->getKind() != kind; }),
            bills.end());
    }
    if (bills.isEmpty())
        return false;
    QList<MBill*> chosen;
    for (int i = writes.between(1, 8); i > 0 && !bills.isEmpty(); --i)
        chosen << bills.takeAt(writes.between(0, int(bills.size()) - 1));

    DQuickChange dialog(type, chosen, nullptr);
    auto* box = dialog.findChild<QComboBox*>(QStringLiteral("comboBox"));
    auto* subBox = dialog.findChild<QComboBox*>(QStringLiteral("comboBox2"));
    auto* ok = dialog.findChild<QPushButton*>(QStringLiteral("pbOK"));
    if (!box || !subBox || !ok || box->count() == 0)
        return false;
    box->setCurrentIndex(writes.between(0, box->count() - 1));
    if (type == QLatin1String("category")) {
        if (subBox->count() == 0)
            return false;
        subBox->setCurrentIndex(writes.between(0, subBox->count() - 1));
    }
    QJsonArray ids;
    for (const MBill* bill : std::as_const(chosen))
        ids.append(bill->getId());
    begin({ { QStringLiteral("op"), QStringLiteral("quick") }, { QStringLiteral("type"), type },
        { QStringLiteral("ids"), ids }, { QStringLiteral("value"), box->currentData().toString() },
        { QStringLiteral("sub"), type == QLatin1String("category") ? subBox->currentData().toString() : QString() } });
    ok->click();
    confirm(dialog.result() == QDialog::Accepted, QStringLiteral("DQuickChange"));
    return true;
}

bool Driver::storeSettings()
{
    DbSetting* setting = DbSetting::getInstance();
    const QString password = QStringLiteral("pw%1").arg(writes.between(1, 9999));
    begin({ { QStringLiteral("op"), QStringLiteral("settings") }, { QStringLiteral("password"), password } });
    setting->setSyncUsername(options.user);
    setting->setSyncPassword(options.secret);
    setting->setPassword(password);
    confirm(setting->save(), QStringLiteral("DbSetting::save"));
    return true;
}

// A change set as the service sends it back: new bills and accounts, later versions of some rows,
// deletions of rows no bill needs. Its versions lie after every version in the book, so each row
// wins; the ids are those the book will have once its default records carry the account's prefix.
QJsonArray Driver::serverReply(bool migrating)
{
    const auto migrated = [&](const QString& id) { return migrating && id.size() == 2 ? options.prefix + id : id; };
    const QDateTime newest = timestampFromText(sqlValue(QSqlDatabase::database(),
        QStringLiteral("select max(v) from (select max(version) v from tbl_bill union all select max(version) from "
                       "tbl_account union all select max(version) from tbl_member union all select "
                       "max(version) from tbl_bill_deleted)"),
        {}, QString())
                                                   .toString());
    QDateTime base = QDateTime::currentDateTimeUtc().addYears(5);
    if (newest.isValid() && newest >= base)
        base = newest.addSecs(1);
    const auto nextVersion = [&] { return timestampToText(base.addSecs(futureSeconds++)); };

    QJsonArray billRows;
    QJsonArray billDeletions;
    QStringList keep; // references the reply's bills use
    const auto billRow = [&](const QString& id, MBill& bill) {
        const QString version = nextVersion();
        const QStringList references
            = { migrated(bill.getCategoryId()), migrated(bill.getSubCategoryId()), migrated(bill.getAccountId()),
                  migrated(bill.getToAccountId()), migrated(bill.getBorrowerId()), migrated(bill.getMemberId()) };
        keep << references;
        QJsonArray row { id, bill.getTitle(), RandomWrites::money(bill.getAmount()), bill.getDescription(),
            bill.getDate().toString(Qt::ISODate), QString::number(bill.getMonth()) };
        for (const QString& reference : references)
            row.append(reference);
        row.append(bill.getKind());
        row.append(version);
        row.append(version);
        billRows.append(row);
    };
    for (int i = writes.between(0, 2); i > 0; --i) {
        MBill bill;
        if (writes.fillBill(bill, writes.pick(RandomWrites::billKinds())))
            billRow(newRecordId(), bill);
    }
    QList<MBill*> bills = RandomWrites::bills();
    for (int i = writes.between(0, 2); i > 0 && !bills.isEmpty(); --i) {
        const MBill* existing = bills.takeAt(writes.between(0, int(bills.size()) - 1));
        MBill bill;
        if (writes.fillBill(bill, existing->getKind()))
            billRow(existing->getId(), bill);
    }
    if (!bills.isEmpty() && writes.chance(50))
        billDeletions.append(
            QJsonArray { bills.takeAt(writes.between(0, int(bills.size()) - 1))->getId(), nextVersion() });

    QJsonArray reply { QJsonObject { { QStringLiteral("table_name"), QStringLiteral("bill") },
        { QStringLiteral("update_columns"),
            QJsonArray::fromStringList(ServiceStore::columnsOf(QStringLiteral("bill"))) },
        { QStringLiteral("update_data"), billRows },
        { QStringLiteral("delete_columns"), QJsonArray { "id", "version" } },
        { QStringLiteral("delete_data"), billDeletions } } };

    // An account or a member, new or changed; a record no bill uses deleted.
    for (const QString& table : { QStringLiteral("account"), QStringLiteral("member") }) {
        const bool account = table == QLatin1String("account");
        const QStringList columns = ServiceStore::columnsOf(table);
        QJsonArray rows;
        QJsonArray deletions;
        const QStringList ids = RandomWrites::liveIds(table);
        if (writes.chance(60)) {
            const QString id = !ids.isEmpty() && writes.chance(50) ? migrated(writes.pick(ids)) : newRecordId();
            QJsonArray row { id, writes.words(2) + QString::number(writes.between(1, 999)) };
            if (account) {
                row.append(writes.pick(QStringList { "cash", "card", "fund" }));
                row.append(RandomWrites::money(writes.between(-5000, 5000) / 100.0));
            }
            row.append(writes.words(2));
            row.append(QString::number(writes.between(1, 60)));
            row.append(nextVersion());
            rows.append(row);
            keep << id;
        }
        if (writes.chance(30)) {
            QStringList candidates;
            for (const QString& id : ids) {
                if (RandomWrites::unused(table, id) && !keep.contains(migrated(id)))
                    candidates << migrated(id);
            }
            if (!candidates.isEmpty())
                deletions.append(QJsonArray { writes.pick(candidates), nextVersion() });
        }
        reply.append(QJsonObject { { QStringLiteral("table_name"), table },
            { QStringLiteral("update_columns"), QJsonArray::fromStringList(columns) },
            { QStringLiteral("update_data"), rows },
            { QStringLiteral("delete_columns"), QJsonArray { "id", "version" } },
            { QStringLiteral("delete_data"), deletions } });
    }
    return reply;
}

bool Driver::synchronise()
{
    DbSetting* setting = DbSetting::getInstance();
    if (!setting->hasSyncAccount())
        return storeSettings();
    const bool migrating = setting->getUserId().isEmpty();
    const QJsonArray reply = serverReply(migrating);
    // The service answers this run's upload with the reply: the program's whole road, HTTP included.
    QSaveFile config(options.configPath);
    if (!config.open(QIODevice::WriteOnly))
        failed(QStringLiteral("config file"));
    config.write(compact({ { QStringLiteral("faults"),
        QJsonObject { { QStringLiteral("sync/syncpc2.php"),
            QJsonObject { { QStringLiteral("body"),
                QString::fromUtf8(QJsonDocument(reply).toJson(QJsonDocument::Compact)) } } } } } }));
    if (!config.commit())
        failed(QStringLiteral("config file"));

    begin({ { QStringLiteral("op"), QStringLiteral("sync") }, { QStringLiteral("migrate"), migrating },
        { QStringLiteral("reply"), reply } });
    SyncHelper* sync = SyncHelper::getInstance();
    QEventLoop loop;
    bool finished = false;
    QString error = QStringLiteral("no end");
    QObject::connect(sync, &SyncHelper::syncFinished, &loop, [&] {
        finished = true;
        loop.quit();
    });
    QObject::connect(sync, &SyncHelper::syncError, &loop, [&](int code, const QString& message) {
        error = QStringLiteral("%1 %2").arg(code).arg(message);
        loop.quit();
    });
    QTimer::singleShot(90000, &loop, &QEventLoop::quit);
    if (!sync->sync())
        failed(QStringLiteral("sync refused"));
    loop.exec();
    confirm(finished, QStringLiteral("sync: ") + error);
    return true;
}

bool Driver::reset()
{
    begin({ { QStringLiteral("op"), QStringLiteral("reset") } });
    confirm(BackupHelper::resetBook(), QStringLiteral("BackupHelper::resetBook"));
    return true;
}

bool Driver::import()
{
    const int variant = writes.between(0, int(options.kobelFiles.size()) - 1);
    begin({ { QStringLiteral("op"), QStringLiteral("import") }, { QStringLiteral("variant"), variant } });
    // As the program does it: the book is closed, the next start imports before it opens anything.
    DbSetting::setInstance(nullptr);
    TestBook::closeDefault();
    const bool ok = BackupHelper::kobel(options.kobelFiles.at(variant));
    if (!openBook())
        failed(QStringLiteral("book does not open after the import"));
    confirm(ok, QStringLiteral("BackupHelper::kobel"));
    return true;
}

// Part of a large transaction written, the journal hot beside it, and then the process is gone.
[[noreturn]] void tear(const QString& path)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("torn"));
        db.setDatabaseName(path);
        QSqlQuery query(db);
        if (!db.open() || !query.exec(QStringLiteral("pragma cache_size=1")) || !query.exec(QStringLiteral("begin")))
            ::_exit(5);
        // Every row rewritten, so that the journal holds every page of the file as it was.
        QStringList tables;
        if (query.exec(QStringLiteral("select name from sqlite_master where type='table'"))) {
            while (query.next())
                tables << query.value(0).toString();
        }
        for (const QString& table : std::as_const(tables)) {
            if (!query.exec(QStringLiteral("update \"%1\" set rowid=rowid").arg(table)))
                ::_exit(5);
        }
        if (!query.exec(QStringLiteral("create table torn_rows (x)")))
            ::_exit(5);
        query.prepare(QStringLiteral("insert into torn_rows values (?)"));
        for (int i = 0; i < 3000; ++i) {
            query.addBindValue(QString(200, QLatin1Char('t')));
            if (!query.exec())
                ::_exit(5);
        }
    }
    std::fflush(nullptr);
    ::raise(SIGKILL);
    ::_exit(6);
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption folder(QStringLiteral("folder"), QStringLiteral("program folder"), QStringLiteral("dir"));
    const QCommandLineOption seed(QStringLiteral("seed"), QStringLiteral("random seed"), QStringLiteral("n"));
    const QCommandLineOption kobel(QStringLiteral("kobel"), QStringLiteral("import file"), QStringLiteral("file"));
    const QCommandLineOption service(
        QStringLiteral("service"), QStringLiteral("service address"), QStringLiteral("url"));
    const QCommandLineOption user(QStringLiteral("user"), QStringLiteral("sync account"), QStringLiteral("name"));
    const QCommandLineOption password(
        QStringLiteral("password"), QStringLiteral("sync password"), QStringLiteral("pw"));
    const QCommandLineOption config(QStringLiteral("config"), QStringLiteral("service config"), QStringLiteral("file"));
    const QCommandLineOption prefix(QStringLiteral("prefix"), QStringLiteral("account id prefix"), QStringLiteral("p"));
    const QCommandLineOption torn(
        QStringLiteral("torn"), QStringLiteral("leave a cut-off write"), QStringLiteral("file"));
    parser.addOptions({ folder, seed, kobel, service, user, password, config, prefix, torn });
    parser.process(app);
    if (parser.isSet(torn))
        tear(parser.value(torn));

    qputenv("QUORVANE_BASE_URL", parser.value(service).toUtf8());
    Constants::Roots roots;
    roots.appDir = QDir(parser.value(folder)).absolutePath();
    Constants::setInstance(new Constants(roots));
    FileSetting::getInstance();

    Driver::Options options;
    options.kobelFiles = parser.values(kobel);
    options.configPath = parser.value(config);
    options.user = parser.value(user);
    options.secret = parser.value(password);
    options.prefix = parser.value(prefix);
    // A message box would wait for a user for ever: the program has reported a failure.
    QTimer watchdog;
    QObject::connect(&watchdog, &QTimer::timeout, [] {
        if (QWidget* box = QApplication::activeModalWidget()) {
            QStringList texts;
            for (const QLabel* label : box->findChildren<QLabel*>())
                texts << label->text();
            failed(QStringLiteral("a message box: ") + texts.join(QLatin1Char(' ')));
        }
    });
    watchdog.start(200);
    Driver driver(options, parser.value(seed).toUInt());
    if (!driver.openBook()) {
        std::fprintf(stderr, "quorvane-crashdriver: the book does not open\n");
        return 2;
    }
    driver.run();
}
