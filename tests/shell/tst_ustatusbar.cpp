#include <QApplication>
#include <QDate>
#include <QFile>
#include <QHelpEvent>
#include <QLabel>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTest>
#include <QToolTip>

#include "data/dbsetting.h"
#include "data/notifier.h"
#include "engine/synchelper.h"
#include "modalanswerer.h"
#include "shell/ustatusbar.h"
#include "testenv.h"
#include "widgets/welidedlabel.h"

namespace {

void addBill(const QString& kind, double amount, const QDate& date = QDate::currentDate())
{
    addBillRow(kind, amount, date);
}

QString text(const UStatusBar& bar, const char* label)
{
    return bar.findChild<QLabel*>(label)->text();
}

} // namespace

class TestUStatusBar : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void summary_data();
    void summary();
    void monthLineAndTotalsFollowTheBills();
    void emptyConditionKeepsThePreviousOne();
    void longTotalsFitTheNarrowestWindow();
    void syncTimeAtStart_data();
    void syncTimeAtStart();
    void syncStates();
    void linkAsksForTheAccountFirst();
    void syncStateAndWholeItems();
    void figuresComeBeforeTheSyncDate_data();
    void figuresComeBeforeTheSyncDate();

private:
    TestEnv* env = nullptr;
    TestBook* book = nullptr;
};

void TestUStatusBar::init()
{
    env = new TestEnv;
    book = new TestBook(env->dataDir() + "Quorvane.db");
}

void TestUStatusBar::cleanup()
{
    delete book;
    delete env;
}

void TestUStatusBar::summary_data()
{
    QTest::addColumn<QStringList>("bills"); // kind:amount
    QTest::addColumn<QString>("condition");
    QTest::addColumn<QString>("expected");
    QTest::newRow("expense and income") << QStringList { "expense:-120.5", "income:3000" } << " 1=1 "
                                        << "支出:-120.50 收入:3000.00 变化:+2879.50";
    QTest::newRow("with loans") << QStringList { "expense:-120.5", "income:3000", "borrow:500", "repay:-200" }
                                << " 1=1 " << "支出:-120.50 收入:3000.00 净借入:300.00 净借出:0.00 变化:+3179.50";
    QTest::newRow("loan paid back") << QStringList { "borrow:500", "repay:-500" } << " 1=1 "
                                    << "支出:0.00 收入:0.00 变化:0.00";
    QTest::newRow("lending") << QStringList { "lend:-80", "refund:30" } << " 1=1 "
                             << "支出:0.00 收入:0.00 净借入:0.00 净借出:-50.00 变化:-50.00";
    QTest::newRow("transfers change nothing") << QStringList { "transfer:-1000", "expense:-1" } << " 1=1 "
                                              << "支出:-1.00 收入:0.00 变化:-1.00";
    QTest::newRow("float noise") << QStringList { "income:0.1", "income:0.2", "expense:-0.3" } << " 1=1 "
                                 << "支出:-0.30 收入:0.30 变化:0.00";
    QTest::newRow("tiny net loan") << QStringList { "borrow:0.1", "borrow:0.2", "repay:-0.3" } << " 1=1 "
                                   << "支出:0.00 收入:0.00 变化:0.00";
    QTest::newRow("no bills") << QStringList {} << " 1=1 " << "支出:0.00 收入:0.00 变化:0.00";
    QTest::newRow("condition the book rejects") << QStringList { "expense:-5" } << " nonsense(( "
                                                << "支出:0.00 收入:0.00 变化:0.00";
    QTest::newRow("condition selects") << QStringList { "expense:-5", "income:7" } << " 1=1  and kind='income'"
                                       << "支出:0.00 收入:7.00 变化:+7.00";
}

void TestUStatusBar::summary()
{
    QFETCH(QStringList, bills);
    QFETCH(QString, condition);
    QFETCH(QString, expected);
    for (const QString& bill : bills)
        addBill(bill.section(':', 0, 0), bill.section(':', 1).toDouble());
    QCOMPARE(UStatusBar::getSummary(condition), expected);
}

