// The sync account dialog: what it shows and stores, the account check against a real
// quorvane-service, and the sign-up button.
#include <QCheckBox>
#include <QDesktopServices>
#include <QJsonDocument>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlQuery>
#include <QTest>

#include "data/dbsetting.h"
#include "data/filesetting.h"
#include "engine/httphelper.h"
#include "modalanswerer.h"
#include "servicefixture.h"
#include "sync/dsyncconfig.h"
#include "testenv.h"

namespace {

const QString storedUserId = QStringLiteral("0123456789abcdef0123456789abcdef0100");
const QString storedSyncTime = QStringLiteral("2024-05-06 07:08:09");

QLineEdit* edit(const QWidget& dialog, const char* name)
{
    return dialog.findChild<QLineEdit*>(QLatin1String(name));
}

QCheckBox* checkBox(const QWidget& dialog, const char* name)
{
    return dialog.findChild<QCheckBox*>(QLatin1String(name));
}

void click(const QWidget& dialog, const char* button)
{
    QTest::mouseClick(dialog.findChild<QPushButton*>(QLatin1String(button)), Qt::LeftButton);
}

// What the book holds, read afresh from its settings row.
struct Stored {
    QString user;
    QString password;
    QString userId;
    QString syncTime;
    bool operator==(const Stored& other) const
    {
        return user == other.user && password == other.password && userId == other.userId && syncTime == other.syncTime;
    }
};

Stored stored()
{
    DbSetting row;
    return { row.getSyncUsername(), row.getSyncPassword(), row.getUserId(),
        scalar("select sync_time from tbl_setting").toString() };
}

} // namespace

// Catches what QDesktopServices::openUrl would hand to the browser.
class UrlCatcher : public QObject {
    Q_OBJECT

public:
    QList<QUrl> urls;

public slots:
    void open(const QUrl& url) { urls << url; }
};

class TestDSyncConfig : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void showsWhatIsStored();
    void okStoresAsTyped_data();
    void okStoresAsTyped();
    void leavingStoresNothing_data();
    void leavingStoresNothing();
    void bookThatCannotBeWritten();
    void checkAccount_data();
    void checkAccount();
    void eachCheckGetsItsOwnAnswer();
    void signupOpensTheSite_data();
    void signupOpensTheSite();

private:
    ServiceFixture service;
    AccountBook* book = nullptr;
};

void TestDSyncConfig::initTestCase()
{
    QVERIFY2(service.start(), qPrintable(service.errorText()));
}

void TestDSyncConfig::init()
{
    book = new AccountBook(service);
    QVERIFY2(book->isReady(), qPrintable(book->errorText()));
    // A book that was synchronised before with this account.
    DbSetting::getInstance()->setUserId(storedUserId);
    QVERIFY(DbSetting::getInstance()->save());
    QSqlQuery query;
    query.prepare("update tbl_setting set sync_time=?");
    query.addBindValue(storedSyncTime);
    QVERIFY(query.exec());
    FileSetting::getInstance()->setSyncWhenStartup(true);
    FileSetting::getInstance()->setSyncWhenClose(false);
}

void TestDSyncConfig::cleanup()
{
    delete book;
    book = nullptr;
}

void TestDSyncConfig::showsWhatIsStored()
{
    DSyncConfig dialog;
    QCOMPARE(dialog.windowTitle(), QString::fromUtf8("同步设置"));
    QCOMPARE(ModalAnswerer::titleOf(&dialog), QString::fromUtf8("同步设置"));
    QCOMPARE(edit(dialog, "leSyncUsername")->text(), book->user());
    QCOMPARE(edit(dialog, "leSyncPassword")->text(), book->password());
    QCOMPARE(edit(dialog, "leSyncPassword")->echoMode(), QLineEdit::Password);
    QVERIFY(checkBox(dialog, "cbSyncWhenStartup")->isChecked());
    QVERIFY(!checkBox(dialog, "cbSyncWhenClose")->isChecked());
}

