// The sync page against a real quorvane-service: synchronising now (asking for the account first
// when the book has none), the account dialog and the help.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QPointer>

#include "data/dbsetting.h"
#include "data/filesetting.h"
#include "engine/httphelper.h"
#include "engine/synchelper.h"
#include "modalanswerer.h"
#include "servicefixture.h"
#include "showwatcher.h"
#include "sync/usync.h"
#include "testenv.h"

namespace {

const QString runningText = QString::fromUtf8("正在同步数据...");
const QString successText = QString::fromUtf8("您已经成功完成数据同步。");

// How a progress dialog looked right after its run had ended.
struct Ending {
    int dialogs = 0;
    bool open = false;
    QString log;
};

// Watches the progress dialogs the page runs: notes how each looks once its run has ended (after
// the dialog itself has reacted) and presses its "确定" when it is still open then.
class ProgressWatcher : public QObject {
public:
    ProgressWatcher()
        : shows("DSync", [this](QWidget* dialog) { watch(dialog); })
    {
    }

    Ending ending;

private:
    void watch(QWidget* shown)
    {
        ++ending.dialogs;
        // Not the dialog as context: it lets go of every connection from the engine to itself.
        QPointer<QWidget> dialog(shown);
        connect(SyncHelper::getInstance(), &SyncHelper::syncFinished, this, [this, dialog] {
            if (!dialog)
                return;
            ending.open = dialog->isVisible();
            ending.log = dialog->findChild<QLabel*>("lblLog")->text();
            if (ending.open)
                QTimer::singleShot(0, dialog->findChild<QPushButton*>("pbOK"), &QPushButton::click);
        });
    }

    ShowWatcher shows;
};

void click(const QWidget& page, const char* button)
{
    page.findChild<QPushButton*>(QLatin1String(button))->click();
}

} // namespace

class TestUSync : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void synchroniseNow_data();
    void synchroniseNow();
    void synchroniseNowAsksForTheAccountFirst_data();
    void synchroniseNowAsksForTheAccountFirst();
    void settingsOpenWhateverIsStored();
    void helpExplainsTheMerge();

private:
    ServiceFixture service;
    AccountBook* book = nullptr;
};

void TestUSync::initTestCase()
{
    QVERIFY2(service.start(), qPrintable(service.errorText()));
}

void TestUSync::init()
{
    book = new AccountBook(service);
    QVERIFY2(book->isReady(), qPrintable(book->errorText()));
}

void TestUSync::cleanup()
{
    delete book;
    book = nullptr;
}

void TestUSync::synchroniseNow_data()
{
    QTest::addColumn<bool>("autoClose");
    QTest::newRow("auto-close on") << true;
    QTest::newRow("auto-close off") << false;
}

void TestUSync::synchroniseNow()
{
    QFETCH(bool, autoClose);
    FileSetting::getInstance()->setCloseWhenSyncFinished(autoClose);
    const QString bill = addBillRow("expense", -12.5, QDate(2026, 12, 1));
    USync page;
    page.show();
    ProgressWatcher watcher;
    const Ending& ending = watcher.ending;
    ModalAnswerer boxes; // no box at all: the account is there and the run succeeds
    boxes.leave(ModalAnswerer::ofClass("DSync"));

    click(page, "pbSync");
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(ending.dialogs, 1);
    // With auto-close the dialog was gone before the success text could show.
    QCOMPARE(ending.open, !autoClose);
    QCOMPARE(ending.log, autoClose ? runningText : successText);
    QVERIFY(!SyncHelper::getInstance()->isRunning());
    QVERIFY(!scalar("select sync_time from tbl_setting").toString().startsWith("2008-08-08"));
    const QList<QJsonObject> uploads = service.requests("sync/syncpc2.php");
    QCOMPARE(uploads.size(), 1);
    QVERIFY(fieldOf(uploads.first(), "data").contains(bill));
}

