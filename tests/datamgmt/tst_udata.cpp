#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTest>

#include "data/constants.h"
#include "data/filesetting.h"
#include "data/settingkeys.h"
#include "datamgmt/dbackup.h"
#include "datamgmt/dimport.h"
#include "datamgmt/udata.h"
#include "modalanswerer.h"
#include "notifierrecorder.h"
#include "testenv.h"
#include "widgets/appcontrol.h"

namespace {

// Answers the file dialog: checks its caption and filter, then chooses path (cancels when empty).
ModalAnswerer::Answer chooseFile(const QString& path, QStringList* shown)
{
    return [path, shown](QWidget* modal) {
        auto* dialog = static_cast<QFileDialog*>(modal);
        *shown << dialog->windowTitle() << dialog->nameFilters() << dialog->directory().absolutePath();
        if (path.isEmpty()) {
            dialog->reject();
            return;
        }
        dialog->findChild<QLineEdit*>("fileNameEdit")->setText(path);
        QMetaObject::invokeMethod(dialog, "accept");
    };
}

const QStringList resetQuestions[] = {
    { "确定重置?", "重置数据将删除所有数据，并且删除数据后不可以恢复，确定重置数据？" },
    { "再次确认?", "重置数据将删除您的所有数据,并把账号恢复到注册时的状态，确定重置数据？" },
    { "最后确认?", "删除数据后不可以恢复，确定需要重置数据？" },
};

// Counts of the book's tables, as one text: live tables, then tombstone tables.
QString tableCounts()
{
    QStringList counts;
    for (const char* suffix : { "", "_deleted" }) {
        for (const char* table : { "tbl_account", "tbl_bill", "tbl_borrower", "tbl_category", "tbl_sub_category",
                 "tbl_member", "tbl_budget" })
            counts << scalar(QString("select count(*) from %1%2").arg(table, suffix)).toString();
    }
    return counts.join(' ');
}

} // namespace

// The data page and its backup settings dialog.
class TestUData : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void fiveButtons();
    void buttonsFormOneBlock();
    void manualBackup_data();
    void manualBackup();
    void restoreAndImportRestart_data();
    void restoreAndImportRestart();
    void backupSettings_data();
    void backupSettings();
    void backupFolderChooser();
    void fileDialogsStartWhereTheLastOneEnded_data();
    void fileDialogsStartWhereTheLastOneEnded();
    void resetLeavesTheDefaultRecords();
    void resetStopsAtNo_data();
    void resetStopsAtNo();
    void resetThatFailsChangesNothing();
    void resetOfABookAnotherCopyHolds();

private:
    QPushButton* button(const char* name) { return page->findChild<QPushButton*>(QLatin1String(name)); }
    // Presses reset, says yes to the three questions and answers the closing box with 确定. Empty
    // when every box came as expected, else what did not.
    QString resetAnsweringYes(const QString& title, const QString& text);
    // A book with the user's own rows: bills (one of them with a stale tombstone of its id), an
    // account, a deleted member, a budget, synchronised once under a user id.
    void fillBook();
    // Opens the file dialog of a button of the page ("pbChooseFile": the one of the CSV/QIF import
    // dialog) and chooses path in it, or cancels when path is empty; answers what the page says
    // then. The folder the dialog started in, empty when it did not come as expected.
    QString fileDialogFolder(const QString& buttonName, const QString& path);

    TestEnv* env = nullptr;
    TestBook* book = nullptr;
    UData* page = nullptr;
};

void TestUData::init()
{
    env = new TestEnv;
    book = new TestBook(env->dataDir() + Constants::getInstance()->getBookName());
    QVERIFY(book->isOpen());
    page = new UData(nullptr);
    page->show();
}

void TestUData::cleanup()
{
    delete page;
    delete book;
    delete env;
    AppControl::reset();
}

void TestUData::fillBook()
{
    addBillRow("expense", -12.5, QDate(2024, 3, 1), { { "id", "bill-1" } });
    addBillRow("income", 100, QDate(2024, 3, 2), { { "id", "bill-2" } });
    QVERIFY(execAll({ "insert into tbl_bill_deleted (id, amount, description, date, month, kind) values ('bill-1', "
                      "1, '', '2020-01-01', 202001, 'expense')",
        "insert into tbl_account (id, name, kind, amount) values ('acc-1', '钱包', 'cash', 5)",
        "insert into tbl_member (id, name) values ('m-1', '孩子')", "delete from tbl_member where id='m-1'",
        "insert into tbl_budget (id, description) values ('b-1', '预算')",
        "update tbl_setting set user_id='u9', sync_time='2024-03-03 00:00:00'" }));
}

