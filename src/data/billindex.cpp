#include "data/billindex.h"

#include <QDebug>
#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <unordered_map>

#include "data/logging.h"
#include "data/sqlitereader.h"

namespace {

// Values of the date and created_time columns, packed into 64 bits and ordered exactly as SQLite
// orders them (NULL, then numbers, then texts by their bytes, then blobs). The forms every writer
// stores ("yyyy-MM-dd", "yyyy-MM-dd hh:mm:ss") are packed as their digits, whose integer order is
// their text order; any other value goes to a side store and is compared the slow way.
using Key = qint64;
constexpr int rankShift = 61;
constexpr Key sideFlag = Key(1) << 60;
constexpr Key payloadMask = sideFlag - 1;
enum Rank : Key { NullRank = 0, NumberRank = 1, TextRank = 2, BlobRank = 3 };

// A stored form: 'd' stands for a digit, anything else for itself.
struct Form {
    const char* pattern;
    int size;
};
const Form dateForm { "dddd-dd-dd", 10 };
const Form timeForm { "dddd-dd-dd dd:dd:dd", 19 };

struct SideValue {
    SqliteReader::Type type = SqliteReader::Type::Null;
    qint64 integer = 0;
    double real = 0;
    QByteArray bytes;
};

class Keys {
public:
    template <typename Row> Key read(const Row& row, int column, const Form& form)
    {
        using Type = SqliteReader::Type;
        const SqliteReader::Cell cell = row.cell(column);
        if (cell.type == Type::Null)
            return Key(NullRank) << rankShift;
        Key packed = 0;
        if (cell.type == Type::Text && pack(cell.data, cell.size, form, &packed))
            return packed;
        SideValue value;
        value.type = cell.type;
        value.integer = cell.integer;
        value.real = cell.real;
        Key rank = NumberRank;
        if (cell.type == Type::Text || cell.type == Type::Blob) {
            value.bytes = QByteArray(cell.data, cell.size);
            rank = cell.type == Type::Text ? TextRank : BlobRank;
        }
        side.push_back(value);
        return (rank << rankShift) | sideFlag | Key(side.size() - 1);
    }

    // True when key is a value of the stored form or NULL: such keys order as plain integers.
    static bool isPlain(Key key) { return (key & sideFlag) == 0; }

    int compare(Key a, Key b, const Form& form) const
    {
        if (a == b)
            return 0;
        const Key rankA = a >> rankShift;
        const Key rankB = b >> rankShift;
        if (rankA != rankB)
            return rankA < rankB ? -1 : 1;
        if (((a | b) & sideFlag) == 0)
            return a < b ? -1 : 1; // two texts of the stored form
        return compareSlowly(a, b, form, rankA);
    }

    void clear() { side.clear(); }

private:
    static bool pack(const char* data, int size, const Form& form, Key* packed)
    {
        if (size != form.size)
            return false;
        Key digits = 0;
        for (int i = 0; i < size; ++i) {
            const char c = data[i];
            if (form.pattern[i] != 'd') {
                if (c != form.pattern[i])
                    return false;
            } else if (c < '0' || c > '9') {
                return false;
            } else {
                digits = digits * 10 + (c - '0');
            }
        }
        *packed = (Key(TextRank) << rankShift) | digits;
        return true;
    }

    // The text a key stands for: the side store's bytes, or the stored form written out into buffer.
    QByteArray bytesOf(Key key, const Form& form, char* buffer) const
    {
        if (key & sideFlag)
            return side[size_t(key & payloadMask)].bytes;
        Key digits = key & payloadMask;
        for (int i = form.size - 1; i >= 0; --i) {
            if (form.pattern[i] == 'd') {
                buffer[i] = char('0' + digits % 10);
                digits /= 10;
            } else {
                buffer[i] = form.pattern[i];
            }
        }
        return QByteArray::fromRawData(buffer, form.size);
    }

