#include "import/importplan.h"

#include <cmath>
#include <functional>

#include <QObject>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringBuilder>

#include "data/backuphelper.h"
#include "data/enteredtext.h"
#include "data/logging.h"
#include "data/dbhelper.h"
#include "data/maccount.h"
#include "data/mbill.h"
#include "data/mborrower.h"
#include "data/mcategory.h"
#include "data/mmember.h"
#include "data/sqlhelper.h"
#include "data/sqltransaction.h"
#include "import/importsource.h"

namespace {

using Role = ColumnRole::Role;

// The dialogs' limit for a name.
const int MaxNameLength = 20;

const QChar Separator(0x1F);

qint64 cents(double amount)
{
    return std::llround(amount * 100.0);
}

// The kind an in/out column's word names: "收"/"支" and their like, or one of the bill kinds'
// labels; empty when it names none.
QString kindOfWord(const QString& word)
{
    static const QHash<QString, QString> words {
        { QStringLiteral("收"), MBill::Income },
        { QStringLiteral("收入"), MBill::Income },
        { QStringLiteral("入"), MBill::Income },
        { QStringLiteral("存入"), MBill::Income },
        { QStringLiteral("贷"), MBill::Income },
        { MBill::Income, MBill::Income },
        { QStringLiteral("in"), MBill::Income },
        { QStringLiteral("credit"), MBill::Income },
        { QStringLiteral("deposit"), MBill::Income },
        { QStringLiteral("支"), MBill::Expense },
        { QStringLiteral("支出"), MBill::Expense },
        { QStringLiteral("出"), MBill::Expense },
        { QStringLiteral("取出"), MBill::Expense },
        { QStringLiteral("借"), MBill::Expense },
        { MBill::Expense, MBill::Expense },
        { QStringLiteral("out"), MBill::Expense },
        { QStringLiteral("debit"), MBill::Expense },
        { QStringLiteral("withdrawal"), MBill::Expense },
        { QStringLiteral("转账"), MBill::Transfer },
        { MBill::Transfer, MBill::Transfer },
        { QStringLiteral("借出"), MBill::Lend },
        { MBill::Lend, MBill::Lend },
        { QStringLiteral("借入"), MBill::Borrow },
        { MBill::Borrow, MBill::Borrow },
        { QStringLiteral("收款"), MBill::Refund },
        { MBill::Refund, MBill::Refund },
        { QStringLiteral("还款"), MBill::Repay },
        { MBill::Repay, MBill::Repay },
    };
    const auto plain = words.constFind(word);
    if (plain != words.constEnd())
        return plain.value();
    return words.value(word.normalized(QString::NormalizationForm_KC).trimmed().toLower());
}

// The row's amount: of its amount column, or of its income and expense columns (an income
// positive, an expense negative). False, with the reason, when it has none or cannot be read.
bool readAmount(const ImportRecord& record, double* amount, QString* reason)
{
    const QString amountText = record.value(Role::Amount);
    const QString incomeText = record.value(Role::Income).trimmed();
    const QString expenseText = record.value(Role::Expense).trimmed();
    if (!amountText.trimmed().isEmpty())
        return ValueParser::parseAmount(amountText, amount, reason);
    if (incomeText.isEmpty() && expenseText.isEmpty()) {
        *reason = QObject::tr("没有金额");
        return false;
    }
    double income = 0;
    double expense = 0;
    if (!incomeText.isEmpty() && !ValueParser::parseAmount(incomeText, &income, reason))
        return false;
    if (!expenseText.isEmpty() && !ValueParser::parseAmount(expenseText, &expense, reason))
        return false;
    if (income != 0 && expense != 0) {
        *reason = QObject::tr("收入和支出都有金额");
        return false;
    }
    *amount = income != 0 ? std::abs(income) : -std::abs(expense);
    return true;
}

QChar typeKey(ImportPlan::NameType type)
{
    switch (type) {
    case ImportPlan::NameType::Account:
        return QLatin1Char('A');
    case ImportPlan::NameType::Category:
        return QLatin1Char('C');
    case ImportPlan::NameType::SubCategory:
        return QLatin1Char('S');
    case ImportPlan::NameType::Member:
        return QLatin1Char('M');
    case ImportPlan::NameType::Borrower:
        return QLatin1Char('B');
    }
    return QLatin1Char('?');
}

// Why a name cannot become a record; empty when it can.
QString nameProblem(const QString& name)
{
    for (QChar c : name) {
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            return QObject::tr("名称“%1”含有换行或控制字符").arg(name.simplified().left(20));
    }
    if (name.size() > MaxNameLength)
        return QObject::tr("名称“%1…”超过%2个字符").arg(name.left(10)).arg(MaxNameLength);
    return QString();
}

// The levels of a category as other programs write them: "餐饮:早餐", "餐饮/早餐",
// "Food > Groceries", "Expense:Housing:Rent".
QStringList categoryLevels(QString text)
{
    text.replace(QStringLiteral(" > "), QStringLiteral(":"));
    QStringList levels;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text.at(i) != QLatin1Char(':') && text.at(i) != QLatin1Char('/')
            && text.at(i) != QChar(0xFF1A))
            continue;
        const QString level = text.mid(start, i - start).trimmed();
        if (!level.isEmpty())
            levels << level;
        start = i + 1;
    }
    return levels;
}

