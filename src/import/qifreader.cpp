#include "import/qifreader.h"

#include <QObject>
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

class Reader {
public:
    Reader(const QString& fallback)
        : defaultAccount(fallback)
    {
    }

    void line(int number, const QString& text);
    void finish() { endTransaction(); }

    QifReader::Result result;

private:
    void endTransaction();
    void emitBill(const Transaction& t, const QString& category, const QString& memo, const QString& amount);

    QString defaultAccount;
    QString account;
    QString sectionType;
    bool readSection = false;
    bool inAccountBlock = false;
    QString blockName;
    QString blockType;
    int section = 0;
    Transaction current;
    // Transfers waiting for their other half, by date, accounts and amount, with their section.
    QHash<QString, QList<int>> unpaired;
};

void Reader::line(int number, const QString& text)
{
    if (text.startsWith(QLatin1Char('!'))) {
        endTransaction();
        const QString header = text.mid(1).trimmed();
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
    const QString value = text.mid(1).trimmed();
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
    case 'D':
        current.date = value;
        break;
    case 'T':
        current.amount = value;
        break;
    case 'U':
        if (current.amount.isEmpty())
            current.amount = value;
        break;
    case 'P':
        current.payee = value;
        break;
    case 'M':
        current.memo = value;
        break;
    case 'L':
        current.category = value;
        break;
    case 'S':
        current.splits.append(Split { value, QString(), QString() });
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
    const Transaction t = current;
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
        emitBill(t, t.category, t.memo, t.amount);
        return;
    }
    for (const Split& split : t.splits)
        emitBill(t, split.category, split.memo.isEmpty() ? t.memo : split.memo, split.amount);
}

void Reader::emitBill(const Transaction& t, const QString& category, const QString& memo, const QString& amount)
{
    const QString own = account.isEmpty() ? defaultAccount : account;
    ImportRecord record;
    record.line = t.line;
    record.setValue(Role::Date, t.date);
    record.setValue(Role::Title, t.payee);
    record.setValue(Role::Description, memo);
    record.setValue(Role::Account, own);
    record.setValue(Role::Amount, amount);

    QString target;
    if (category.startsWith(QLatin1Char('[')) && category.contains(QLatin1Char(']')))
        target = category.mid(1, category.indexOf(QLatin1Char(']')) - 1).trimmed();
    if (target.isEmpty() || target == own) {
        // An account naming itself is the opening balance: money in or out like any other.
        // A category may carry a class after "/"; a bill keeps the category.
        record.setValue(
            Role::Category, target.isEmpty() ? category.section(QLatin1Char('/'), 0, 0).trimmed() : QString());
        result.records.append(record);
        return;
    }

    double value = 0;
    if (!ValueParser::parseAmount(amount, &value)) {
        record.setValue(Role::ToAccount, target);
        result.records.append(record);
        return;
    }
    // Money that came in came from the other account.
    const QString from = value > 0 ? target : own;
    const QString to = value > 0 ? own : target;
    record.setValue(Role::Account, from);
    record.setValue(Role::ToAccount, to);
    record.setValue(Role::Amount, QString::number(std::abs(value), 'f', 2));

    QString date = t.date;
    date.remove(QLatin1Char(' '));
    const QString key
        = date + QChar(0x1F) + from + QChar(0x1F) + to + QChar(0x1F) + QString::number(std::abs(value), 'f', 2);
    QList<int>& waiting = unpaired[key];
    for (int i = 0; i < waiting.size(); ++i) {
        if (waiting.at(i) != section) {
            waiting.removeAt(i);
            ++result.pairedTransfers;
            return;
        }
    }
    waiting.append(section);
    result.records.append(record);
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

QifReader::Result QifReader::read(const QString& text, const QString& defaultAccount)
{
    Reader reader(defaultAccount);
    int number = 0;
    qsizetype start = 0;
    while (start <= text.size()) {
        qsizetype end = text.indexOf(QLatin1Char('\n'), start);
        if (end < 0)
            end = text.size();
        ++number;
        QString line = text.mid(start, end - start);
        while (line.endsWith(QLatin1Char('\r')) || line.endsWith(QLatin1Char(' ')))
            line.chop(1);
        reader.line(number, line);
        start = end + 1;
    }
    reader.finish();
    return reader.result;
}