    int compareSlowly(Key a, Key b, const Form& form, Key rank) const
    {
        if (rank == NumberRank) {
            const SideValue& x = side[size_t(a & payloadMask)];
            const SideValue& y = side[size_t(b & payloadMask)];
            if (x.type == SqliteReader::Type::Integer && y.type == SqliteReader::Type::Integer)
                return x.integer < y.integer ? -1 : (x.integer > y.integer ? 1 : 0);
            const long double valueX = x.type == SqliteReader::Type::Integer ? x.integer : x.real;
            const long double valueY = y.type == SqliteReader::Type::Integer ? y.integer : y.real;
            return valueX < valueY ? -1 : (valueX > valueY ? 1 : 0);
        }
        // Texts (binary collation) and blobs alike: byte by byte, then the shorter first.
        char bufferA[32];
        char bufferB[32];
        const QByteArray x = bytesOf(a, form, bufferA);
        const QByteArray y = bytesOf(b, form, bufferB);
        const int common = int(std::min(x.size(), y.size()));
        const int bytes = common > 0 ? std::memcmp(x.constData(), y.constData(), size_t(common)) : 0;
        if (bytes != 0)
            return bytes < 0 ? -1 : 1;
        return x.size() < y.size() ? -1 : (x.size() > y.size() ? 1 : 0);
    }

    std::vector<SideValue> side;
};

// One bill's place in a list.
struct Entry {
    Key date;
    Key created;
    qint64 rowId;
};

// The bill list's order: "order by date desc, created_time desc", and rows equal in both in the
// order SQLite's sort leaves them, which is the order it read them in: by row id.
struct ListOrder {
    const Keys* keys;
    bool operator()(const Entry& a, const Entry& b) const
    {
        if (a.date != b.date) {
            if (const int order = keys->compare(a.date, b.date, dateForm))
                return order > 0;
        }
        if (a.created != b.created) {
            if (const int order = keys->compare(a.created, b.created, timeForm))
                return order > 0;
        }
        return a.rowId < b.rowId;
    }
};

// A sum with the number of amounts in it: a sum whose last amount goes is dropped whole, exactly
// as a group without rows is missing from SQLite's result, rather than left as float noise.
struct Figure {
    qint64 count = 0;
    double sum = 0;
};
using Figures = QHash<QString, Figure>;

void add(Figures* figures, const QString& key, double amount)
{
    Figure& figure = (*figures)[key];
    ++figure.count;
    figure.sum += amount;
}

void subtract(Figures* figures, const QString& key, double amount)
{
    const auto it = figures->find(key);
    if (it == figures->end())
        return;
    if (--it->count <= 0)
        figures->erase(it);
    else
        it->sum -= amount;
}

BillIndex::Totals totalsOf(const Figures& figures)
{
    BillIndex::Totals totals;
    for (auto it = figures.cbegin(); it != figures.cend(); ++it)
        totals.insert(it.key(), it->sum);
    return totals;
}

// The texts of one column met in a pass over the book, each turned into a QString once. Ids stored
// as a number and as text, or as NULL and as '', name the same record and share one entry, as the
// grouped queries these figures replace added them up.
class TextIds {
public:
    template <typename Row> int idOf(const Row& row, int column)
    {
        int size = 0;
        const char* data = row.textBytes(column, &size);
        const QByteArray bytes = QByteArray::fromRawData(data ? data : "", size);
        const quint64 hash = SqliteReader::hashBytes(bytes.constData(), int(bytes.size()));
        if (buckets.empty())
            buckets.resize(64, -1);
        size_t mask = buckets.size() - 1;
        for (size_t i = size_t(hash) & mask;; i = (i + 1) & mask) {
            const int id = buckets[i];
            if (id < 0)
                break;
            if (hashes[size_t(id)] == hash && keys[size_t(id)] == bytes)
                return id;
        }
        const int id = int(texts.size());
        texts.push_back(QString::fromUtf8(bytes));
        keys.push_back(QByteArray(bytes.constData(), bytes.size()));
        hashes.push_back(hash);
        if (texts.size() * 2 > buckets.size()) {
            buckets.assign(buckets.size() * 2, -1);
            mask = buckets.size() - 1;
            for (size_t known = 0; known < texts.size(); ++known)
                place(int(known), mask);
        } else {
            place(id, mask);
        }
        return id;
    }
    const QString& text(int id) const { return texts[size_t(id)]; }
    int size() const { return int(texts.size()); }

private:
    void place(int id, size_t mask)
    {
        size_t i = size_t(hashes[size_t(id)]) & mask;
        while (buckets[i] >= 0)
            i = (i + 1) & mask;
        buckets[i] = id;
    }