// A top level that only says money went out or came in (GnuCash's "Expenses", KMyMoney's "Income").
bool isKindLevel(const QString& level)
{
    static const QStringList words { QStringLiteral("expense"), QStringLiteral("expenses"), QStringLiteral("income"),
        QStringLiteral("incomes"), QStringLiteral("支出"), QStringLiteral("收入") };
    return words.contains(level.toLower());
}

// Writes a record of a name the book lacks, with what else its kind needs, on db.
template <typename Record>
bool insertNamed(
    const QString& id, const QString& name, const QSqlDatabase& db, const std::function<void(Record&)>& more = nullptr)
{
    Record record;
    record.setId(id);
    record.setName(name);
    record.setDescription(QStringLiteral(""));
    if (more)
        more(record);
    return Record::insertRow(&record, db);
}

// Gives a pragma of db another value for as long as it lives; the one it had comes back after.
class PragmaWhile {
public:
    PragmaWhile(const QSqlDatabase& db, const char* name, qint64 value)
        : db(db)
        , name(QLatin1String(name))
    {
        QSqlQuery query(db);
        if (query.exec(QStringLiteral("pragma ") + this->name) && query.next()) {
            before = query.value(0).toLongLong();
            changed = query.exec(QStringLiteral("pragma %1=%2").arg(this->name).arg(value));
        }
    }
    ~PragmaWhile()
    {
        if (changed)
            QSqlQuery(db).exec(QStringLiteral("pragma %1=%2").arg(name).arg(before));
    }
    PragmaWhile(const PragmaWhile&) = delete;
    PragmaWhile& operator=(const PragmaWhile&) = delete;

private:
    QSqlDatabase db;
    QString name;
    qint64 before = 0;
    bool changed = false;
};

} // namespace

ImportPlan::ImportPlan()
{
    loadBook();
}

QString ImportPlan::key(const Name& name) const
{
    return typeKey(name.type) % Separator % name.kind % Separator % name.parent % Separator % name.name;
}

