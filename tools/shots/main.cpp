// Saves a picture of one widget of the program, shown on private sample books, for reviewing
// its look:
//
//     xvfb-run -a env LANG=zh_CN.UTF-8 build/quorvane_shots login /tmp/login.png
//     build/quorvane_shots --list
//     build/quorvane_shots all /tmp/shots            (every widget, as /tmp/shots/<name>.png)
//     build/quorvane_shots screen /tmp/screen.png     (the whole screen, whatever shows on it)
//
// Options: --qss FILE uses that style sheet instead of the program's own; --skin #RRGGBB stores
// a skin colour first. Add a page by adding a line to the factories below.
#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QDateEdit>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QStackedWidget>
#include <QStringEncoder>
#include <QMainWindow>
#include <QMap>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <functional>
#include <iterator>
#include <memory>

#include "bills/dbill.h"
#include "bills/dcalculator.h"
#include "bills/dquickchange.h"
#include "data/constants.h"
#include "data/dbhelper.h"
#include "data/filesetting.h"
#include "data/mbill.h"
#include "data/mversion.h"
#include "data/settingkeys.h"
#include "data/sqlhelper.h"
#include "datamgmt/dbackup.h"
#include "datamgmt/dimport.h"
#include "datamgmt/usetting.h"
#include "import/csvwriter.h"
#include "lists/daccount.h"
#include "lists/dborrower.h"
#include "lists/dcategory.h"
#include "lists/dmember.h"
#include "shell/mainwindow.h"
#include "shell/ubook.h"
#include "shell/ucontent.h"
#include "shell/uskin.h"
#include "shell/utitlebar.h"
#include "sync/dfeedback.h"
#include "sync/dupdate.h"
#include "testenv.h"
#include "widgets/dlogin.h"
#include "widgets/dmessagebox.h"