    std::vector<int> buckets;
    std::vector<QByteArray> keys;
    std::vector<quint64> hashes;
    std::vector<QString> texts;
};

// The bills of one condition.
struct View {
    QString condition;
    bool everyBill = false;
    bool failed = false;
    std::vector<Entry> entries;
    Figures totals;
    quint64 lastUse = 0;
};

// The whole book's figures.
struct Sums {
    bool valid = false;
    QHash<int, Figures> months;
    Figures byAccount;
    Figures byToAccount;
    Figures byBorrower;
};

// A bill row as the index needs it, read by its id.
struct RowState {
    bool exists = false;
    Entry entry {};
    QString kind;
    double amount = 0;
    int month = 0;
    QString account;
    QString toAccount;
    QString borrower;
    // Per view of the change, whether the row matches its condition.
    std::vector<bool> matches;
};

// The filters a user goes back and forth between stay ready; the every-bill list is never dropped.
const size_t viewsKept = 8;

struct State {
    Keys keys;
    std::vector<std::unique_ptr<View>> views;
    Sums sums;
    quint64 generation = 1;
    // Changes whenever a view is made or dropped: a change that read memberships for other views
    // cannot apply them.
    quint64 layout = 0;
    quint64 uses = 0;
    int announcing = 0;
};

State& state()
{
    static State instance;
    return instance;
}

// The bill list's condition without any filter (the list pads it with spaces).
const QLatin1String everyBillCondition("1=1");

bool isEveryBill(const QString& condition)
{
    return condition.trimmed() == everyBillCondition;
}

// A stable sort of entries by one of their keys, largest first, sixteen bits a pass.
void radixSortDescending(std::vector<Entry>* entries, std::vector<Entry>* buffer, Key Entry::*key)
{
    Key low = std::numeric_limits<Key>::max();
    Key high = std::numeric_limits<Key>::min();
    for (const Entry& entry : *entries) {
        low = std::min(low, entry.*key);
        high = std::max(high, entry.*key);
    }
    const quint64 range = entries->empty() ? 0 : quint64(high) - quint64(low);
    std::vector<quint32> counts;
    for (int shift = 0; shift < 64 && (range >> shift) != 0; shift += 16) {
        counts.assign(65537, 0);
        // The distance from the largest key: the largest comes first.
        const auto digit
            = [&](const Entry& entry) { return ((quint64(high) - quint64(entry.*key)) >> shift) & 0xFFFF; };
        for (const Entry& entry : *entries)
            ++counts[digit(entry) + 1];
        for (size_t i = 1; i < counts.size(); ++i)
            counts[i] += counts[i - 1];
        for (const Entry& entry : *entries)
            (*buffer)[counts[digit(entry)]++] = entry;
        entries->swap(*buffer);
    }
}

// Puts entries read in row id order into list order.
void sortEntries(std::vector<Entry>* entries)
{
    // The common case, every date and time in the stored form (or NULL) and the rows as SQLite read
    // them, by row id: two stable radix sorts, the time first, leave rows equal in both by row id.
    bool plain = true;
    for (size_t i = 0; plain && i < entries->size(); ++i) {
        const Entry& entry = (*entries)[i];
        plain = Keys::isPlain(entry.date) && Keys::isPlain(entry.created)
            && (i == 0 || (*entries)[i - 1].rowId < entry.rowId);
    }
    if (plain) {
        std::vector<Entry> buffer(entries->size());
        radixSortDescending(entries, &buffer, &Entry::created);
        radixSortDescending(entries, &buffer, &Entry::date);
        return;
    }
    std::sort(entries->begin(), entries->end(), ListOrder { &state().keys });
}

// Figures of a pass by the id of their text (TextIds), one more amount in.
void addTo(std::vector<Figure>* figures, int id, double amount)
{
    if (size_t(id) >= figures->size())
        figures->resize(size_t(id) + 1);
    Figure& figure = (*figures)[size_t(id)];
    ++figure.count;
    figure.sum += amount;
}

// The figures of a pass by their texts.
Figures figuresOf(const TextIds& texts, const std::vector<Figure>& figures)
{
    Figures result;
    for (size_t id = 0; id < figures.size(); ++id) {
        if (figures[id].count == 0)
            continue;
        Figure& figure = result[texts.text(int(id))];
        figure.count += figures[id].count;
        figure.sum += figures[id].sum;
    }
    return result;
}

// One pass over the whole book: the sums when sums is given, the every-bill list when view is.
bool readBook(Sums* sums, View* view)
{
    QString columns = QStringLiteral("kind, amount");
    if (view)
        columns += QStringLiteral(", rowid, date, created_time");
    if (sums)
        columns += QStringLiteral(", month, account_id, to_account_id, borrower_id");
    const int first = view ? 5 : 2;
    TextIds kinds;
    TextIds accounts;
    TextIds toAccounts;
    TextIds borrowers;
    std::vector<Figure> kindFigures;
    std::vector<Figure> accountFigures;
    std::vector<Figure> toAccountFigures;
    std::vector<Figure> borrowerFigures;
    // Per month, the figures by kind id; the rows of a book mostly come a month after another.
    std::unordered_map<qint64, std::vector<Figure>> monthFigures;
    qint64 lastMonth = 0;
    std::vector<Figure>* lastMonthFigures = nullptr;
    State& index = state();
    const auto readRow = [&](const SqliteRow& rows) {
        const int kind = kinds.idOf(rows, 0);
        const double amount = rows.real(1);
        if (view) {
            view->entries.push_back(
                { index.keys.read(rows, 3, dateForm), index.keys.read(rows, 4, timeForm), rows.toInt64(2) });
            addTo(&kindFigures, kind, amount);
        }
        if (sums) {
            const qint64 month = rows.toInt64(first);
            if (!lastMonthFigures || month != lastMonth) {
                lastMonth = month;
                lastMonthFigures = &monthFigures[month];
            }
            addTo(lastMonthFigures, kind, amount);
            addTo(&accountFigures, accounts.idOf(rows, first + 1), amount);
            addTo(&toAccountFigures, toAccounts.idOf(rows, first + 2), amount);
            addTo(&borrowerFigures, borrowers.idOf(rows, first + 3), amount);
        }
    };
    SqliteReader reader;
    if (!reader.forEachRow(QStringLiteral("select ") + QLatin1String(SqliteReader::eachRowFunction) + QLatin1Char('(')
                + columns + QStringLiteral(") from tbl_bill"),
            readRow)) {
        qCWarning(lcSql) << "BillIndex: cannot read the bills:" << reader.error();
        return false;
    }
    if (view) {
        view->totals = figuresOf(kinds, kindFigures);
        sortEntries(&view->entries);
    }
    if (sums) {
        for (const auto& [month, figures] : monthFigures)
            sums->months.insert(int(month), figuresOf(kinds, figures));
        sums->byAccount = figuresOf(accounts, accountFigures);
        sums->byToAccount = figuresOf(toAccounts, toAccountFigures);
        sums->byBorrower = figuresOf(borrowers, borrowerFigures);
        sums->valid = true;
    }
    return true;
}

// The bills of a filter: one pass over the rows that match it, then sorted here.
void readView(View* view)
{
    Keys& keys = state().keys;
    TextIds kinds;
    std::vector<Figure> kindFigures;
    SqliteReader reader;
    const bool read = reader.forEachRow(QStringLiteral("select ") + QLatin1String(SqliteReader::eachRowFunction)
            + QStringLiteral("(rowid, date, created_time, kind, amount) from tbl_bill where ") + view->condition,
        [&](const SqliteRow& rows) {
            view->entries.push_back({ keys.read(rows, 1, dateForm), keys.read(rows, 2, timeForm), rows.toInt64(0) });
            addTo(&kindFigures, kinds.idOf(rows, 3), rows.real(4));
        });
    if (!read) {
        // As a list whose query fails: nothing.
        qCWarning(lcSql) << "BillIndex: cannot read the bills of" << view->condition << reader.error();
        view->entries.clear();
        view->failed = true;
        return;
    }
    view->totals = figuresOf(kinds, kindFigures);
    sortEntries(&view->entries);
}

View* findView(const QString& condition)
{
    const bool every = isEveryBill(condition);
    for (const std::unique_ptr<View>& view : state().views) {
        if (every ? view->everyBill : view->condition == condition)
            return view.get();
    }
    return nullptr;
}

void ensureSums()
{
    State& index = state();
    if (index.sums.valid)
        return;
    index.sums = Sums();
    // The pass that reads the sums reads the every-bill list as well when it is missing: both are
    // wanted at start, and one pass costs less than two.
    View* every = findView(everyBillCondition);
    std::unique_ptr<View> view;
    if (!every) {
        view = std::make_unique<View>();
        view->everyBill = true;
        view->condition = everyBillCondition;
    }
    if (!readBook(&index.sums, view.get())) {
        // A book that cannot be read has no figures; they are read again after the next forget().
        index.sums = Sums();
        index.sums.valid = true;
        return;
    }
    if (view) {
        view->lastUse = ++index.uses;
        index.views.push_back(std::move(view));
    }
    ++index.layout;
}

View* viewOf(const QString& condition)
{
    State& index = state();
    View* view = findView(condition);
    if (!view) {
        if (isEveryBill(condition)) {
            auto every = std::make_unique<View>();
            every->everyBill = true;
            every->condition = everyBillCondition;
            const bool withSums = !index.sums.valid;
            if (withSums)
                index.sums = Sums();
            if (!readBook(withSums ? &index.sums : nullptr, every.get())) {
                every->entries.clear();
                every->totals.clear();
                every->failed = true;
            }
            view = every.get();
            index.views.push_back(std::move(every));
        } else {
            auto filtered = std::make_unique<View>();
            filtered->condition = condition;
            readView(filtered.get());
            view = filtered.get();
            index.views.push_back(std::move(filtered));
        }
        ++index.layout;
        if (index.views.size() > viewsKept) {
            // The least used filter goes; the every-bill list and the one just made stay.
            auto oldest = index.views.end();
            for (auto it = index.views.begin(); it != index.views.end(); ++it) {
                if ((*it)->everyBill || it->get() == view)
                    continue;
                if (oldest == index.views.end() || (*it)->lastUse < (*oldest)->lastUse)
                    oldest = it;
            }
            if (oldest != index.views.end())
                index.views.erase(oldest);
        }
    }
    view->lastUse = ++index.uses;
    return view;
}

// Reads the row with id, and whether it matches the condition of each view; false when the
// statement fails (then nothing can be trusted).
bool readRow(const QString& id, const std::vector<View*>& views, RowState* row)
{
    QString sql = QStringLiteral("select rowid, date, created_time, kind, amount, month, account_id, to_account_id, "
                                 "borrower_id");
    // The line break ends a comment a condition might close with.
    for (const View* view : views)
        sql += QStringLiteral(", (") + view->condition + QStringLiteral("\n)");
    sql += QStringLiteral(" from tbl_bill where id=?");
    SqliteReader rows;
    if (!rows.prepare(sql) || !rows.bindText(1, id)) {
        qCWarning(lcSql) << "BillIndex: cannot read bill" << id << rows.error();
        return false;
    }
    *row = RowState();
    if (!rows.next())
        return rows.error().isEmpty();
    Keys& keys = state().keys;
    row->exists = true;
    row->entry = { keys.read(rows, 1, dateForm), keys.read(rows, 2, timeForm), rows.toInt64(0) };
    // Read as the pass over the book reads them, so that a figure loses exactly what it gained.
    const auto text = [&rows](int column) {
        int size = 0;
        const char* data = rows.textBytes(column, &size);
        return QString::fromUtf8(data, size);
    };
    row->kind = text(3);
    row->amount = rows.real(4);
    row->month = int(rows.toInt64(5));
    row->account = text(6);
    row->toAccount = text(7);
    row->borrower = text(8);
    for (size_t i = 0; i < views.size(); ++i)
        row->matches.push_back(rows.toInt64(9 + int(i)) != 0);
    return true;
}

bool removeEntry(View* view, const RowState& row)
{
    const ListOrder order { &state().keys };
    const auto it = std::lower_bound(view->entries.begin(), view->entries.end(), row.entry, order);
    if (it == view->entries.end() || it->rowId != row.entry.rowId)
        return false;
    view->entries.erase(it);
    subtract(&view->totals, row.kind, row.amount);
    return true;
}

bool insertEntry(View* view, const RowState& row)
{
    const ListOrder order { &state().keys };
    const auto it = std::lower_bound(view->entries.begin(), view->entries.end(), row.entry, order);
    if (it != view->entries.end() && it->rowId == row.entry.rowId)
        return false;
    view->entries.insert(it, row.entry);
    add(&view->totals, row.kind, row.amount);
    return true;
}

void moveSums(Sums* sums, const RowState& row, bool adding)
{
    const auto move = adding ? add : subtract;
    Figures& month = sums->months[row.month];
    move(&month, row.kind, row.amount);
    if (month.isEmpty())
        sums->months.remove(row.month);
    move(&sums->byAccount, row.account, row.amount);
    move(&sums->byToAccount, row.toAccount, row.amount);
    move(&sums->byBorrower, row.borrower, row.amount);
}

} // namespace