QString TestUData::resetAnsweringYes(const QString& title, const QString& text)
{
    ModalAnswerer boxes;
    for (const QStringList& question : resetQuestions)
        boxes.expect(question[0], question[1], "是");
    boxes.expect(title, text, "确定");
    button("pbAutoBackup_2")->click();
    return boxes.answeredAll() ? QString() : boxes.report();
}

void TestUData::fiveButtons()
{
    QStringList texts;
    for (const char* name : { "pbBackup", "pbResotre", "pbAutoBackup", "pbAutoBackup_2", "pbKobel" }) {
        QPushButton* pushButton = button(name);
        QVERIFY2(pushButton, name);
        QVERIFY(!pushButton->icon().isNull());
        QCOMPARE(pushButton->minimumSize(), QSize(180, 100));
        texts << pushButton->text();
    }
    QCOMPARE(texts, QStringList({ "备份数据", "还原数据", "备份设置", "重置数据", "导入kobel数据" }));
    // Side by side, in this order.
    QVERIFY(button("pbBackup")->x() < button("pbResotre")->x());
    QVERIFY(button("pbAutoBackup_2")->x() < button("pbKobel")->x());
}

void TestUData::buttonsFormOneBlock()
{
    // As the program shows the page at its default size, in its own style.
    QFile sheet(":/rc/style/default.qss");
    QVERIFY(sheet.open(QIODevice::ReadOnly));
    qApp->setStyleSheet(QString::fromUtf8(sheet.readAll()));
    page->resize(1000, 560);
    QVERIFY(QTest::qWaitForWindowExposed(page));
    // Six equal tiles in two rows of three, in the order of the page's tasks: none stands apart.
    const char* const names[] = { "pbBackup", "pbResotre", "pbAutoBackup", "pbAutoBackup_2", "pbKobel", "pbImport" };
    const QRect first = button(names[0])->geometry();
    QVERIFY(first.width() >= 180 && first.height() >= 100);
    for (int i = 0; i < 6; ++i) {
        QPushButton* tile = button(names[i]);
        QVERIFY2(tile->isVisible(), names[i]);
        QCOMPARE(tile->size(), first.size());
        QCOMPARE(tile->x(), button(names[i % 3])->x());
        QCOMPARE(tile->y(), button(names[i < 3 ? 0 : 3])->y());
        // Each text whole on its tile.
        QVERIFY2(tile->width() >= tile->sizeHint().width(), names[i]);
    }
    QVERIFY(button("pbBackup")->x() < button("pbResotre")->x());
    QVERIFY(button("pbResotre")->x() < button("pbAutoBackup")->x());
    QVERIFY(button("pbAutoBackup_2")->y() > first.bottom());
    // In the middle of the page.
    const int left = first.left();
    const int right = page->width() - 1 - button("pbAutoBackup")->geometry().right();
    QVERIFY2(qAbs(left - right) <= 1, qPrintable(QString("%1 | %2").arg(left).arg(right)));
    qApp->setStyleSheet(QString());
}

void TestUData::manualBackup_data()
{
    QTest::addColumn<QString>("typed"); // relative to the test folder; empty cancels
    QTest::addColumn<QString>("written");
    QTest::addColumn<QString>("error");

    QTest::newRow("cancelled") << ""
                               << "" << QString();
    QTest::newRow("a new file") << "copy.db"
                                << "copy.db" << QString();
    QTest::newRow("a name without extension") << "copy"
                                              << "copy.db" << QString();
    QTest::newRow("an existing file stays") << "taken.db"
                                            << ""
                                            << "文件已经存在，备份没有完成。请选择一个新的文件名。";
    QTest::newRow("a folder that is not there") << "missing/copy.db"
                                                << ""
                                                << "备份数据文件出现错误：";
}