void TestUSync::synchroniseNowAsksForTheAccountFirst_data()
{
    QTest::addColumn<bool>("nameStored");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("synchronises");
    QTest::newRow("name only, dialog cancelled") << true << "cancel" << false;
    QTest::newRow("name only, password filled in") << true << "fill" << true;
    QTest::newRow("name only, password still empty") << true << "ok" << false;
    QTest::newRow("nothing stored, both filled in") << false << "fill" << true;
}

void TestUSync::synchroniseNowAsksForTheAccountFirst()
{
    QFETCH(bool, nameStored);
    QFETCH(QString, answer);
    QFETCH(bool, synchronises);
    const QString user = book->user();
    const QString password = book->password();
    DbSetting* setting = DbSetting::getInstance();
    setting->setSyncUsername(nameStored ? user : QString());
    setting->setSyncPassword(QString());
    QVERIFY(setting->save());
    FileSetting::getInstance()->setCloseWhenSyncFinished(true);
    USync page;
    page.show();
    ProgressWatcher watcher;
    const Ending& ending = watcher.ending;
    QSignalSpy started(SyncHelper::getInstance(), &SyncHelper::syncStarted);

    ModalAnswerer boxes;
    boxes.leave(ModalAnswerer::ofClass("DSync"));
    boxes.expect("错误", "请填写同步账号和密码", "确定");
    boxes.expect(
        ModalAnswerer::ofClass("DSyncConfig"),
        [=](QWidget* dialog) {
            if (answer == QLatin1String("fill")) {
                dialog->findChild<QLineEdit*>("leSyncUsername")->setText(user);
                dialog->findChild<QLineEdit*>("leSyncPassword")->setText(password);
            }
            ModalAnswerer::press(answer == QLatin1String("cancel") ? "取消" : "确定")(dialog);
        },
        answer);
    click(page, "pbSync");
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(started.count(), synchronises ? 1 : 0);
    QCOMPARE(ending.dialogs, synchronises ? 1 : 0);
    QCOMPARE(service.requests("sync/syncpc2.php").size(), synchronises ? 1 : 0);
    QCOMPARE(setting->hasSyncAccount(), synchronises);
}

void TestUSync::settingsOpenWhateverIsStored()
{
    USync page;
    page.show();
    QSignalSpy started(SyncHelper::getInstance(), &SyncHelper::syncStarted);
    QString shownUser;
    ModalAnswerer boxes;
    boxes.expect(ModalAnswerer::ofClass("DSyncConfig"), [&](QWidget* dialog) {
        shownUser = dialog->findChild<QLineEdit*>("leSyncUsername")->text();
        ModalAnswerer::closeStrip()(dialog);
    });
    click(page, "pbConfig");
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(shownUser, book->user());
    QCOMPARE(started.count(), 0);
}

void TestUSync::helpExplainsTheMerge()
{
    USync page;
    page.show();
    QString text;
    QString html;
    ModalAnswerer boxes;
    boxes.expect(ModalAnswerer::titled("关于同步"), [&](QWidget* dialog) {
        auto* browser = dialog->findChild<QTextBrowser*>("textBrowser");
        text = browser->toPlainText();
        html = browser->toHtml();
        ModalAnswerer::press("确定")(dialog);
    });
    click(page, "pbAbount");
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    for (const char* sentence : { "同步是指软件和Quorvane记账网站进行双向数据同步，通过同步可以使您软件上的数据和网站上"
                                  "的数据保持一致。",
             "同步有什么用？", "同步是如何进行的？",
             "同步并不是简单的把数据从一边复制到另一边的过程，而是一个智能合并的过程。" })
        QVERIFY2(text.contains(QString::fromUtf8(sentence)), sentence);
    // The seven cases, each with its outcome, the later change winning.
    for (int i = 1; i <= 7; ++i)
        QVERIFY(text.contains(QString::fromUtf8("情况%1：").arg(i)));
    QVERIFY(text.contains("33.44") && text.contains("12.36"));
    QCOMPARE(html.count("#ff00ff"), 2);
}

QTEST_MAIN(TestUSync)
#include "tst_usync.moc"