namespace {
using Factory = std::function<QWidget*()>;

DMessageBox* messageBox(const QString& title, const QString& text, bool question)
{
    auto* box = new DMessageBox(nullptr, title, text);
    if (question) {
        box->setStandardButtons(QDialogButtonBox::Yes | QDialogButtonBox::No);
        box->setButtonText(QDialogButtonBox::Yes, QObject::tr("是"));
        box->setButtonText(QDialogButtonBox::No, QObject::tr("否"));
    } else {
        box->setButtonText(QDialogButtonBox::Ok, QObject::tr("确定"));
    }
    return box;
}

// The title bar where the main window's forms put it: window, central widget, header, bar.
QWidget* titleBarHost()
{
    auto* window = new QMainWindow;
    window->setObjectName(QStringLiteral("MainWindow"));
    auto* central = new QWidget(window);
    window->setCentralWidget(central);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* header = new QWidget(central);
    header->setObjectName(QStringLiteral("wgtHeader"));
    auto* headerLayout = new QVBoxLayout(header);
    headerLayout->setContentsMargins(0, 0, 0, 0);
    auto* bar = new UTitleBar(header);
    bar->setObjectName(QStringLiteral("wgtTitleBar"));
    headerLayout->addWidget(bar);
    layout->addWidget(header);
    layout->addStretch();
    window->resize(760, 60);
    return window;
}

// The whole main window on the sample book, showing one top-level page, and within the book
// page one content page.
QWidget* mainWindow(const QString& topPage, const QString& bookPage)
{
    MainWindow::environment().trayAvailable = [] { return false; };
    auto* window = new MainWindow;
    if (auto* content = window->findChild<UContent*>())
        content->switchPage(topPage);
    if (auto* book = window->findChild<UBook*>(); book && !bookPage.isEmpty())
        book->switchPage(bookPage);
    return window;
}

// The main window on the bill list with something opened over it after it shows: the picture is
// then taken of the whole screen (an X server is needed), so that pop-ups show with what lies
// behind them.
QWidget* windowWith(const std::function<void(QWidget* window)>& open)
{
    QWidget* window = mainWindow(QStringLiteral("Book"), QStringLiteral("BillList"));
    window->setProperty("shotScreen", true);
    QTimer::singleShot(150, window, [window, open] { open(window); });
    return window;
}

// Dialogs shown alone read the sample book on the default connection, as in the program.
template <typename Make> Factory onSampleBook(Make make)
{
    return [make]() -> QWidget* {
        const Constants* constants = Constants::getInstance();
        TestBook::openDefault(constants->getDbDir() + Constants::getInstance()->getBookName());
        return make();
    };
}

// The update dialog on a sample release, on its notes page or its download page half-way.
QWidget* updateDialog(bool downloading)
{
    auto* version = new MVersion;
    version->vercode = 39;
    version->description = QObject::tr("<p><b>Quorvane记账 1.7</b></p><ul><li>账目列表可以按成员筛选</li>"
                                       "<li>同步更快，冲突更少</li><li>修复了导出报表时的若干问题</li></ul>");
    auto* dialog = new DUpdate(nullptr, version);
    version->setParent(dialog);
    if (downloading) {
        dialog->findChild<QStackedWidget*>(QStringLiteral("stackedWidget"))->setCurrentIndex(1);
        dialog->findChild<QLabel*>(QStringLiteral("lblDownloadStatus"))
            ->setText(QObject::tr("正在下载新版Quorvane记账软件，请稍候..."));
        dialog->downloadProgress(3 * 1024 * 1024, 6 * 1024 * 1024);
    }
    return dialog;
}

// The feedback form filled in, with the address remembered from an earlier message.
QWidget* feedbackForm()
{
    FileSetting::getInstance()->setValue(SettingKeys::FeedbackEmail, QStringLiteral("wang.li@example.cn"));
    auto* dialog = new DFeedback(nullptr);
    dialog->findChild<QLineEdit*>(QStringLiteral("leEmail2"))->setText(QStringLiteral("wang.li@example.cn"));
    dialog->findChild<QPlainTextEdit*>(QStringLiteral("pteContent"))
        ->setPlainText(QObject::tr("希望账目汇总页面可以按季度统计，另外导出的表格里能不能加上成员一列？"));
    return dialog;
}

// The bill dialog with the kind chosen as a user would, and with a sample amount and title.
QWidget* billDialog(const char* radio)
{
    auto* dialog = new DBill(nullptr);
    dialog->findChild<QAbstractButton*>(QString::fromLatin1(radio))->click();
    dialog->findChild<QDoubleSpinBox*>(QStringLiteral("dsbAmount"))->setValue(128.5);
    return dialog;
}

// The calculator in the middle of a sum, on an amount box of its own.
QWidget* calculator()
{
    auto* amount = new QDoubleSpinBox;
    auto* pad = new DCalculator(amount, nullptr);
    amount->setParent(pad);
    amount->hide();
    pad->setWindowFlags(Qt::Dialog);
    for (const char* key : { "1", "2", "add", "3", "mul" })
        pad->findChild<QPushButton*>(QStringLiteral("pushButton_") + QString::fromLatin1(key))->click();
    return pad;
}

// The quick change dialog on the sample book's bills of one kind.
QWidget* quickChange(const QString& type, const QString& kind)
{
    QList<MBill*> bills;
    for (MBill* bill : *MBill::get(QStringLiteral(" 1=1 "))) {
        if (bill->getKind() == kind)
            bills.append(bill);
    }
    return new DQuickChange(type, bills, nullptr);
}

// A payment platform's statement as such platforms hand them out: GB18030, a heading per column,
// a 收/支 column, a time with every date; one row twice, one row whose amount is not one.
QString sampleStatement()
{
    const QString path = Constants::getInstance()->getDbDir() + QStringLiteral("账单2023年3月.csv");
    if (QFile::exists(path))
        return path;
    QString text = QString::fromUtf8(CsvWriter::record(
        { QStringLiteral("交易时间"), QStringLiteral("交易分类"), QStringLiteral("交易对方"), QStringLiteral("商品"),
            QStringLiteral("收/支"), QStringLiteral("金额(元)"), QStringLiteral("支付方式"), QStringLiteral("备注") }));
    struct Line {
        const char* time;
        const char* category;
        const char* party;
        const char* goods;
        const char* inOut;
        const char* amount;
        const char* payment;
        const char* note;
    };
    const Line rows[] = {
        { "2023-03-01 08:12:45", "餐饮食品:早中晚餐", "早点铺", "豆浆油条", "支出", "8.50", "零钱", "" },
        { "2023-03-01 12:30:10", "餐饮食品:早中晚餐", "兰州拉面", "牛肉面", "支出", "22.00", "零钱", "" },
        { "2023-03-02 18:45:00", "交通出行:地铁", "地铁公司", "地铁充值", "支出", "100.00", "招商银行储蓄卡", "" },
        { "2023-03-03 09:00:00", "工资奖金:工资收入", "星辰科技有限公司", "二月工资", "收入", "12,500.00",
            "招商银行储蓄卡", "含加班费" },
        { "2023-03-04 20:15:33", "数码", "京东商城", "机械键盘", "支出", "399.00", "花呗", "\"618\"预售" },
        { "2023-03-05 10:20:00", "日常居家:水电煤气", "国家电网", "二月电费", "支出", "156.30", "招商银行储蓄卡", "" },
        { "2023-03-05 10:20:00", "日常居家:水电煤气", "国家电网", "二月电费", "支出", "156.30", "招商银行储蓄卡", "" },
        { "2023-03-06 19:02:11", "休闲娱乐:电影演出", "万达影城", "电影票两张", "支出", "￥９６．００", "花呗", "" },
        { "2023-03-07 07:58:40", "餐饮食品:水果", "百果园", "草莓", "支出", "45.90", "零钱", "" },
        { "2023-03-08 13:14:00", "人情交际:送礼请客", "花店", "鲜花", "支出", "待定", "零钱", "妇女节" },
        { "2023-03-09 21:30:00", "其它收入", "闲鱼", "旧书转卖", "收入", "35.00", "零钱", "" },
        { "2023-03-10 08:30:00", "交通出行:打的", "滴滴出行", "打车上班", "支出", "27.40", "花呗", "" },
    };
    for (const Line& row : rows) {
        QStringList fields;
        for (const char* field :
            { row.time, row.category, row.party, row.goods, row.inOut, row.amount, row.payment, row.note })
            fields << QString::fromUtf8(field);
        text += QString::fromUtf8(CsvWriter::record(fields));
    }
    QStringEncoder encoder("GB18030");
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(encoder.encode(text));
    return path;
}

// The import dialog on the sample statement at one of its steps.
QWidget* importDialog(int step)
{
    auto* dialog = new DImport(nullptr);
    dialog->openFile(sampleStatement());
    dialog->showStep(step);
    return dialog;
}

// The import's closing box after the sample statement was booked.
QWidget* importSummary()
{
    ImportSource source;
    QString error;
    source.load(sampleStatement(), &error);
    ImportSource::Settings settings;
    settings.defaultAccount = QObject::tr("我的钱包");
    source.parse(settings, &error);
    ImportPlan plan;
    plan.build(source, ValueParser::DateOrder::Unknown, settings.defaultAccount);
    ImportPlan::Summary summary;
    plan.book(&summary, &error);
    return messageBox(QObject::tr("导入完成"), ImportPlan::summaryText(summary, 10), false);
}

QMap<QString, Factory> factories()
{
    QMap<QString, Factory> pages {
        { QStringLiteral("error"),
            [] { return messageBox(QObject::tr("错误"), QObject::tr("账户名称不能为空。"), false); } },
        { QStringLiteral("question"),
            [] { return messageBox(QObject::tr("删除账目"), QObject::tr("确定要删除选中的账目吗？"), true); } },
        { QStringLiteral("information"),
            [] { return messageBox(QObject::tr("密码错误"), QObject::tr("您输入的密码有错误！"), false); } },
        { QStringLiteral("login"), [] { return new DLogin(nullptr, QStringLiteral("家庭.db")); } },
        { QStringLiteral("skin"), [] { return new USkin; } },
        { QStringLiteral("titlebar"), [] { return titleBarHost(); } },
        { QStringLiteral("bill-expense"), onSampleBook([] { return billDialog("rbExpense"); }) },
        { QStringLiteral("bill-transfer"), onSampleBook([] { return billDialog("rbTransfer"); }) },
        { QStringLiteral("bill-loan"), onSampleBook([] { return billDialog("rbLoan"); }) },
        { QStringLiteral("calculator"), [] { return calculator(); } },
        { QStringLiteral("backup"), [] { return new DBackup(nullptr); } },
        { QStringLiteral("import-1-file"), onSampleBook([] { return importDialog(0); }) },
        { QStringLiteral("import-2-columns"), onSampleBook([] { return importDialog(1); }) },
        { QStringLiteral("import-3-names"), onSampleBook([] { return importDialog(2); }) },
        { QStringLiteral("import-4-preview"), onSampleBook([] { return importDialog(3); }) },
        { QStringLiteral("import-5-summary"), onSampleBook([] { return importSummary(); }) },
        { QStringLiteral("update-notes"), [] { return updateDialog(false); } },
        { QStringLiteral("update-download"), [] { return updateDialog(true); } },
        { QStringLiteral("feedback"), [] { return feedbackForm(); } },
        { QStringLiteral("account"), onSampleBook([] { return new DAccount(nullptr); }) },
        { QStringLiteral("category"),
            onSampleBook([] { return new DCategory(QStringLiteral("expense"), nullptr, false, QString()); }) },
        { QStringLiteral("subcategory"),
            onSampleBook([] { return new DCategory(QStringLiteral("expense"), nullptr, true, QString()); }) },
        { QStringLiteral("borrower"), onSampleBook([] { return new DBorrower(nullptr); }) },
        { QStringLiteral("member"), onSampleBook([] { return new DMember(nullptr); }) },
        { QStringLiteral("quickchange-account"),
            onSampleBook([] { return quickChange(QStringLiteral("account"), QStringLiteral("expense")); }) },
        { QStringLiteral("quickchange-category"),
            onSampleBook([] { return quickChange(QStringLiteral("category"), QStringLiteral("expense")); }) },
        { QStringLiteral("over-page-calculator"),
            [] {
                return windowWith([](QWidget* window) {
                    auto* amount = window->findChild<QLineEdit*>(QStringLiteral("leSeacrh"));
                    auto* pad = new DCalculator(new QDoubleSpinBox(window), window);
                    pad->show();
                    pad->move(amount->mapToGlobal(QPoint(0, amount->height() + 60)));
                });
            } },
        { QStringLiteral("over-page-skin"),
            [] {
                return windowWith(
                    [](QWidget* window) { window->findChild<QPushButton*>(QStringLiteral("pbSkin"))->click(); });
            } },
        { QStringLiteral("over-page-calendar"),
            [] {
                return windowWith([](QWidget* window) {
                    auto* dialog = new DBill(window->findChild<QWidget*>(QStringLiteral("wgtMenuBar")));
                    dialog->show();
                    dialog->move(window->geometry().topLeft() + QPoint(150, 150));
                    auto* edit = dialog->findChild<QDateEdit*>(QStringLiteral("deDate"));
                    QTest::mouseClick(edit, Qt::LeftButton, {}, QPoint(edit->width() - 8, edit->height() / 2));
                });
            } },
        // The bill list after a skin colour was chosen while the program ran.
        { QStringLiteral("over-page-reskinned"),
            [] {
                return windowWith([](QWidget*) {
                    qApp->setStyleSheet(qApp->styleSheet() + USkin::colourRules(QStringLiteral("#3367BE")));
                });
            } },
        // The account filter on the account with the longest name, its list open.
        { QStringLiteral("over-page-account-filter"),
            [] {
                return windowWith([](QWidget* window) {
                    auto* box = window->findChild<QComboBox*>(QStringLiteral("cbAccountList"));
                    box->setCurrentIndex(box->findData(QStringLiteral("03")));
                    box->showPopup();
                });
            } },
        // The bill dialog as the page menu opens it: a child of a page of the main window.
        { QStringLiteral("bill-from-menu"),
            [] {
                return windowWith([](QWidget* window) {
                    auto* dialog = new DBill(window->findChild<QWidget*>(QStringLiteral("wgtMenuBar")));
                    dialog->show();
                    dialog->move(window->geometry().topLeft() + QPoint(150, 150));
                });
            } },
    };
    for (const char* top : { "Book", "Sync", "Data", "Setting" }) {
        const QString name = QString::fromLatin1(top);
        pages.insert(QStringLiteral("window-") + name, [name] { return mainWindow(name, QString()); });
    }
    // The settings page, one picture per tab.
    for (int tab = 0; tab < 5; ++tab) {
        pages.insert(QStringLiteral("setting-%1").arg(tab), [tab] {
            QWidget* window = mainWindow(QStringLiteral("Setting"), QString());
            if (auto* page = window->findChild<USetting*>())
                page->findChild<QTabWidget*>(QStringLiteral("tabWidget"))->setCurrentIndex(tab);
            return window;
        });
    }
    for (const char* key : { "BillList", "AccountList", "CategoryList", "BorrowerList", "MemberList",
             "CategoryAnalysis", "AccountAnalysis", "BorrowerAnalysis", "MemberAnalysis", "BillStat" }) {
        const QString name = QString::fromLatin1(key);
        pages.insert(QStringLiteral("book-") + name, [name] { return mainWindow(QStringLiteral("Book"), name); });
    }
    return pages;
}

// A few dozen bills of every kind over the last weeks, on the default records, so that the bill
// list and the status bar have something to show.
void addSampleBills(const QString& path)
{
    withBookConnection(path, QStringLiteral("shots-sample-bills"), BookAccess::ReadWrite, [](QSqlDatabase& db) {
        QSqlQuery query(db);
        query.exec(
            QStringLiteral("insert into tbl_borrower (id, name, description, sort) values ('02', '小王', '同事', 2)"));
        query.exec(QStringLiteral("insert into tbl_account (id, name, kind, amount, description, sort) values "
                                  "('03', '招商银行信用卡（尾号 8888）', 'credit', 0, '', 3)"));
        struct Sample {
            const char* kind;
            double amount;
            const char* sub; // sub-category id for expense and income
            const char* title;
            const char* description;
        };
        const Sample samples[] = {
            { "expense", -35, "01", "午饭", "公司楼下的面馆" },
            { "expense", -12.5, "02", "", "奶茶" },
            { "income", 8500, "23", "十月工资", "" },
            { "expense", -268, "05", "冬季外套", "商场打折" },
            { "transfer", -500, nullptr, "", "取现" },
            { "expense", -4, "11", "", "" },
            { "lend", -1000, nullptr, "借给小王", "月底还" },
            { "expense", -56.8, "09", "水电费", "" },
            { "expense", -23, "12", "", "打车回家" },
            { "borrow", 2000, nullptr, "", "周转" },
            { "expense", -128, "14", "电影", "两张票和爆米花" },
            { "income", 300, "24", "奖金", "" },
            { "refund", 500, nullptr, "", "小王还了一半" },
            { "expense", -45.9, "03", "", "苹果和香蕉" },
            { "repay", -2000, nullptr, "还款", "" },
        };
        query.prepare(QStringLiteral("insert into tbl_bill (id, kind, amount, date, month, category_id, "
                                     "sub_category_id, account_id, to_account_id, borrower_id, member_id, title, "
                                     "description, created_time) values (?, ?, ?, ?, ?, (select category_id from "
                                     "tbl_sub_category where id = ?), ?, ?, ?, ?, ?, ?, ?, ?)"));
        const QDate today = QDate::currentDate();
        for (int i = 0; i < 42; ++i) {
            const Sample& sample = samples[i % std::size(samples)];
            const QString kind = QString::fromLatin1(sample.kind);
            const bool categorised = sample.sub != nullptr;
            const bool loan = !categorised && kind != QLatin1String("transfer");
            const QDate date = today.addDays(-(i * 2 / 3));
            query.addBindValue(QStringLiteral("sample-%1").arg(i));
            query.addBindValue(kind);
            query.addBindValue(sample.amount);
            query.addBindValue(date.toString(Qt::ISODate));
            query.addBindValue(date.year() * 100 + date.month());
            query.addBindValue(categorised ? QString::fromLatin1(sample.sub) : QString());
            query.addBindValue(categorised ? QString::fromLatin1(sample.sub) : QString());
            const QString account = i % 3 == 0 ? QStringLiteral("02") : QStringLiteral("01");
            const QString otherAccount = i % 3 == 0 ? QStringLiteral("01") : QStringLiteral("02");
            query.addBindValue(account);
            query.addBindValue(kind == QLatin1String("transfer") ? otherAccount : QString());
            query.addBindValue(loan ? (i % 2 ? QStringLiteral("01") : QStringLiteral("02")) : QString());
            query.addBindValue(categorised ? (i % 4 ? QStringLiteral("01") : QStringLiteral("02")) : QString());
            query.addBindValue(QString::fromUtf8(sample.title));
            query.addBindValue(QString::fromUtf8(sample.description));
            query.addBindValue(
                QDateTime(date, QTime(8, 0).addSecs(i * 600)).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
            query.exec();
        }
        return true;
    });
}

// Sample books; the first is the open one.
void makeSampleBooks(const QString& dir)
{
    const QStringList names { QStringLiteral("家庭.db"), QStringLiteral("工作.db"), QStringLiteral("旅行.db") };
    for (const QString& name : names) {
        TestBook::copyTemplate(dir + name);
        DBHelper::getInstance()->initDefaultData(dir + name);
    }
    addSampleBills(dir + names.first());
    Constants::getInstance()->setBookName(names.first());
}

QString styleSheet(const QString& qssPath)
{
    QFile file(qssPath.isEmpty() ? QStringLiteral(":/rc/style/default.qss") : qssPath);
    const QString sheet = file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()) : QString();
    return USkin::withStoredSkin(sheet);
}

bool shoot(const Factory& factory, const QString& out)
{
    std::unique_ptr<QWidget> widget(factory());
    widget->show();
    // Let the window system map it and the layouts settle.
    QEventLoop loop;
    QTimer::singleShot(600, &loop, &QEventLoop::quit);
    loop.exec();
    const QPixmap picture
        = widget->property("shotScreen").toBool() ? QGuiApplication::primaryScreen()->grabWindow(0) : widget->grab();
    const bool saved = picture.save(out, "PNG");
    widget->close();
    return saved;
}
}

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({ QStringLiteral("list"), QStringLiteral("List the widget names.") });
    parser.addOption({ QStringLiteral("qss"), QStringLiteral("Style sheet to use."), QStringLiteral("file") });
    parser.addOption(
        { QStringLiteral("skin"), QStringLiteral("Skin colour to store first."), QStringLiteral("colour") });
    parser.addPositionalArgument(QStringLiteral("name"), QStringLiteral("Widget name, or \"all\"."));
    parser.addPositionalArgument(QStringLiteral("out"), QStringLiteral("PNG file, or a folder for \"all\"."));
    parser.process(app);

    // "screen OUT.png": a picture of the whole screen as it is, e.g. of the program started on
    // its own beside this tool.
    if (parser.positionalArguments().size() == 2 && parser.positionalArguments().at(0) == QLatin1String("screen"))
        return QGuiApplication::primaryScreen()->grabWindow(0).save(parser.positionalArguments().at(1)) ? 0 : 1;

    const QMap<QString, Factory> all = factories();
    if (parser.isSet(QStringLiteral("list"))) {
        for (const QString& name : all.keys())
            std::printf("%s\n", qPrintable(name));
        return 0;
    }
    const QStringList args = parser.positionalArguments();
    if (args.size() != 2 || (args.at(0) != QLatin1String("all") && !all.contains(args.at(0))))
        parser.showHelp(1);

    TestEnv env;
    makeSampleBooks(env.dataDir());
    if (parser.isSet(QStringLiteral("skin")))
        FileSetting::getInstance()->setValue(SettingKeys::SkinColor, parser.value(QStringLiteral("skin")));
    app.setStyleSheet(styleSheet(parser.value(QStringLiteral("qss"))));

    bool ok = true;
    if (args.at(0) == QLatin1String("all")) {
        QDir().mkpath(args.at(1));
        for (auto it = all.begin(); it != all.end(); ++it)
            ok = shoot(it.value(), QDir(args.at(1)).filePath(it.key() + QStringLiteral(".png"))) && ok;
    } else {
        ok = shoot(all.value(args.at(0)), args.at(1));
    }
    return ok ? 0 : 1;
}
