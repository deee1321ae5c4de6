#include "import/qifreader.h"

#include <algorithm>

#include <QObject>
#include <QSet>
#include <QStringList>

#include "import/valueparser.h"

namespace {

using Role = ColumnRole::Role;

struct Split {
    QString category;
    QString memo;
    QString amount;
};

struct Transaction {
    int line = 0;
    QString date;
    QString amount;
    QString payee;
    QString memo;
    QString category;
    QList<Split> splits;
    bool empty() const { return line == 0; }
};

// The account kind of a section type; empty for a section the import does not read.
QString accountKindOf(const QString& type)
{
    const QString t = type.simplified().toLower();
    if (t == QLatin1String("bank"))
        return QStringLiteral("card");
    if (t == QLatin1String("cash"))
        return QStringLiteral("cash");
    if (t == QLatin1String("ccard"))
        return QStringLiteral("credit");
    if (t == QLatin1String("oth a") || t == QLatin1String("oth l"))
        return QStringLiteral("other");
    return QString();
}

// Lists of categories, classes and memorised transactions name no bill.
bool isList(const QString& type)
{
    const QString t = type.simplified().toLower();
    return t == QLatin1String("cat") || t == QLatin1String("class") || t == QLatin1String("memorized")
        || t == QLatin1String("prices") || t == QLatin1String("security");
}

// The fields of a record, in this order: only the roles a QIF transaction fills take room.
enum Field {
    DateField,
    AmountField,
    AccountField,
    ToAccountField,
    CategoryField,
    TitleField,
    DescriptionField,
    Fields
};

std::shared_ptr<const ImportRecord::Columns> qifColumns()
{
    static const std::shared_ptr<const ImportRecord::Columns> columns = [] {
        auto map = std::make_shared<ImportRecord::Columns>();
        map->fill(-1);
        (*map)[size_t(Role::Date)] = DateField;
        (*map)[size_t(Role::Amount)] = AmountField;
        (*map)[size_t(Role::Account)] = AccountField;
        (*map)[size_t(Role::ToAccount)] = ToAccountField;
        (*map)[size_t(Role::Category)] = CategoryField;
        (*map)[size_t(Role::Title)] = TitleField;
        (*map)[size_t(Role::Description)] = DescriptionField;
        return map;
    }();
    return columns;
}

// Banks book the two sides of a transfer on days apart: halves this close are one transfer.
const int TransferDays = 4;

class Reader {
public:
    Reader(const QString& fallback, ValueParser::DateOrder order)
        : defaultAccount(fallback)
        , order(order)
    {
    }

    void line(int number, QStringView text);
    void finish();

    QifReader::Result result;

private:
    // One side of a transfer between two accounts of the file, as its section lists it.
    struct Half {
        qsizetype record = 0;
        int section = 0;
        QString key;
        QString date;
        qint64 day = 0;
    };

    void endTransaction();
    void emitBill(const Transaction& t, const QString& category, const QString& memo, const QString& amount, int group);
    void pairTransfers();
    // The one copy of a text that many transactions repeat (dates, payees, categories).
    QString shared(const QString& text);