void TestUStatusBar::monthLineAndTotalsFollowTheBills()
{
    addBill("expense", -10, QDate::currentDate().addMonths(-1));
    UStatusBar bar;
    QCOMPARE(text(bar, "lblMonthSummary"), QString("本月  支出:0.00 收入:0.00 变化:0.00"));
    QCOMPARE(text(bar, "lblTotalSummary"), QString("总计  支出:-10.00 收入:0.00 变化:-10.00"));
    addBill("income", 25);
    Notifier::getInstance()->notifyBillDataChanged();
    QCOMPARE(text(bar, "lblMonthSummary"), QString("本月  支出:0.00 收入:25.00 变化:+25.00"));
    QCOMPARE(text(bar, "lblTotalSummary"), QString("总计  支出:-10.00 收入:25.00 变化:+15.00"));
}

void TestUStatusBar::emptyConditionKeepsThePreviousOne()
{
    addBill("expense", -10);
    addBill("income", 4);
    UStatusBar bar;
    Notifier::getInstance()->notifyListConditionChanged(" 1=1  and kind='income'");
    QCOMPARE(text(bar, "lblTotalSummary"), QString("总计  支出:0.00 收入:4.00 变化:+4.00"));
    Notifier::getInstance()->notifyListConditionChanged(QString());
    QCOMPARE(text(bar, "lblTotalSummary"), QString("总计  支出:0.00 收入:4.00 变化:+4.00"));
    Notifier::getInstance()->notifyListConditionChanged("");
    QCOMPARE(text(bar, "lblTotalSummary"), QString("总计  支出:0.00 收入:4.00 变化:+4.00"));
}

void TestUStatusBar::longTotalsFitTheNarrowestWindow()
{
    addBill("expense", -123456.78);
    addBill("income", 987654.32);
    addBill("borrow", 55555.55);
    addBill("lend", -44444.44);
    UStatusBar bar;
    bar.resize(900, 27);
    bar.show();
    // The main window is at least 900 px wide: the bar must not push it wider.
    QVERIFY2(bar.minimumSizeHint().width() <= 900, qPrintable(QString::number(bar.minimumSizeHint().width())));
    auto* total = bar.findChild<QLabel*>("lblTotalSummary");
    QVERIFY(total->text().endsWith("变化:+875308.65")); // the text itself stays whole
    QVERIFY(total->geometry().right() < bar.width());

    // Shortened, each line keeps its key figure in sight, from the narrowest window to the
    // default one.
    for (const int width : { 900, 1020 }) {
        bar.resize(width, 27);
        QTRY_COMPARE(bar.width(), width);
        for (const char* name : { "lblMonthSummary", "lblTotalSummary" }) {
            const auto* line = bar.findChild<WElidedLabel*>(name);
            QVERIFY2(line->shownText().endsWith(" 变化:+875308.65"), qPrintable(line->shownText()));
        }
    }
}

void TestUStatusBar::syncTimeAtStart_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("shown");
    QTest::newRow("template") << "2008-08-08 08:08:08.000" << "  尚未同步过 ";
    QTest::newRow("reset") << "2008-08-08 08:08:08" << "  尚未同步过 ";
    QTest::newRow("synchronised") << "2013-05-07 10:00:00" << "  上次同步 2013-05-07 18:00:00";
    QTest::newRow("new year in local time") << "2008-12-31 20:00:00" << "  上次同步 2009-01-01 04:00:00";
    QTest::newRow("unreadable") << "gestern" << "  尚未同步过 ";
}

void TestUStatusBar::syncTimeAtStart()
{
    QFETCH(QString, stored);
    QFETCH(QString, shown);
    QSqlQuery query;
    query.prepare("update tbl_setting set sync_time=?");
    query.addBindValue(stored);
    QVERIFY(query.exec());
    UStatusBar bar;
    QCOMPARE(text(bar, "lblSyncTime"), shown);
}