void TestDSyncConfig::okStoresAsTyped_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("atStart");
    QTest::addColumn<bool>("atClose");
    QTest::newRow("another account") << "另一个账号"
                                     << "pw 2+2" << false << true;
    QTest::newRow("emptied") << ""
                             << "" << true << false;
    QTest::newRow("spaces kept") << " me "
                                 << " x " << true << true;
}

void TestDSyncConfig::okStoresAsTyped()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(bool, atStart);
    QFETCH(bool, atClose);
    DSyncConfig dialog;
    dialog.show();
    edit(dialog, "leSyncUsername")->setText(user);
    edit(dialog, "leSyncPassword")->setText(password);
    checkBox(dialog, "cbSyncWhenStartup")->setChecked(atStart);
    checkBox(dialog, "cbSyncWhenClose")->setChecked(atClose);
    ModalAnswerer boxes; // OK asks the service nothing and shows nothing
    click(dialog, "pbOK");
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(DbSetting::getInstance()->getSyncUsername(), user);
    QCOMPARE(DbSetting::getInstance()->getSyncPassword(), password);
    // The book keeps its user id and the time of its last synchronisation, whatever the account.
    QCOMPARE(stored(), (Stored { user, password, storedUserId, storedSyncTime }));
    QCOMPARE(FileSetting::getInstance()->getSyncWhenStartup(), atStart);
    QCOMPARE(FileSetting::getInstance()->getSyncWhenClose(), atClose);
    QVERIFY(service.requests().isEmpty());
}

void TestDSyncConfig::leavingStoresNothing_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("取消") << "取消";
    QTest::newRow("title strip") << "strip";
    QTest::newRow("Escape") << "escape";
}

void TestDSyncConfig::leavingStoresNothing()
{
    QFETCH(QString, how);
    const Stored before = stored();
    ModalAnswerer boxes;
    boxes.expect(
        ModalAnswerer::ofClass("DSyncConfig"),
        [how](QWidget* dialog) {
            edit(*dialog, "leSyncUsername")->setText("someone else");
            edit(*dialog, "leSyncPassword")->setText("other");
            checkBox(*dialog, "cbSyncWhenStartup")->setChecked(false);
            checkBox(*dialog, "cbSyncWhenClose")->setChecked(true);
            ModalAnswerer::named(how)(dialog);
        },
        how);
    DSyncConfig dialog;
    QCOMPARE(dialog.exec(), int(QDialog::Rejected));
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(stored(), before);
    QCOMPARE(DbSetting::getInstance()->getSyncUsername(), book->user());
    QVERIFY(FileSetting::getInstance()->getSyncWhenStartup());
    QVERIFY(!FileSetting::getInstance()->getSyncWhenClose());
}

void TestDSyncConfig::bookThatCannotBeWritten()
{
    QVERIFY(
        execAll({ "create trigger refuse before update on tbl_setting begin select raise(abort, 'refused'); end" }));
    const Stored before = stored();
    DSyncConfig dialog;
    dialog.show();
    edit(dialog, "leSyncUsername")->setText("new name");
    checkBox(dialog, "cbSyncWhenClose")->setChecked(true);
    ModalAnswerer boxes;
    boxes.expect("错误", "同步账号没有保存：账本无法写入，请稍后再试。", "确定");
    click(dialog, "pbOK");
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    // Nothing half-done: the dialog stays open with what was typed, and nothing changed anywhere.
    QVERIFY(dialog.isVisible());
    QCOMPARE(edit(dialog, "leSyncUsername")->text(), QString("new name"));
    QCOMPARE(stored(), before);
    QCOMPARE(DbSetting::getInstance()->getSyncUsername(), book->user());
    QVERIFY(!FileSetting::getInstance()->getSyncWhenClose());
}