void TestUData::manualBackup()
{
    QFETCH(QString, typed);
    QFETCH(QString, written);
    QFETCH(QString, error);
    QVERIFY(execAll({ "insert into tbl_member (id, name) values ('mark', '备份')" }));
    const QString taken = env->root() + "/taken.db";
    QFile takenFile(taken);
    QVERIFY(takenFile.open(QIODevice::WriteOnly));
    takenFile.write("keep me");
    takenFile.close();
    const QStringList before = QDir(env->root()).entryList(QDir::Files);

    QStringList shown;
    ModalAnswerer boxes;
    boxes.expect(
        ModalAnswerer::ofClass("QFileDialog"), chooseFile(typed.isEmpty() ? "" : env->root() + "/" + typed, &shown));
    if (!error.isEmpty())
        boxes.expect(
            [error](QWidget* modal) {
                return ModalAnswerer::titleOf(modal) == "错误" && ModalAnswerer::textOf(modal).startsWith(error);
            },
            ModalAnswerer::press("确定"), error);
    if (!written.isEmpty())
        boxes.expect(
            "备份成功", "您已经成功备份数据：" + QDir::toNativeSeparators(env->root() + "/" + written), "确定");
    button("pbBackup")->click();
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    // The dialog starts beside the automatic backups.
    QCOMPARE(shown,
        QStringList(
            { "备份数据文件", "数据文件 (*.db)", QDir(Constants::getInstance()->getBackupDir()).absolutePath() }));

    QCOMPARE(fileBytes(taken), QByteArray("keep me"));
    QStringList after = QDir(env->root()).entryList(QDir::Files);
    if (written.isEmpty()) {
        QCOMPARE(after, before);
        return;
    }
    after.removeOne(written);
    QCOMPARE(after, before);
    const QString copy = env->root() + "/" + written;
    QCOMPARE(fileBytes(copy), fileBytes(book->path()));
    QCOMPARE(valueIn(copy, "select name from tbl_member where id='mark'").toString(), QString("备份"));
    QCOMPARE(QFileInfo(copy).permissions() & ~(QFileDevice::ReadUser | QFileDevice::WriteUser),
        QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

void TestUData::restoreAndImportRestart_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("choose");
    QTest::addColumn<bool>("canStart");
    QTest::addColumn<QStringList>("restart");
    QTest::addColumn<QString>("error");

    // The restart names the book it replaces: the open one, not whatever the settings file names.
    const QString file = "chosen.db";
    QTest::newRow("restore") << "pbResotre"
                             << "数据备份文件" << true << true << QStringList { "restore", file, "Quorvane.db" }
                             << QString();
    QTest::newRow("import") << "pbKobel"
                            << "kobel数据文件" << true << true << QStringList { "kobel", file, "Quorvane.db" }
                            << QString();
    QTest::newRow("restore cancelled") << "pbResotre"
                                       << "数据备份文件" << false << true << QStringList() << QString();
    QTest::newRow("import cancelled") << "pbKobel"
                                      << "kobel数据文件" << false << true << QStringList() << QString();
    QTest::newRow("restore, the program cannot start again")
        << "pbResotre"
        << "数据备份文件" << true << false << QStringList() << "无法重新启动程序，数据没有恢复。";
    QTest::newRow("import, the program cannot start again")
        << "pbKobel"
        << "kobel数据文件" << true << false << QStringList() << "无法重新启动程序，数据没有导入。";
}

void TestUData::restoreAndImportRestart()
{
    QFETCH(QString, button);
    QFETCH(QString, caption);
    QFETCH(bool, choose);
    QFETCH(bool, canStart);
    QFETCH(QStringList, restart);
    QFETCH(QString, error);
    const QString chosen = env->root() + "/chosen.db";
    QVERIFY(TestBook::copyTemplate(chosen));
    if (!canStart)
        AppControl::setProgram(env->root() + "/no-such-program");
    const QByteArray bookBefore = fileBytes(book->path());
    // Another copy's book, remembered by the settings file, is never the one replaced.
    FileSetting::getInstance()->setValue(SettingKeys::LastBook, "Other.db");

    QStringList shown;
    ModalAnswerer boxes;
    boxes.expect(ModalAnswerer::ofClass("QFileDialog"), chooseFile(choose ? chosen : QString(), &shown));
    if (!error.isEmpty())
        boxes.expect("错误", error, "确定");
    page->findChild<QPushButton*>(button)->click();
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    // A backup is restored from beside the automatic ones; the other program's file comes from the
    // user's documents.
    const QString folder
        = button == "pbResotre" ? Constants::getInstance()->getBackupDir() : Constants::getDocumentsDir();
    QCOMPARE(shown, QStringList({ caption, "数据文件 (*.db)", QDir(folder).absolutePath() }));

    if (!restart.isEmpty())
        restart[1] = chosen;
    QCOMPARE(AppControl::isRestartPending(), !restart.isEmpty());
    QCOMPARE(AppControl::pendingArguments(), restart);
    // The running program never replaces its own book.
    QCOMPARE(fileBytes(book->path()), bookBefore);
}

void TestUData::backupSettings_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("stored");
    QTest::newRow("OK stores the five keys") << "确定" << true;
    QTest::newRow("cancel stores none") << "取消" << false;
    QTest::newRow("the title strip's close stores none") << "strip" << false;
}