int BillIndex::count(const QString& condition)
{
    return int(viewOf(condition)->entries.size());
}

std::vector<qint64> BillIndex::rowIds(const QString& condition, int from, int count)
{
    const View* view = viewOf(condition);
    std::vector<qint64> ids;
    const int size = int(view->entries.size());
    for (int i = std::max(0, from); i < size && i < from + count; ++i)
        ids.push_back(view->entries[size_t(i)].rowId);
    return ids;
}

BillIndex::Totals BillIndex::totals(const QString& condition)
{
    return totalsOf(viewOf(condition)->totals);
}

BillIndex::Totals BillIndex::monthTotals(int month)
{
    ensureSums();
    return totalsOf(state().sums.months.value(month));
}

QList<int> BillIndex::months()
{
    ensureSums();
    QList<int> months = state().sums.months.keys();
    std::sort(months.begin(), months.end(), std::greater<int>());
    return months;
}

BillIndex::Totals BillIndex::sums(SumColumn column)
{
    ensureSums();
    const Sums& sums = state().sums;
    switch (column) {
    case SumColumn::Account:
        return totalsOf(sums.byAccount);
    case SumColumn::ToAccount:
        return totalsOf(sums.byToAccount);
    case SumColumn::Borrower:
        return totalsOf(sums.byBorrower);
    }
    return Totals();
}