void TestUStatusBar::syncStates()
{
    UStatusBar bar;
    auto* link = bar.findChild<QLabel*>("lblSync");
    SyncHelper* sync = SyncHelper::getInstance();
    emit sync->syncStarted();
    QCOMPARE(text(bar, "lblSyncTime"), QString("  正在同步，请稍候...... "));
    QVERIFY(link->text().contains("同步中"));
    QVERIFY(!link->isEnabled());
    const QString startedAt = QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm");

    emit sync->syncFinished();
    QVERIFY2(text(bar, "lblSyncTime").startsWith("  上次同步 " + startedAt), qPrintable(text(bar, "lblSyncTime")));
    QVERIFY(link->text().contains("立即同步"));
    QVERIFY(link->isEnabled());

    emit sync->syncStarted();
    {
        // The error box comes first; the state changes once it is closed.
        ModalAnswerer boxes;
        boxes.expect(ModalAnswerer::box("错误", "和服务器通讯时出错"), [&](QWidget* box) {
            QCOMPARE(text(bar, "lblSyncTime"), QString("  正在同步，请稍候...... "));
            ModalAnswerer::press("确定")(box);
        });
        emit sync->syncError(505, "和服务器通讯时出错");
        QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    }
    QCOMPARE(text(bar, "lblSyncTime"), QString("  上次同步失败"));
    QVERIFY(link->isEnabled());

    // A run that found the computer's clock a week behind says so after its time, and why it
    // matters in the tool tip, beside the date; the next run with a right clock drops it.
    auto* state = bar.findChild<QLabel*>("lblSyncTime");
    const qint64 weekBehind = -7 * 24 * 3600;
    emit sync->syncStarted();
    emit sync->clockWarning(weekBehind);
    emit sync->syncFinished();
    QVERIFY2(
        state->text().endsWith("（" + SyncHelper::clockDifferenceText(weekBehind) + "）"), qPrintable(state->text()));
    QVERIFY(state->toolTip().contains(startedAt.left(10)));
    QVERIFY(state->toolTip().contains(SyncHelper::clockWarningText(weekBehind)));
    emit sync->syncStarted();
    emit sync->syncFinished();
    QVERIFY(!state->text().contains("时钟"));
    QVERIFY(!state->toolTip().contains("时钟"));
}

void TestUStatusBar::linkAsksForTheAccountFirst()
{
    DbSetting::getInstance()->setSyncUsername("me");
    UStatusBar bar;
    QSignalSpy started(SyncHelper::getInstance(), &SyncHelper::syncStarted);
    ModalAnswerer boxes;
    boxes.expect("错误", "请填写同步账号和密码", "确定");
    boxes.expect(ModalAnswerer::ofClass("DSyncConfig"), ModalAnswerer::closeStrip());
    QMetaObject::invokeMethod(bar.findChild<QLabel*>("lblSync"), "linkActivated", Q_ARG(QString, "#"));
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(started.count(), 0);
}

void TestUStatusBar::syncStateAndWholeItems()
{
    // A book whose totals are far too long for the window, as a few years of bills make them.
    addBill("expense", -1763450.85);
    addBill("income", 5943085.60);
    addBill("borrow", 62456.00);
    addBill("lend", -30522.69);
    addBill("repay", -1234.50);
    QFile sheet(":/rc/style/default.qss");
    QVERIFY(sheet.open(QIODevice::ReadOnly));
    qApp->setStyleSheet(QString::fromUtf8(sheet.readAll()));
    UStatusBar bar;
    bar.setObjectName("wgtStatusBar");
    bar.resize(1024, 27);
    bar.show();
    QVERIFY(QTest::qWaitForWindowExposed(&bar));
    auto* state = bar.findChild<QLabel*>("lblSyncTime");
    emit SyncHelper::getInstance()->syncStarted();
    emit SyncHelper::getInstance()->syncFinished();
    // The date and time whole in the tooltip; the label shows them, or the time alone.
    const QString synced = state->toolTip();
    QVERIFY2(QRegularExpression("^上次同步 \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$").match(synced).hasMatch(),
        qPrintable(synced));
    const QString withDate = "  " + synced;
    const QString timeOnly = "  上次同步 " + synced.right(8);

    for (const int width : { 900, 1024, 1280 }) {
        bar.resize(width, 27);
        QTRY_COMPARE(bar.width(), width);
        QTRY_VERIFY2(state->contentsRect().width() >= state->fontMetrics().horizontalAdvance(state->text()),
            qPrintable(QString("%1 px for %2").arg(state->contentsRect().width()).arg(state->text())));
        QVERIFY2(state->text() == withDate || state->text() == timeOnly, qPrintable(state->text()));
        for (const char* name : { "lblMonthSummary", "lblTotalSummary" }) {
            auto* line = bar.findChild<WElidedLabel*>(name);
            const QString whole = line->text();
            const QString shown = line->shownText();
            QVERIFY(line->fontMetrics().horizontalAdvance(shown) <= line->contentsRect().width());
            // Whole items only: each shown item is one of the text's, or the "…" in place of some.
            const QStringList items = whole.split(' ', Qt::SkipEmptyParts);
            const QStringList shownItems = shown.split(' ', Qt::SkipEmptyParts);
            QCOMPARE(shownItems.first(), items.first());
            QCOMPARE(shownItems.last(), items.last());
            for (const QString& item : shownItems)
                QVERIFY2(item == "…" || items.contains(item), qPrintable(shown));
            if (shown == whole)
                continue;
            // A figure is left out only when the date already gave way.
            QCOMPARE(state->text(), timeOnly);
            QVERIFY2(shown.contains("…"), qPrintable(shown));
            QHelpEvent hover(QEvent::ToolTip, QPoint(5, 5), line->mapToGlobal(QPoint(5, 5)));
            QApplication::sendEvent(line, &hover);
            QTRY_COMPARE(QToolTip::text(), whole);
            QToolTip::hideText();
        }
    }
    // At the width the program opens with the totals do not fit whole.
    bar.resize(1024, 27);
    QTRY_VERIFY(bar.findChild<WElidedLabel*>("lblTotalSummary")->shownText().contains("…"));
    QCOMPARE(state->text(), timeOnly);
    qApp->setStyleSheet(QString());
}