void TestUData::backupSettings()
{
    QFETCH(QString, how);
    QFETCH(bool, stored);
    const QString folder = Constants::getInstance()->getBackupDir();
    QStringList shownDir;
    QList<bool> shownChecks;
    ModalAnswerer boxes;
    boxes.expect(
        ModalAnswerer::ofClass("DBackup"),
        [&](QWidget* modal) {
            QCOMPARE(ModalAnswerer::titleOf(modal), QString("备份设置"));
            auto* dir = modal->findChild<QLineEdit*>("leBackupDir");
            shownDir << dir->text();
            for (const char* name :
                { "cbBackupWhenStartup", "cbBackupWhenClose", "cbBackupBeforeSync", "cbBackupAfterSync" })
                shownChecks << modal->findChild<QCheckBox*>(name)->isChecked();
            // Typed as it is, with no check that the folder exists.
            dir->setText("/别处/备份");
            modal->findChild<QCheckBox*>("cbBackupWhenClose")->setChecked(false);
            modal->findChild<QCheckBox*>("cbBackupAfterSync")->setChecked(false);
            ModalAnswerer::named(how)(modal);
        },
        "the backup settings");
    button("pbAutoBackup")->click();
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    // A fresh settings file: the backup folder and four ticked boxes.
    QCOMPARE(shownDir, QStringList({ folder }));
    QCOMPARE(shownChecks, QList<bool>({ true, true, true, true }));

    FileSetting::getInstance()->sync();
    QSettings ini(env->iniPath(), QSettings::IniFormat);
    if (!stored) {
        QCOMPARE(ini.childGroups().contains("Backup"), false);
        return;
    }
    ini.beginGroup("Backup");
    QCOMPARE(ini.childKeys().size(), 5);
    QCOMPARE(ini.value("BackupDir").toString(), QString("/别处/备份"));
    QCOMPARE(ini.value("BackupWhenStartup").toBool(), true);
    QCOMPARE(ini.value("BackupWhenClose").toBool(), false);
    QCOMPARE(ini.value("BackupBeforeSync").toBool(), true);
    QCOMPARE(ini.value("BackupAfterSync").toBool(), false);
    ini.endGroup();
    // The folder is only stored: backups still go to the book folder's backup folder.
    QCOMPARE(Constants::getInstance()->getBackupDir(), folder);
}

void TestUData::backupFolderChooser()
{
    FileSetting::getInstance()->setValue(SettingKeys::BackupDir, "/原来的");
    DBackup dialog(page);
    auto* dir = dialog.findChild<QLineEdit*>("leBackupDir");
    QCOMPARE(dir->text(), QString("/原来的"));
    const QString chosen = env->root() + "/chosen";
    QVERIFY(QDir().mkpath(chosen));

    QStringList shown;
    ModalAnswerer boxes;
    boxes.expect(ModalAnswerer::ofClass("QFileDialog"), chooseFile(QString(), &shown));
    dialog.findChild<QPushButton*>("pbBackupDir")->click();
    QCOMPARE(dir->text(), QString("/原来的"));
    boxes.expect(ModalAnswerer::ofClass("QFileDialog"), [&](QWidget* modal) {
        auto* fileDialog = static_cast<QFileDialog*>(modal);
        QVERIFY(fileDialog->testOption(QFileDialog::ShowDirsOnly));
        QCOMPARE(fileDialog->fileMode(), QFileDialog::Directory);
        fileDialog->findChild<QLineEdit*>("fileNameEdit")->setText(chosen);
        QMetaObject::invokeMethod(fileDialog, "accept");
    });
    dialog.findChild<QPushButton*>("pbBackupDir")->click();
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(shown.value(0), QString("选择备份目录"));
    QCOMPARE(dir->text(), chosen);
    // Asked again, the dialog starts at the folder shown.
    shown.clear();
    boxes.expect(ModalAnswerer::ofClass("QFileDialog"), chooseFile(QString(), &shown));
    dialog.findChild<QPushButton*>("pbBackupDir")->click();
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(shown.value(shown.size() - 1), QDir(chosen).absolutePath());
    // Nothing is stored before OK.
    QCOMPARE(FileSetting::getInstance()->value(SettingKeys::BackupDir).toString(), QString("/原来的"));
}