    QString defaultAccount;
    ValueParser::DateOrder order;
    QString account;
    QString sectionType;
    bool readSection = false;
    bool inAccountBlock = false;
    QString blockName;
    QString blockType;
    int section = 0;
    int groups = 0;
    Transaction current;
    QList<Half> halves;
    QSet<QString> texts;
    // How many dates only one order of day and month reads, for each order.
    int monthDayDates = 0;
    int dayMonthDates = 0;
};

void Reader::line(int number, QStringView text)
{
    if (text.startsWith(QLatin1Char('!'))) {
        endTransaction();
        const QString header = text.mid(1).trimmed().toString();
        if (header.compare(QLatin1String("Account"), Qt::CaseInsensitive) == 0) {
            inAccountBlock = true;
            blockName.clear();
            blockType.clear();
        } else if (header.startsWith(QLatin1String("Type:"), Qt::CaseInsensitive)) {
            inAccountBlock = false;
            sectionType = header.mid(5).trimmed();
            readSection = !accountKindOf(sectionType).isEmpty();
            ++section;
            const QString name = account.isEmpty() ? defaultAccount : account;
            if (readSection && !result.accountKinds.contains(name))
                result.accountKinds.insert(name, accountKindOf(sectionType));
        }
        // !Option and !Clear switches change nothing the import reads.
        return;
    }
    if (text.isEmpty())
        return;
    const QChar code = text.at(0);
    const QString value = text.mid(1).trimmed().toString();
    if (inAccountBlock) {
        if (code == QLatin1Char('N'))
            blockName = value;
        else if (code == QLatin1Char('T'))
            blockType = value;
        else if (code == QLatin1Char('^')) {
            account = blockName;
            if (!blockName.isEmpty() && !accountKindOf(blockType).isEmpty())
                result.accountKinds.insert(blockName, accountKindOf(blockType));
        }
        return;
    }
    if (code == QLatin1Char('^')) {
        endTransaction();
        return;
    }
    if (current.empty())
        current.line = number;
    switch (code.toLatin1()) {
    case 'D': {
        current.date = shared(value);
        const ValueParser::DateShape shape = ValueParser::dateShape(value);
        if (shape.monthDayPossible && !shape.dayMonthPossible)
            ++monthDayDates;
        else if (shape.dayMonthPossible && !shape.monthDayPossible)
            ++dayMonthDates;
        break;
    }
    case 'T':
        current.amount = value;
        break;
    case 'U':
        if (current.amount.isEmpty())
            current.amount = value;
        break;
    case 'P':
        current.payee = shared(value);
        break;
    case 'M':
        current.memo = value;
        break;
    case 'L':
        current.category = shared(value);
        break;
    case 'S':
        current.splits.append(Split { shared(value), QString(), QString() });
        break;
    case 'E':
        if (!current.splits.isEmpty())
            current.splits.last().memo = value;
        break;
    case '$':
        if (!current.splits.isEmpty())
            current.splits.last().amount = value;
        break;
    default:
        // N (number), C (cleared), A (address) and the rest name nothing a bill keeps.
        break;
    }
}

void Reader::endTransaction()
{
    const Transaction t = std::move(current);
    current = Transaction();
    if (t.empty())
        return;
    if (!readSection) {
        // Investment and other sections hold no bill of this program; lists hold no bill at all.
        if (!isList(sectionType)) {
            ImportRecord record;
            record.line = t.line;
            record.problem = QObject::tr("QIF的“%1”部分不能导入").arg(sectionType);
            result.records.append(record);
        }
        return;
    }
    if (t.splits.isEmpty()) {
        emitBill(t, t.category, t.memo, t.amount, 0);
        return;
    }
    // A split is booked whole or not at all: every part must be read, and what the parts leave of
    // the total is one more part.
    const auto refuse = [&](const QString& reason) {
        ImportRecord record;
        record.line = t.line;
        record.problem = reason;
        result.records.append(record);
    };
    qint64 parts = 0;
    for (qsizetype i = 0; i < t.splits.size(); ++i) {
        qint64 cents = 0;
        QString reason;
        if (!ValueParser::parseCents(t.splits.at(i).amount, &cents, &reason))
            return refuse(QObject::tr("拆分的第 %1 部分：%2").arg(i + 1).arg(reason));
        parts += cents;
    }
    qint64 total = parts;
    QString reason;
    if (!t.amount.isEmpty() && !ValueParser::parseCents(t.amount, &total, &reason))
        return refuse(reason);
    const int group = ++groups;
    for (const Split& split : t.splits)
        emitBill(t, split.category, split.memo.isEmpty() ? t.memo : split.memo, split.amount, group);
    if (total != parts) {
        const QString rest = QString::number(double(total - parts) / 100.0, 'f', 2);
        emitBill(t, QString(), t.memo, rest, group);
        result.notes.append({ t.line,
            QObject::tr("拆分各部分合计 %1，与总额 %2 相差 %3，差额记为“未分类”")
                .arg(QString::number(double(parts) / 100.0, 'f', 2), QString::number(double(total) / 100.0, 'f', 2),
                    rest) });
    }
}

void Reader::emitBill(
    const Transaction& t, const QString& category, const QString& memo, const QString& amount, int group)
{
    const QString own = account.isEmpty() ? defaultAccount : account;
    ImportRecord record;
    record.line = t.line;
    record.group = group;
    record.columns = qifColumns();
    record.fields.reserve(Fields);
    record.fields.resize(Fields);
    record.fields[DateField] = t.date;
    record.fields[TitleField] = t.payee;
    record.fields[DescriptionField] = memo;
    record.fields[AccountField] = own;
    record.fields[AmountField] = amount;

    QString target;
    if (category.startsWith(QLatin1Char('[')) && category.contains(QLatin1Char(']')))
        target = category.mid(1, category.indexOf(QLatin1Char(']')) - 1).trimmed();
    if (target.isEmpty() || target == own) {
        // An account naming itself is the opening balance: money in or out like any other.
        // A category may carry a class after "/"; a bill keeps the category.
        if (target.isEmpty())
            record.fields[CategoryField] = category.contains(QLatin1Char('/'))
                ? shared(category.section(QLatin1Char('/'), 0, 0).trimmed())
                : category;
        result.records.append(std::move(record));
        return;
    }

    qint64 cents = 0;
    if (!ValueParser::parseCents(amount, &cents)) {
        record.fields[ToAccountField] = shared(target);
        result.records.append(std::move(record));
        return;
    }
    // Money that came in came from the other account.
    const QString from = cents > 0 ? target : own;
    const QString to = cents > 0 ? own : target;
    record.fields[AccountField] = from == own ? own : shared(from);
    record.fields[ToAccountField] = to == own ? own : shared(to);
    record.fields[AmountField] = QString::number(double(std::abs(cents)) / 100.0, 'f', 2);

    Half half;
    half.record = result.records.size();
    half.section = section;
    half.key = from + QChar(0x1F) + to + QChar(0x1F) + QString::number(std::abs(cents));
    half.date = t.date;
    half.date.remove(QLatin1Char(' '));
    halves.append(std::move(half));
    result.records.append(std::move(record));
}

QString Reader::shared(const QString& text)
{
    const auto known = texts.constFind(text);
    if (known != texts.constEnd())
        return *known;
    texts.insert(text);
    return text;
}

void Reader::finish()
{
    endTransaction();
    pairTransfers();
}

void Reader::pairTransfers()
{
    if (halves.isEmpty())
        return;
    // The halves' days in the order the user chose, or the one the file's dates show; a date no
    // order reads pairs only with the same text.
    ValueParser::DateOrder used = order;
    if (used == ValueParser::DateOrder::Unknown)
        used = monthDayDates > 0 && dayMonthDates == 0 ? ValueParser::DateOrder::MonthDay
            : dayMonthDates > 0 && monthDayDates == 0  ? ValueParser::DateOrder::DayMonth
                                                       : ValueParser::DateOrder::Unknown;
    for (Half& half : halves) {
        QDate date;
        if (ValueParser::parseDate(half.date, used, &date))
            half.day = date.toJulianDay();
        else
            half.key += QChar(0x1F) + half.date;
    }
    // The same accounts and amount, nearest days first, halves of two different sections.
    std::stable_sort(halves.begin(), halves.end(),
        [](const Half& a, const Half& b) { return a.key != b.key ? a.key < b.key : a.day < b.day; });
    QList<bool> paired(halves.size(), false);
    QList<bool> dropped(result.records.size(), false);
    for (int distance = 0; distance <= TransferDays; ++distance) {
        for (qsizetype i = 0; i < halves.size(); ++i) {
            if (paired.at(i))
                continue;
            for (qsizetype j = i + 1; j < halves.size() && halves.at(j).key == halves.at(i).key
                 && halves.at(j).day - halves.at(i).day <= distance;
                 ++j) {
                if (paired.at(j) || halves.at(j).section == halves.at(i).section
                    || halves.at(j).day - halves.at(i).day != distance)
                    continue;
                paired[i] = paired[j] = true;
                // The half listed first is booked, on its own day.
                dropped[std::max(halves.at(i).record, halves.at(j).record)] = true;
                ++result.pairedTransfers;
                break;
            }
        }
    }
    if (result.pairedTransfers == 0)
        return;
    // Closed up in place: a second list of a large file's records would double their room.
    qsizetype kept = 0;
    for (qsizetype i = 0; i < result.records.size(); ++i) {
        if (dropped.at(i))
            continue;
        if (kept != i)
            result.records[kept] = std::move(result.records[i]);
        ++kept;
    }
    result.records.resize(kept);
}

} // namespace