struct BillIndex::Change::Data {
    QString id;
    quint64 generation = 0;
    quint64 layout = 0;
    // Nothing is built that could follow the write.
    bool idle = true;
    std::vector<View*> views;
    RowState before;
    RowState after;
};

BillIndex::Change::Change(const QString& id)
    : data(std::make_unique<Data>())
{
    State& index = state();
    data->id = id;
    data->generation = index.generation;
    data->layout = index.layout;
    data->idle = !index.sums.valid && index.views.empty();
    if (data->idle)
        return;
    for (const std::unique_ptr<View>& view : index.views) {
        if (!view->everyBill && !view->failed)
            data->views.push_back(view.get());
    }
    if (!readRow(id, data->views, &data->before))
        forget();
}

// Out of line, where Data is complete.
BillIndex::Change::~Change() = default;

void BillIndex::Change::finish()
{
    State& index = state();
    // A rollback or another forget() came in between, or the views changed: what was read before
    // cannot be matched with now; everything is read again anyway.
    if (data->idle || data->generation != index.generation || data->layout != index.layout)
        return;
    if (!readRow(data->id, data->views, &data->after)) {
        forget();
        return;
    }
    const RowState& before = data->before;
    const RowState& after = data->after;
    if (index.sums.valid) {
        if (before.exists)
            moveSums(&index.sums, before, false);
        if (after.exists)
            moveSums(&index.sums, after, true);
    }
    bool consistent = true;
    for (const std::unique_ptr<View>& view : index.views) {
        if (view->failed)
            continue;
        const auto position = std::find(data->views.begin(), data->views.end(), view.get()) - data->views.begin();
        const auto matches
            = [&](const RowState& row) { return row.exists && (view->everyBill || row.matches[size_t(position)]); };
        if (matches(before))
            consistent = removeEntry(view.get(), before) && consistent;
        if (matches(after))
            consistent = insertEntry(view.get(), after) && consistent;
    }
    if (!consistent) {
        qCWarning(lcSql) << "BillIndex: the lists no longer matched the book; reading them again";
        forget();
    }
}

qint64 BillIndex::Change::rowIdBefore() const
{
    return data->before.exists ? data->before.entry.rowId : 0;
}

qint64 BillIndex::Change::rowIdAfter() const
{
    return data->after.exists ? data->after.entry.rowId : 0;
}

void BillIndex::forget()
{
    State& index = state();
    index.views.clear();
    index.sums = Sums();
    index.keys.clear();
    ++index.generation;
    ++index.layout;
}

void BillIndex::forgetSums()
{
    state().sums = Sums();
}

quint64 BillIndex::generation()
{
    return state().generation;
}

BillIndex::Announcement::Announcement()
{
    ++state().announcing;
}

BillIndex::Announcement::~Announcement()
{
    --state().announcing;
}

bool BillIndex::isAnnouncing()
{
    return state().announcing > 0;
}