QString TestUData::fileDialogFolder(const QString& buttonName, const QString& path)
{
    QStringList shown;
    ModalAnswerer boxes;
    boxes.expect(ModalAnswerer::ofClass("QFileDialog"), chooseFile(path, &shown));
    if (buttonName == "pbBackup" && !path.isEmpty())
        boxes.expect("备份成功", "您已经成功备份数据：" + QDir::toNativeSeparators(path), "确定");
    if (buttonName == "pbChooseFile") {
        DImport dialog(page);
        dialog.findChild<QPushButton*>(buttonName)->click();
    } else {
        page->findChild<QPushButton*>(buttonName)->click();
    }
    AppControl::reset();
    if (!boxes.answeredAll()) {
        qWarning("%s", qPrintable(boxes.report()));
        return QString();
    }
    return shown.value(shown.size() - 1);
}

void TestUData::fileDialogsStartWhereTheLastOneEnded_data()
{
    QTest::addColumn<QString>("first"); // chooses a file in <test folder>/stick
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("removed"); // the folder is gone before the second dialog
    QTest::addColumn<QString>("second");
    QTest::addColumn<QString>("folder"); // where the second starts: stick, backups or documents

    // Backup copies go and come back from one folder; both imports share theirs.
    QTest::newRow("backup, then restore") << "pbBackup"
                                          << "copy.db" << false << "pbResotre"
                                          << "stick";
    QTest::newRow("restore, then backup") << "pbResotre"
                                          << "chosen.db" << false << "pbBackup"
                                          << "stick";
    QTest::newRow("import of a statement, then of the other program's book") << "pbChooseFile"
                                                                             << "bank.csv" << false << "pbKobel"
                                                                             << "stick";
    QTest::newRow("the other program's book, then a statement") << "pbKobel"
                                                                << "chosen.db" << false << "pbChooseFile"
                                                                << "stick";
    QTest::newRow("an import leaves the restore alone") << "pbKobel"
                                                        << "chosen.db" << false << "pbResotre"
                                                        << "backups";
    QTest::newRow("a restore leaves the imports alone") << "pbResotre"
                                                        << "chosen.db" << false << "pbChooseFile"
                                                        << "documents";
    QTest::newRow("a folder since removed") << "pbResotre"
                                            << "chosen.db" << true << "pbResotre"
                                            << "backups";
}

void TestUData::fileDialogsStartWhereTheLastOneEnded()
{
    QFETCH(QString, first);
    QFETCH(QString, file);
    QFETCH(bool, removed);
    QFETCH(QString, second);
    QFETCH(QString, folder);
    const QString stick = env->root() + "/stick";
    QVERIFY(QDir().mkpath(stick));
    QVERIFY(TestBook::copyTemplate(stick + "/chosen.db"));
    QFile statement(stick + "/bank.csv");
    QVERIFY(statement.open(QIODevice::WriteOnly));
    statement.write("日期,金额,说明\n2024-01-02,-5.00,咖啡\n");
    statement.close();

    const QString backups = QDir(Constants::getInstance()->getBackupDir()).absolutePath();
    const QString documents = QDir(Constants::getDocumentsDir()).absolutePath();
    const bool backupFile = first == "pbBackup" || first == "pbResotre";

    // The first time, each purpose starts in its own folder.
    QCOMPARE(fileDialogFolder(first, stick + "/" + file), backupFile ? backups : documents);
    if (removed)
        QVERIFY(QDir(stick).removeRecursively());
    QCOMPARE(fileDialogFolder(second, QString()),
        folder == "stick"         ? QDir(stick).absolutePath()
            : folder == "backups" ? backups
                                  : documents);
    // Kept for the next run of the program.
    QVERIFY(FileSetting::getInstance()->sync());
    const QString key = backupFile ? "Folders/BackupFile" : "Folders/Import";
    QCOMPARE(QSettings(env->iniPath(), QSettings::IniFormat).value(key).toString(), QDir(stick).absolutePath());
}