void ImportPlan::loadBook()
{
    known.clear();
    knownById.clear();
    const auto add = [this](const Name& name, const QString& id, const QString& parentId, const QString& parentName) {
        const Known record { id, parentId, name.name, parentName };
        if (!known.contains(key(name)))
            known.insert(key(name), record);
        knownById.insert(typeKey(name.type) % id, record);
    };
    for (const MAccount* account : *MAccount::get())
        add(Name { NameType::Account, QString(), QString(), account->getName() }, account->getId(), QString(),
            QString());
    for (const QLatin1String kind : { MBill::Expense, MBill::Income }) {
        for (const MCategory* category : *MCategory::get(kind)) {
            add(Name { NameType::Category, kind, QString(), category->getName() }, category->getId(), QString(),
                QString());
            for (const MCategory* sub : category->getChildren())
                add(Name { NameType::SubCategory, kind, category->getName(), sub->getName() }, sub->getId(),
                    category->getId(), category->getName());
        }
    }
    for (const MMember* member : *MMember::get())
        add(Name { NameType::Member, QString(), QString(), member->getName() }, member->getId(), QString(), QString());
    for (const MBorrower* borrower : *MBorrower::get())
        add(Name { NameType::Borrower, QString(), QString(), borrower->getName() }, borrower->getId(), QString(),
            QString());

    existingBills.clear();
    QSqlQuery query;
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("select date, amount, account_id, title from tbl_bill"))) {
        qCWarning(lcSql) << "ImportPlan: cannot read the bills:" << query.lastError().text();
        return;
    }
    while (query.next()) {
        ++existingBills[query.value(0).toString() % Separator % QString::number(cents(query.value(1).toDouble()))
            % Separator % query.value(2).toString() % Separator % query.value(3).toString()];
    }
}

const ImportPlan::Known* ImportPlan::resolve(const Name& name) const
{
    const auto mapped = mappings.constFind(key(name));
    if (mapped != mappings.constEnd() && !mapped.value().isEmpty()) {
        const auto record = knownById.constFind(typeKey(name.type) % mapped.value());
        if (record != knownById.constEnd())
            return &record.value();
    }
    const auto record = known.constFind(key(name));
    return record == known.constEnd() ? nullptr : &record.value();
}

QString ImportPlan::fitName(const QString& name, int line)
{
    if (name.size() <= MaxNameLength)
        return name;
    qsizetype length = MaxNameLength;
    if (name.at(length - 1).isHighSurrogate())
        --length;
    const QString fitted = name.left(length).trimmed();
    if (!shortenedNames.contains(name)) {
        shortenedNames.insert(name, line);
        nameNotes.append(
            { line, QObject::tr("名称“%1…”超过%2个字符，记为“%3”").arg(name.left(30)).arg(MaxNameLength).arg(fitted) });
    }
    return fitted;
}

int ImportPlan::noteName(Row* row, const Name& name)
{
    const QString nameKey = key(name);
    int index = useIndex.value(nameKey, -1);
    if (index < 0) {
        // What the name stands for depends on the book and the mappings only: settled once.
        index = int(uses.size());
        useIndex.insert(nameKey, index);
        NameUse use;
        use.name = name;
        const QString mappedTo = mappings.value(nameKey);
        const auto record = mappedTo.isEmpty() ? known.constFind(nameKey) : known.constEnd();
        if (record != known.constEnd()) {
            use.id = record->id;
            use.shown = record->name;
        } else {
            use.missing = int(missing.size());
            missingIndex.insert(nameKey, use.missing);
            MissingName entry;
            entry.name = name;
            entry.problem = nameProblem(name.name);
            entry.mappedTo = mappedTo;
            missing.append(entry);
            const auto mapped
                = mappedTo.isEmpty() ? knownById.constEnd() : knownById.constFind(typeKey(name.type) % mappedTo);
            if (mapped != knownById.constEnd()) {
                use.id = mapped->id;
                use.shown = mapped->name;
                use.parentShown = mapped->parentName;
            } else {
                use.id = QStringLiteral("new:") % name.name;
                use.shown = name.name;
                use.created = true;
            }
        }
        uses.append(std::move(use));
    }
    const NameUse& use = uses.at(index);
    if (use.missing >= 0) {
        MissingName& entry = missing[use.missing];
        ++entry.rows;
        if (use.created && !entry.problem.isEmpty() && row->status != Status::Unreadable) {
            row->status = Status::Unreadable;
            row->reason = entry.problem;
        }
    }
    return index;
}