void TestDSyncConfig::checkAccount_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    const QString right = QStringLiteral("secret 1+1");
    const QString ok = QString::fromUtf8("正确！");
    const QString wrong = QString::fromUtf8("错误！");
    const QString refused = QString::fromUtf8("用户名或密码错误！");
    const QString unreachable = QString::fromUtf8("与服务器通讯出错！");
    QTest::newRow("known account") << right << "" << ok << QString::fromUtf8("用户名密码正确！");
    QTest::newRow("wrong password") << "secret 1 1"
                                    << "" << wrong << refused;
    QTest::newRow("error object") << right << R"({"error": 3, "message": "x"})" << wrong << refused;
    QTest::newRow("answer without an id") << right << R"({"body": "{\"message\": \"ok\"}"})" << wrong << unreachable;
    QTest::newRow("empty id") << right << R"({"body": "{\"id\": \"\"}"})" << wrong << unreachable;
    QTest::newRow("HTML page") << right << R"({"body": "<html><body>欢迎</body></html>"})" << wrong << unreachable;
    QTest::newRow("HTTP 500") << right << R"({"status": 500})" << wrong << unreachable;
    QTest::newRow("refused port") << right << "refused" << wrong << unreachable;
}

void TestDSyncConfig::checkAccount()
{
    QFETCH(QString, password);
    QFETCH(QString, fault);
    QFETCH(QString, title);
    QFETCH(QString, text);
    if (fault == QLatin1String("refused"))
        qputenv("QUORVANE_BASE_URL", refusedBaseUrl().toUtf8());
    else if (!fault.isEmpty())
        service.setFault("sync/userid.php", QJsonDocument::fromJson(fault.toUtf8()).object());
    // What is checked is what is typed, not what is stored.
    DbSetting::getInstance()->setSyncPassword("stored, not typed");
    QVERIFY(DbSetting::getInstance()->save());
    const Stored before = stored();
    DSyncConfig dialog;
    dialog.show();
    edit(dialog, "leSyncPassword")->setText(password);

    ModalAnswerer boxes;
    boxes.expect(title, text, "确定");
    click(dialog, "pbCheckAccount");
    QVERIFY2(boxes.waitAnswered(120000), qPrintable(boxes.report()));
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QVERIFY(dialog.isVisible());
    QCOMPARE(edit(dialog, "leSyncUsername")->text(), book->user());
    QCOMPARE(edit(dialog, "leSyncPassword")->text(), password);
    QCOMPARE(stored(), before);
    if (fault != QLatin1String("refused")) {
        const QList<QJsonObject> requests = service.requests();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests.first().value("path").toString(), QString("sync/userid.php"));
        QCOMPARE(fieldsOf(requests.first()).size(), 2);
        QCOMPARE(fieldOf(requests.first(), "username"), book->user());
    }
}

void TestDSyncConfig::eachCheckGetsItsOwnAnswer()
{
    DSyncConfig dialog;
    dialog.show();
    ModalAnswerer boxes;
    boxes.expect("正确！", "用户名密码正确！", "确定");
    boxes.expect("正确！", "用户名密码正确！", "确定");
    click(dialog, "pbCheckAccount");
    click(dialog, "pbCheckAccount");
    QVERIFY2(boxes.waitAnswered(120000), qPrintable(boxes.report()));
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(service.requests("sync/userid.php").size(), 2);
}

void TestDSyncConfig::signupOpensTheSite_data()
{
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("site");
    QTest::newRow("service at the root") << "http://127.0.0.1:8123/"
                                         << "http://127.0.0.1:8123/";
    QTest::newRow("service below a path") << "http://127.0.0.1:8123/api/v1/"
                                          << "http://127.0.0.1:8123/";
}

void TestDSyncConfig::signupOpensTheSite()
{
    QFETCH(QString, base);
    QFETCH(QString, site);
    qputenv("QUORVANE_BASE_URL", base.toUtf8());
    UrlCatcher browser;
    QDesktopServices::setUrlHandler("http", &browser, "open");
    DSyncConfig dialog;
    dialog.show();
    click(dialog, "pbSignup");
    QDesktopServices::unsetUrlHandler("http");
    QCOMPARE(browser.urls, QList<QUrl>({ QUrl(site) }));
    QVERIFY(dialog.isVisible());
}

QTEST_MAIN(TestDSyncConfig)
#include "tst_dsyncconfig.moc"
