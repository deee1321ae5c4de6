#include "bookgenerator.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QFile>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariantList>

#include "data/dbhelper.h"
#include "data/dbsetting.h"
#include "data/sqlhelper.h"

namespace {

struct Category {
    QString id;
    QStringList subIds;
};

struct Pools {
    QStringList accounts;
    QStringList borrowers;
    QStringList members;
    QList<Category> expense;
    QList<Category> income;
};

class Writer {
public:
    Writer(QSqlDatabase& database, QRandomGenerator& random)
        : db(database)
        , rng(random)
    {
    }

    bool run(const QString& sql, const QVariantList& values = {})
    {
        QSqlQuery query(db);
        query.prepare(sql);
        for (const QVariant& value : values)
            query.addBindValue(value);
        if (query.exec())
            return true;
        error = sql + QStringLiteral(": ") + query.lastError().text();
        return false;
    }

    // Ids look like the program's own: lower-case UUID text.
    QString newId()
    {
        QString hex;
        for (int i = 0; i < 4; ++i)
            hex += QStringLiteral("%1").arg(rng.generate(), 8, 16, QLatin1Char('0'));
        return hex.mid(0, 8) + '-' + hex.mid(8, 4) + '-' + hex.mid(12, 4) + '-' + hex.mid(16, 4) + '-'
            + hex.mid(20, 12);
    }

    template <typename T> const T& pick(const QList<T>& items)
    {
        return items.at(int(rng.bounded(quint32(items.size()))));
    }