void ImportPlan::readRow(
    const ImportRecord& record, const QString& defaultAccount, ValueParser::DateOrder order, Row* row)
{
    row->line = record.line;
    row->group = record.group;
    const auto unreadable = [row](const QString& reason) {
        row->status = Status::Unreadable;
        row->reason = reason;
    };
    if (!record.problem.isEmpty())
        return unreadable(record.problem);
    QString reason;
    if (!ValueParser::parseDate(record.value(Role::Date), order, &row->date, &reason))
        return unreadable(reason);

    QString kind;
    const QString word = record.value(Role::InOut).trimmed();
    if (!word.isEmpty()) {
        kind = kindOfWord(word);
        if (kind.isEmpty())
            return unreadable(QObject::tr("收/支“%1”无法识别").arg(word.left(20)));
    }

    double amount = 0;
    if (!readAmount(record, &amount, &reason))
        return unreadable(reason);

    const QString toAccount = enteredText(record.value(Role::ToAccount)).trimmed();
    if (kind.isEmpty())
        kind = !toAccount.isEmpty() ? MBill::Transfer : (amount > 0 ? MBill::Income : MBill::Expense);
    if (kind == MBill::Transfer && toAccount.isEmpty())
        return unreadable(QObject::tr("转账没有转入账户"));
    row->kind = kind;
    row->amount = MBill::isOutgoingKind(kind) ? -std::abs(amount) : std::abs(amount);

    QString account = fitName(enteredText(record.value(Role::Account)).trimmed(), row->line);
    if (account.isEmpty())
        account = defaultAccount;
    if (account.isEmpty())
        return unreadable(QObject::tr("没有账户，请选择默认账户"));

    QString borrower;
    if (MBill::isLoanKind(kind)) {
        borrower = fitName(enteredText(record.value(Role::Borrower)).trimmed(), row->line);
        if (borrower.isEmpty())
            return unreadable(QObject::tr("借贷账目没有借款人"));
    }

    row->refs.account = noteName(row, Name { NameType::Account, QString(), QString(), account });
    if (kind == MBill::Transfer) {
        row->refs.toAccount
            = noteName(row, Name { NameType::Account, QString(), QString(), fitName(toAccount, row->line) });
    }
    if (MBill::isCategoryKind(kind))
        noteCategoryAndMember(record, row);
    else if (MBill::isLoanKind(kind))
        row->refs.borrower = noteName(row, Name { NameType::Borrower, QString(), QString(), borrower });
}

void ImportPlan::noteCategoryAndMember(const ImportRecord& record, Row* row)
{
    QString category = enteredText(record.value(Role::Category)).trimmed();
    QString sub = enteredText(record.value(Role::SubCategory)).trimmed();
    // The book has two levels: deeper trees keep their last two, a leading word that only
    // names income or expense goes.
    QStringList levels = categoryLevels(category);
    if (levels.size() > 1 && isKindLevel(levels.constFirst()))
        levels.removeFirst();
    if (sub.isEmpty() && levels.size() > 1) {
        category = levels.at(levels.size() - 2);
        sub = levels.constLast();
    } else {
        category = levels.isEmpty() ? QString() : levels.constLast();
    }
    if (category.isEmpty())
        category = QObject::tr("未分类");
    category = fitName(category, row->line);
    sub = sub.isEmpty() ? category : fitName(sub, row->line);
    const Name top { NameType::Category, row->kind, QString(), category };
    const Known* topRecord = resolve(top);
    const Name child { NameType::SubCategory, row->kind, topRecord ? topRecord->name : category, sub };
    const Known* subRecord = mappings.value(key(child)).isEmpty() ? nullptr : resolve(child);
    // A sub-category mapped to one of the book's brings its category along.
    if (!subRecord)
        row->refs.category = noteName(row, top);
    row->refs.subCategory = noteName(row, child);
    const QString member = fitName(enteredText(record.value(Role::Member)).trimmed(), row->line);
    if (!member.isEmpty())
        row->refs.member = noteName(row, Name { NameType::Member, QString(), QString(), member });
}