bool QifReader::looksLikeQif(const QString& text)
{
    qsizetype start = 0;
    while (start < text.size() && text.at(start).isSpace())
        ++start;
    const QString head = text.mid(start, 16);
    return head.startsWith(QLatin1String("!Type:"), Qt::CaseInsensitive)
        || head.startsWith(QLatin1String("!Account"), Qt::CaseInsensitive)
        || head.startsWith(QLatin1String("!Option"), Qt::CaseInsensitive);
}

QifReader::Result QifReader::read(const QString& text, const QString& defaultAccount, ValueParser::DateOrder order)
{
    Reader reader(defaultAccount, order);
    // Room for the records at once (a transaction ends in "^", a split has a record per "S" line):
    // a list that grows by halves holds the old and the new block at once when it grows.
    qsizetype expected = 0;
    for (qsizetype i = text.indexOf(QLatin1Char('\n')); i >= 0 && i + 1 < text.size();
         i = text.indexOf(QLatin1Char('\n'), i + 1)) {
        if (text.at(i + 1) == QLatin1Char('^') || text.at(i + 1) == QLatin1Char('S'))
            ++expected;
    }
    reader.result.records.reserve(expected);
    int number = 0;
    qsizetype start = 0;
    while (start <= text.size()) {
        qsizetype end = text.indexOf(QLatin1Char('\n'), start);
        if (end < 0)
            end = text.size();
        ++number;
        QStringView line = QStringView(text).mid(start, end - start);
        while (line.endsWith(QLatin1Char('\r')) || line.endsWith(QLatin1Char(' ')))
            line.chop(1);
        reader.line(number, line);
        start = end + 1;
    }
    reader.finish();
    return std::move(reader.result);
}