    QSqlDatabase& db;
    QRandomGenerator& rng;
    QString error;
};

bool addReferenceRecords(Writer& w, Pools& pools)
{
    // The default records of every new book.
    pools.accounts = { QStringLiteral("01"), QStringLiteral("02") };
    pools.borrowers = { QStringLiteral("01") };
    pools.members = { QStringLiteral("01"), QStringLiteral("02") };
    QSqlQuery query(w.db);
    if (!query.exec(QStringLiteral("select id, category_id, kind from tbl_sub_category order by sort"))) {
        w.error = query.lastError().text();
        return false;
    }
    QMap<QString, Category> byId;
    QMap<QString, QString> kinds;
    while (query.next()) {
        Category& category = byId[query.value(1).toString()];
        category.id = query.value(1).toString();
        category.subIds << query.value(0).toString();
        kinds[category.id] = query.value(2).toString();
    }
    for (auto it = byId.constBegin(); it != byId.constEnd(); ++it)
        (kinds.value(it.key()) == QLatin1String("income") ? pools.income : pools.expense) << it.value();

    const QStringList accountNames = { "招商银行储蓄卡", "工商银行工资卡", "建设银行信用卡", "支付宝余额", "微信零钱",
        "余额宝", "公积金账户", "股票账户", "基金定投", "交通卡", "饭卡", "备用现金", "美元存款", "定期存款",
        "农业银行卡", "中国银行卡", "京东白条", "花呗", "港币现金", "零钱罐" };
    const QStringList accountKinds = { "card", "card", "credit", "other", "other", "fund", "other", "stock", "fund",
        "cash", "cash", "cash", "card", "card", "card", "card", "credit", "credit", "cash", "cash" };
    for (int i = 0; i < accountNames.size(); ++i) {
        const QString id = w.newId();
        pools.accounts << id;
        if (!w.run(QStringLiteral("insert into tbl_account (id, name, kind, amount, description, sort) values (?, ?, "
                                  "?, ?, ?, ?)"),
                { id, accountNames[i], accountKinds[i], double(w.rng.bounded(500000)) / 100, accountNames[i] + "账户",
                    i + 3 }))
            return false;
    }

    const QStringList borrowerNames = { "张伟", "王芳", "李娜", "刘洋", "陈静", "杨磊", "赵敏", "黄强", "周杰", "吴倩",
        "徐明", "孙丽", "马超", "朱婷", "胡军" };
    for (int i = 0; i < borrowerNames.size(); ++i) {
        const QString id = w.newId();
        pools.borrowers << id;
        if (!w.run(QStringLiteral("insert into tbl_borrower (id, name, description, sort) values (?, ?, ?, ?)"),
                { id, borrowerNames[i], QStringLiteral("同事") + borrowerNames[i], i + 2 }))
            return false;
    }

    const QStringList memberNames = { "爸爸", "妈妈", "儿子", "女儿", "爷爷", "奶奶", "外公", "外婆" };
    for (int i = 0; i < memberNames.size(); ++i) {
        const QString id = w.newId();
        pools.members << id;
        if (!w.run(QStringLiteral("insert into tbl_member (id, name, description, sort) values (?, ?, ?, ?)"),
                { id, memberNames[i], memberNames[i], i + 3 }))
            return false;
    }

    const QList<QPair<QString, QStringList>> extraCategories = {
        { "宠物", { "猫粮狗粮", "宠物医疗", "宠物用品", "洗澡美容" } },
        { "汽车", { "加油", "停车费", "保养维修", "车险", "过路费" } },
        { "数码", { "手机", "电脑", "配件", "软件订阅" } },
        { "育儿", { "奶粉", "尿布", "玩具", "早教" } },
        { "住房", { "房租", "物业费", "房贷", "装修" } },
        { "通讯", { "话费", "宽带", "快递" } },
        { "兼职收入", { "稿费", "咨询费", "家教" } },
        { "投资收益", { "利息", "分红", "租金收入" } },
    };
    int sort = 13;
    int subSort = 26;
    for (int i = 0; i < extraCategories.size(); ++i) {
        const QString kind = i >= 6 ? QStringLiteral("income") : QStringLiteral("expense");
        Category category;
        category.id = w.newId();
        const QString& name = extraCategories[i].first;
        if (!w.run(
                QStringLiteral("insert into tbl_category (id, name, kind, description, sort) values (?, ?, ?, ?, ?)"),
                { category.id, name, kind, name, sort++ }))
            return false;
        for (const QString& subName : extraCategories[i].second) {
            const QString subId = w.newId();
            category.subIds << subId;
            if (!w.run(QStringLiteral("insert into tbl_sub_category (id, category_id, name, kind, description, sort) "
                                      "values (?, ?, ?, ?, ?, ?)"),
                    { subId, category.id, subName, kind, subName, subSort++ }))
                return false;
        }
        (kind == QLatin1String("income") ? pools.income : pools.expense) << category;
    }
    return true;
}

bool addBills(Writer& w, const Pools& pools, const BookGenerator::Options& options)
{
    const QStringList expenseTitles = { "午饭", "超市购物", "打车回家", "电影票", "话费充值", "买菜", "早餐", "咖啡",
        "网购衣服", "水电费", "朋友聚餐", "加油", "买书", "药店", "健身卡", "外卖" };
    const QStringList incomeTitles = { "工资", "年终奖", "稿费", "报销", "理财收益", "红包" };
    const QStringList notes = { "", "", "", "和同事一起", "用了优惠券", "周末", "出差期间", "给家里买的",
        "O'Brien 推荐的店", "打折 50%", "发票已开", "分期第3期", "备注：记得对账" };
    // Seven kinds in realistic shares: mostly expenses.
    const QList<QPair<QString, int>> kinds = { { "expense", 700 }, { "income", 120 }, { "transfer", 80 },
        { "lend", 30 }, { "borrow", 20 }, { "refund", 30 }, { "repay", 20 } };

    const QDate firstDay = options.lastDay.addYears(-options.years).addDays(1);
    const qint64 span = firstDay.daysTo(options.lastDay) + 1;
    // A version is a change stamp on the program's clock (UTC): one later than the moment the book is
    // written would outrank the next real edit of the bill, which a synchronisation would then undo.
    const QString latestVersion = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));

    QSqlQuery insert(w.db);
    if (!insert.prepare(QStringLiteral(
            "insert into tbl_bill (id, title, amount, description, date, month, category_id, sub_category_id, "
            "account_id, to_account_id, borrower_id, member_id, kind, created_time, version) values (?, ?, ?, ?, ?, ?, "
            "?, ?, ?, ?, ?, ?, ?, ?, ?)"))) {
        w.error = insert.lastError().text();
        return false;
    }
    for (int i = 0; i < options.bills; ++i) {
        int roll = int(w.rng.bounded(1000));
        QString kind;
        for (const auto& share : kinds) {
            if (roll < share.second) {
                kind = share.first;
                break;
            }
            roll -= share.second;
        }
        const QDate date = firstDay.addDays(qint64(w.rng.bounded(quint32(span))));
        const QString stamp = date.toString(Qt::ISODate)
            + QStringLiteral(" %1:%2:%3")
                  .arg(w.rng.bounded(24), 2, 10, QLatin1Char('0'))
                  .arg(w.rng.bounded(60), 2, 10, QLatin1Char('0'))
                  .arg(w.rng.bounded(60), 2, 10, QLatin1Char('0'));
        double amount = double(w.rng.bounded(1, 50000)) / 100;
        QString title;
        QVariant categoryId;
        QVariant subCategoryId;
        QVariant toAccountId;
        QVariant borrowerId;
        if (kind == QLatin1String("expense") || kind == QLatin1String("income")) {
            const bool income = kind == QLatin1String("income");
            const Category& category = w.pick(income ? pools.income : pools.expense);
            categoryId = category.id;
            subCategoryId = w.pick(category.subIds);
            title = w.pick(income ? incomeTitles : expenseTitles);
            if (income)
                amount *= 20;
        } else if (kind == QLatin1String("transfer")) {
            toAccountId = w.pick(pools.accounts);
            title = QStringLiteral("转账");
            amount *= 5;
        } else {
            borrowerId = w.pick(pools.borrowers);
            title = QStringLiteral("借款往来");
            amount *= 10;
        }
        if (kind == QLatin1String("expense") || kind == QLatin1String("transfer") || kind == QLatin1String("lend")
            || kind == QLatin1String("repay"))
            amount = -amount;
        const QVariantList values = { w.newId(), title, amount, w.pick(notes), date.toString(Qt::ISODate),
            date.year() * 100 + date.month(), categoryId, subCategoryId, w.pick(pools.accounts), toAccountId,
            borrowerId, w.pick(pools.members), kind, stamp, qMin(stamp, latestVersion) };
        for (int column = 0; column < values.size(); ++column)
            insert.bindValue(column, values[column]);
        if (!insert.exec()) {
            w.error = insert.lastError().text();
            return false;
        }
    }
    return true;
}

} // namespace