void ImportPlan::build(const ImportSource& source, ValueParser::DateOrder order, const QString& defaultAccount)
{
    lastRecords = source.records();
    sourceNotes = source.notes();
    // Ticks belong to the rows of the file as it was read.
    tickedRows.clear();
    lastOrder = order;
    lastDefaultAccount = defaultAccount;
    accountKinds = source.accountKinds();
    fileProblem.clear();
    if (!source.isQif()) {
        const QList<Role> roles = source.columns();
        if (!roles.contains(Role::Date))
            fileProblem = QObject::tr("没有日期列：请指定哪一列是日期。");
        else if (!roles.contains(Role::Amount) && !roles.contains(Role::Income) && !roles.contains(Role::Expense))
            fileProblem = QObject::tr("没有金额列：请指定哪一列是金额（或收入和支出）。");
    }
    rebuild();
}

void ImportPlan::rebuild()
{
    int monthDay = 0;
    int dayMonth = 0;
    int ambiguous = 0;
    for (const ImportRecord& record : std::as_const(lastRecords)) {
        const QString& date = record.value(Role::Date);
        // Year first (2023-03-05, 2023/3/5): nothing to tell.
        if (date.size() >= 8 && date.at(4) == QLatin1Char('-') && date.at(0).isDigit())
            continue;
        const ValueParser::DateShape shape = ValueParser::dateShape(date);
        if (!shape.positional)
            continue;
        if (shape.ambiguous)
            ++ambiguous;
        else if (shape.monthDayPossible && !shape.dayMonthPossible)
            ++monthDay;
        else if (shape.dayMonthPossible && !shape.monthDayPossible)
            ++dayMonth;
    }
    detectedOrder = monthDay > 0 && dayMonth == 0 ? ValueParser::DateOrder::MonthDay
        : dayMonth > 0 && monthDay == 0           ? ValueParser::DateOrder::DayMonth
                                                  : ValueParser::DateOrder::Unknown;
    const ValueParser::DateOrder effective = lastOrder != ValueParser::DateOrder::Unknown ? lastOrder : detectedOrder;
    orderNeeded = effective == ValueParser::DateOrder::Unknown && (ambiguous > 0 || (monthDay > 0 && dayMonth > 0));

    // Mapped names stay mapped (mappings); the list of missing ones is made anew.
    missing.clear();
    missingIndex.clear();
    uses.clear();
    useIndex.clear();
    shortenedNames.clear();
    nameNotes.clear();
    planned.clear();
    planned.reserve(lastRecords.size());
    QHash<int, QString> brokenGroups;
    for (const ImportRecord& record : std::as_const(lastRecords)) {
        Row row;
        row.record = int(planned.size());
        readRow(record, lastDefaultAccount, effective, &row);
        if (row.group > 0 && row.status == Status::Unreadable && !brokenGroups.contains(row.group))
            brokenGroups.insert(row.group, row.reason);
        planned.append(std::move(row));
    }
    // A split is booked whole or not at all.
    if (!brokenGroups.isEmpty()) {
        for (Row& row : planned) {
            const auto broken = brokenGroups.constFind(row.group);
            if (row.group > 0 && broken != brokenGroups.constEnd() && row.status != Status::Unreadable) {
                row.status = Status::Unreadable;
                row.reason = QObject::tr("拆分的另一部分无法读取：%1").arg(broken.value());
            }
        }
    }
    markDuplicates();
}

QString ImportPlan::duplicateKey(const Row& row) const
{
    // yyyy-MM-dd as the book stores dates, written without the date formatter: this runs per row.
    char16_t date[10];
    int year = row.date.year();
    for (int i = 3; i >= 0; --i, year /= 10)
        date[i] = char16_t(u'0' + year % 10);
    date[4] = date[7] = u'-';
    date[5] = char16_t(u'0' + row.date.month() / 10);
    date[6] = char16_t(u'0' + row.date.month() % 10);
    date[8] = char16_t(u'0' + row.date.day() / 10);
    date[9] = char16_t(u'0' + row.date.day() % 10);
    return QStringView(date, 10) % Separator % QString::number(cents(row.amount)) % Separator
        % uses.at(row.refs.account).id % Separator % text(row, Role::Title);
}