void TestUStatusBar::figuresComeBeforeTheSyncDate_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<bool>("dateShown");
    QTest::addColumn<bool>("totalsWhole");
    // The bar in the program's window at its default size, maximised on a screen of 1280 × 800, and
    // on a wide screen.
    QTest::newRow("default window") << 1018 << false << false;
    QTest::newRow("maximised") << 1274 << true << true;
    QTest::newRow("wide screen") << 1914 << true << true;
}

// A book of a few years, synchronised: the month's figures and the totals are what the user looks
// for, so the date of the last synchronisation gives way before any of them.
void TestUStatusBar::figuresComeBeforeTheSyncDate()
{
    QFETCH(int, width);
    QFETCH(bool, dateShown);
    QFETCH(bool, totalsWhole);
    const QDate lastYear = QDate::currentDate().addYears(-1);
    addBill("expense", -176345.85, lastYear);
    addBill("income", 594308.56, lastYear);
    addBill("borrow", 5000, lastYear);
    addBill("repay", -2000, lastYear);
    addBill("expense", -3936.21);
    addBill("income", 8000);
    QFile sheet(":/rc/style/default.qss");
    QVERIFY(sheet.open(QIODevice::ReadOnly));
    qApp->setStyleSheet(QString::fromUtf8(sheet.readAll()));
    UStatusBar bar;
    bar.setObjectName("wgtStatusBar");
    bar.resize(width, 27);
    bar.show();
    QVERIFY(QTest::qWaitForWindowExposed(&bar));
    emit SyncHelper::getInstance()->syncStarted();
    emit SyncHelper::getInstance()->syncFinished();

    auto* state = bar.findChild<QLabel*>("lblSyncTime");
    const QString synced = state->toolTip();
    QTRY_COMPARE(state->text(), dateShown ? "  " + synced : "  上次同步 " + synced.right(8));
    QTRY_VERIFY(state->contentsRect().width() >= state->fontMetrics().horizontalAdvance(state->text()));
    // Every figure of the month; the totals whole where there is room, else they give way first.
    const auto* month = bar.findChild<WElidedLabel*>("lblMonthSummary");
    QTRY_COMPARE(month->shownText(), QString("本月  支出:-3936.21 收入:8000.00 变化:+4063.79"));
    const auto* total = bar.findChild<WElidedLabel*>("lblTotalSummary");
    if (totalsWhole)
        QTRY_COMPARE(total->shownText(), total->text());
    else
        QTRY_VERIFY(total->shownText().startsWith("总计  支出:") && total->shownText().endsWith(" 变化:+425026.50"));
    qApp->setStyleSheet(QString());
}

QTEST_MAIN(TestUStatusBar)
#include "tst_ustatusbar.moc"