void TestUData::resetLeavesTheDefaultRecords()
{
    fillBook();
    NotifierRecorder recorder;
    const QString unanswered = resetAnsweringYes("重置完成", "您已经成功重置数据");
    QVERIFY2(unanswered.isEmpty(), qPrintable(unanswered));

    // The default records only, no bill and no tombstone; the budget is left alone.
    QCOMPARE(tableCounts(), QString("2 0 1 12 25 2 1 0 0 0 0 0 0 0"));
    QCOMPARE(
        scalar("select count(*) from tbl_account where id in ('01','02') and version='2007-07-07 07:07:07'").toInt(),
        2);
    QCOMPARE(scalar("select count(*) from tbl_sub_category where version<>'2007-07-07 07:07:07'").toInt(), 0);
    // Never synchronised, but still the same account: its user id stays.
    QCOMPARE(
        scalar("select sync_time || '|' || user_id from tbl_setting").toString(), QString("2008-08-08 08:08:08|u9"));
    // Every page hears of it once, after the work is done.
    for (const char* name : { "account", "borrower", "category", "member", "bill" })
        QVERIFY2(recorder.count(name) == 1, qPrintable(recorder.signalList.join(',')));
}

void TestUData::resetStopsAtNo_data()
{
    QTest::addColumn<int>("yesAnswers");
    QTest::addColumn<QString>("how");
    QTest::newRow("no at the first question") << 0 << "否";
    QTest::newRow("no at the second question") << 1 << "否";
    QTest::newRow("no at the third question") << 2 << "否";
    QTest::newRow("the second question closed") << 1 << "strip";
}

void TestUData::resetStopsAtNo()
{
    QFETCH(int, yesAnswers);
    QFETCH(QString, how);
    fillBook();
    const QByteArray before = fileBytes(book->path());
    NotifierRecorder recorder;
    ModalAnswerer boxes;
    for (int i = 0; i < yesAnswers; ++i)
        boxes.expect(resetQuestions[i][0], resetQuestions[i][1], "是");
    boxes.expect(
        ModalAnswerer::box(resetQuestions[yesAnswers][0], resetQuestions[yesAnswers][1]), ModalAnswerer::named(how));
    button("pbAutoBackup_2")->click();
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(fileBytes(book->path()), before);
    QCOMPARE(recorder.signalList, QStringList());
}

void TestUData::resetThatFailsChangesNothing()
{
    fillBook();
    // The last step, the default members, fails: everything before it must go back too.
    QVERIFY(execAll({ "create trigger refuse before insert on tbl_member begin select raise(abort, 'full'); end" }));
    const QString before = tableCounts();
    NotifierRecorder recorder;
    const QString unanswered = resetAnsweringYes("错误", "重置数据出现错误，数据没有改变。");
    QVERIFY2(unanswered.isEmpty(), qPrintable(unanswered));
    QCOMPARE(tableCounts(), before);
    QCOMPARE(scalar("select count(*) from tbl_bill_deleted where id='bill-1'").toInt(), 1);
    QCOMPARE(scalar("select sync_time from tbl_setting").toString(), QString("2024-03-03 00:00:00"));
    // The pages reload what the book holds.
    for (const char* name : { "account", "borrower", "category", "member", "bill" })
        QCOMPARE(recorder.count(name), 1);
}

void TestUData::resetOfABookAnotherCopyHolds()
{
    // Another copy of the program has the book open (this one could not lock it when it opened).
    fillBook();
    BookHolder other(QStringLiteral(QUORVANE_BOOK_DRIVER), book->path());
    QVERIFY(other.isHolding());
    const QByteArray before = fileBytes(book->path());
    NotifierRecorder recorder;
    const QString unanswered = resetAnsweringYes("错误",
        "重置数据出现错误，数据没有改变。账本“Quorvane”正在被另一个运行中的Quorvane记账使用。请先在那里关闭它，再试一"
        "次。");
    QVERIFY2(unanswered.isEmpty(), qPrintable(unanswered));
    QCOMPARE(fileBytes(book->path()), before);
    QCOMPARE(recorder.signalList, QStringList());
}

QTEST_MAIN(TestUData)
#include "tst_udata.moc"