void ImportPlan::markDuplicates()
{
    // A statement lists real movements: two equal rows are two coffees. A row repeats only a bill
    // the book already has, and each bill of the book answers for one row of the file.
    QHash<QString, int> unmatched = existingBills;
    // One text for every duplicate row rather than a copy each.
    const QString duplicate = QObject::tr("账本中已有相同的账目");
    for (qsizetype index = 0; index < planned.size(); ++index) {
        Row& row = planned[index];
        if (row.status == Status::Unreadable) {
            row.ticked = false;
            continue;
        }
        const auto same = unmatched.find(duplicateKey(row));
        if (same != unmatched.end() && same.value() > 0) {
            --same.value();
            row.status = Status::Duplicate;
            row.reason = duplicate;
        } else {
            row.status = Status::New;
            row.reason.clear();
        }
        row.ticked = row.status == Status::New || tickedRows.contains(int(index));
    }
}

QString ImportPlan::text(const Row& row, Role role) const
{
    const auto shown = [this](int ref) { return ref >= 0 ? uses.at(ref).shown : QString(); };
    switch (role) {
    case Role::Account:
        return shown(row.refs.account);
    case Role::ToAccount:
        return shown(row.refs.toAccount);
    case Role::Category:
        if (row.refs.category < 0 && row.refs.subCategory >= 0)
            return uses.at(row.refs.subCategory).parentShown;
        return shown(row.refs.category);
    case Role::SubCategory:
        return shown(row.refs.subCategory);
    case Role::Member:
        return shown(row.refs.member);
    case Role::Borrower:
        return shown(row.refs.borrower);
    case Role::Title:
    case Role::Description:
        // As the record has it: read again rather than kept beside it.
        return row.record >= 0 && row.record < lastRecords.size()
            ? enteredText(lastRecords.at(row.record).value(role)).trimmed()
            : QString();
    default:
        return QString();
    }
}

void ImportPlan::setTicked(int index, bool ticked)
{
    if (index < 0 || index >= planned.size() || planned.at(index).status != Status::Duplicate)
        return;
    planned[index].ticked = ticked;
    if (ticked)
        tickedRows.insert(index);
    else
        tickedRows.remove(index);
}

int ImportPlan::count(Status status) const
{
    return int(
        std::count_if(planned.cbegin(), planned.cend(), [status](const Row& row) { return row.status == status; }));
}

int ImportPlan::tickedCount() const
{
    return int(std::count_if(planned.cbegin(), planned.cend(), [](const Row& row) { return row.ticked; }));
}

void ImportPlan::mapName(int index, const QString& id)
{
    if (index < 0 || index >= missing.size())
        return;
    mappings.insert(key(missing.at(index).name), id);
    rebuild();
}

QList<QPair<QString, QString>> ImportPlan::candidates(NameType type, const QString& kind) const
{
    QList<QPair<QString, QString>> records;
    const QString prefix = typeKey(type) % Separator;
    for (auto record = known.cbegin(); record != known.cend(); ++record) {
        if (!record.key().startsWith(prefix))
            continue;
        if (!kind.isEmpty() && record.key().section(Separator, 1, 1) != kind)
            continue;
        const QString label
            = type == NameType::SubCategory ? record->parentName + QStringLiteral(" - ") + record->name : record->name;
        records.append({ label, record->id });
    }
    std::sort(records.begin(), records.end());
    return records;
}

ImportPlan::Summary ImportPlan::preview() const
{
    Summary summary;
    summary.dryRun = true;
    for (const Row& row : planned) {
        if (row.status == Status::Unreadable) {
            ++summary.unreadable;
            summary.unreadableRows.append({ row.line, row.reason });
        } else if (row.ticked) {
            ++summary.booked;
        } else {
            ++summary.duplicates;
        }
    }
    QSet<int> needed;
    for (const Row& row : planned) {
        if (row.ticked && row.status != Status::Unreadable) {
            for (int index : { row.refs.account, row.refs.toAccount, row.refs.category, row.refs.subCategory,
                     row.refs.member, row.refs.borrower }) {
                if (index >= 0 && uses.at(index).created)
                    needed.insert(index);
            }
        }
    }
    summary.createdNames = int(needed.size());
    summary.notes = sourceNotes + nameNotes;
    return summary;
}