bool BookGenerator::generate(const QString& path, const Options& options, QString* error)
{
    QFile::remove(path);
    if (!QFile::copy(QStringLiteral(":/rc/data/init.db"), path)
        || !QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        *error = QStringLiteral("cannot copy the template to ") + path;
        return false;
    }
    if (!DBHelper::getInstance()->initDefaultData(path)) {
        *error = QStringLiteral("cannot write the default records");
        return false;
    }

    // A book that does not open leaves the driver's text in *error.
    return withBookConnection(
        path, QStringLiteral("quorvane_bookgen"), BookAccess::ReadWrite,
        [&](QSqlDatabase& db) {
            QRandomGenerator rng(options.seed);
            Writer writer(db, rng);
            Pools pools;
            // The settings row as the program leaves it after opening the book once.
            const bool written = db.transaction()
                && writer.run(QStringLiteral("update tbl_setting set version=38, password=?, sync_password=?"),
                    { scramblePassword(QString()), scramblePassword(QString()) })
                && addReferenceRecords(writer, pools) && addBills(writer, pools, options) && db.commit();
            if (!written) {
                *error = writer.error.isEmpty() ? db.lastError().text() : writer.error;
                db.rollback();
            }
            return written;
        },
        error);
}

void BookGenerator::addOptions(QCommandLineParser& parser)
{
    const Options defaults;
    parser.addOption({ QStringLiteral("bills"), QStringLiteral("Number of bills."), QStringLiteral("n"),
        QString::number(defaults.bills) });
    parser.addOption({ QStringLiteral("years"), QStringLiteral("Years the bills span, up to the last day."),
        QStringLiteral("n"), QString::number(defaults.years) });
    parser.addOption({ QStringLiteral("seed"), QStringLiteral("Random seed."), QStringLiteral("n"),
        QString::number(defaults.seed) });
}

bool BookGenerator::readOptions(const QCommandLineParser& parser, Options* options, QString* error)
{
    options->bills = parser.value(QStringLiteral("bills")).toInt();
    options->years = parser.value(QStringLiteral("years")).toInt();
    options->seed = parser.value(QStringLiteral("seed")).toUInt();
    if (options->bills < 0 || options->years < 1 || options->years > 100) {
        *error = QStringLiteral("bills must be 0 or more and years between 1 and 100");
        return false;
    }
    return true;
}