// What booking the rows needs beside them: the connection, and the records made so far by the
// keys of their names.
struct ImportPlan::Booking {
    QSqlDatabase db;
    QHash<QString, QString> ids;
    int created = 0;
    // A record could not be written: nothing more is booked.
    bool failed = false;
};

QString ImportPlan::bookedId(const Name& name, QString* parentId, Booking* booking)
{
    if (const Known* record = resolve(name)) {
        if (parentId && !record->parentId.isEmpty())
            *parentId = record->parentId;
        return record->id;
    }
    const QString nameKey = key(name);
    if (booking->ids.contains(nameKey))
        return booking->ids.value(nameKey);
    QString id = newRecordId();
    if (!insertName(name, id, *booking)) {
        booking->failed = true;
        return QString();
    }
    ++booking->created;
    booking->ids.insert(nameKey, id);
    return id;
}

bool ImportPlan::insertName(const Name& name, const QString& id, const Booking& booking) const
{
    switch (name.type) {
    case NameType::Account:
        return insertNamed<MAccount>(id, name.name, booking.db,
            [&](MAccount& account) { account.setKind(accountKinds.value(name.name, QStringLiteral("other"))); });
    case NameType::Category:
    case NameType::SubCategory:
        return insertNamed<MCategory>(id, name.name, booking.db, [&](MCategory& category) {
            category.setKind(name.kind);
            if (name.type == NameType::SubCategory) {
                const Name top { NameType::Category, name.kind, QString(), name.parent };
                const Known* topRecord = resolve(top);
                category.setCategoryId(topRecord ? topRecord->id : booking.ids.value(key(top)));
            }
        });
    case NameType::Member:
        return insertNamed<MMember>(id, name.name, booking.db);
    case NameType::Borrower:
        return insertNamed<MBorrower>(id, name.name, booking.db);
    }
    return false;
}

bool ImportPlan::bookRow(const Row& row, Booking* booking, QSqlQuery* insert, QString* error)
{
    // A record that cannot be made stops the booking.
    const auto idOf = [&](int use, QString* parentId = nullptr) {
        return booking->failed ? QString() : bookedId(uses.at(use).name, parentId, booking);
    };
    const QString none = QStringLiteral("");
    const QString accountId = idOf(row.refs.account);
    QString toAccountId = none;
    QString categoryId = none;
    QString subCategoryId = none;
    QString memberId = none;
    QString borrowerId = none;
    if (row.kind == MBill::Transfer)
        toAccountId = idOf(row.refs.toAccount);
    if (MBill::isCategoryKind(row.kind)) {
        if (row.refs.category >= 0)
            categoryId = idOf(row.refs.category);
        subCategoryId = idOf(row.refs.subCategory, &categoryId);
        if (row.refs.member >= 0)
            memberId = idOf(row.refs.member);
    } else if (MBill::isLoanKind(row.kind)) {
        borrowerId = idOf(row.refs.borrower);
    }
    if (booking->failed)
        return false;
    insert->addBindValue(newRecordId());
    insert->addBindValue(row.amount);
    const QString description = text(row, Role::Description);
    insert->addBindValue(description.isNull() ? none : description);
    insert->addBindValue(row.date);
    insert->addBindValue(row.date.year() * 100 + row.date.month());
    insert->addBindValue(categoryId);
    insert->addBindValue(subCategoryId);
    insert->addBindValue(accountId);
    insert->addBindValue(toAccountId);
    insert->addBindValue(borrowerId);
    insert->addBindValue(memberId);
    const QString title = text(row, Role::Title);
    insert->addBindValue(title.isNull() ? none : title);
    insert->addBindValue(row.kind);
    if (!insert->exec()) {
        *error = QObject::tr("第 %1 行无法写入账本：%2").arg(row.line).arg(insert->lastError().text());
        return false;
    }
    return true;
}

bool ImportPlan::book(Summary* summary, QString* error)
{
    *summary = preview();
    summary->dryRun = false;
    if (!fileProblem.isEmpty()) {
        *error = fileProblem;
        return false;
    }
    if (orderNeeded) {
        *error = QObject::tr("文件中的日期分不清日和月，请选择日期顺序。");
        return false;
    }
    if (summary->booked == 0) {
        // Nothing to book: the book stays as it is, without a backup.
        summary->createdNames = 0;
        return true;
    }
    summary->backupName = BackupHelper::generateBackupFileName();
    if (!BackupHelper::backup(summary->backupName)) {
        summary->backupName.clear();
        *error = QObject::tr("导入前无法备份账本，没有导入任何账目。");
        return false;
    }

    const QSqlDatabase db = QSqlDatabase::database();
    bool ok = false;
    int created = 0;
    // The connection's large cache and memory map serve the browsing of the book; the inserts of a
    // large file would keep every page they write in the one until the commit, and the book read
    // again after them would be mapped whole. With a small cache the pages go on to the file as it
    // fills, and the import's memory stays near the file's size.
    const PragmaWhile cache(db, "cache_size", -1024);
    const PragmaWhile map(db, "mmap_size", 0);
    {
        SqlTransaction transaction(db, QStringLiteral("import"));
        ok = transaction.isActive();
        Booking booking;
        booking.db = db;
        QSqlQuery insert(db);
        ok = ok
            && insert.prepare(QStringLiteral(
                "insert into tbl_bill (id,amount,description,date,month,category_id,sub_category_id,account_id,"
                "to_account_id,borrower_id,member_id,title,kind)  values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "));
        for (const Row& row : std::as_const(planned)) {
            if (!ok)
                break;
            if (row.ticked && row.status != Status::Unreadable)
                ok = bookRow(row, &booking, &insert, error);
        }
        created = booking.created;
        ok = ok && transaction.commit();
    }
    if (ok) {
        // The plan is spent: booking it again books nothing. A new plan reads the book as it is
        // now. It goes before the book is read again below, not beside it. (Assigned empty rather
        // than cleared: clearing a list shared with the source would allocate one of the same
        // capacity.)
        lastRecords = {};
        planned = {};
        uses = {};
        useIndex.clear();
        missing.clear();
        missingIndex.clear();
    }
    // Whatever happened, the caches and the bill index are read from the book again.
    DBHelper::clearRecordCaches();
    if (!ok) {
        if (error->isEmpty())
            *error = QObject::tr("写入账本时出现错误，没有导入任何账目。");
        return false;
    }
    summary->createdNames = created;
    return true;
}

QString ImportPlan::summaryText(const Summary& summary, int maxListed)
{
    QStringList lines;
    lines
        << (summary.dryRun ? QObject::tr("将导入 %1 条账目。") : QObject::tr("已导入 %1 条账目。")).arg(summary.booked);
    lines << QObject::tr("跳过重复的账目 %1 条。").arg(summary.duplicates);
    lines << QObject::tr("无法读取的行 %1 条。").arg(summary.unreadable);
    int listed = 0;
    for (const auto& row : summary.unreadableRows) {
        if (maxListed >= 0 && listed == maxListed) {
            lines << QObject::tr("……（还有 %1 行）").arg(summary.unreadableRows.size() - listed);
            break;
        }
        lines << QObject::tr("第 %1 行：%2").arg(row.first).arg(row.second);
        ++listed;
    }
    listed = 0;
    for (const auto& note : summary.notes) {
        if (maxListed >= 0 && listed == maxListed) {
            lines << QObject::tr("……（还有 %1 处）").arg(summary.notes.size() - listed);
            break;
        }
        lines << QObject::tr("第 %1 行：%2").arg(note.first).arg(note.second);
        ++listed;
    }
    if (summary.createdNames > 0)
        lines << QObject::tr("新建了 %1 个账户、类别、成员或借款人。").arg(summary.createdNames);
    if (!summary.backupName.isEmpty())
        lines << QObject::tr("导入前的备份：%1").arg(summary.backupName);
    return lines.join(QLatin1Char('\n'));
}
