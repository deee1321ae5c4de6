#include "bills/mbillmodel.h"

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QLocale>
#include <QPixmap>

#include "data/constants.h"
#include "data/filesetting.h"
#include "data/maccount.h"
#include "data/mbill.h"
#include "data/mborrower.h"
#include "data/mcategory.h"
#include "data/metadata.h"
#include "data/mmember.h"
#include "data/money.h"
#include "data/notifier.h"
#include "data/settingkeys.h"

namespace {

const QString& missingName()
{
    static const QString text = QStringLiteral("出错啦~~~");
    return text;
}

// "2013-07-05 星期五": the day name is Chinese whatever the system's locale.
QString dateWithDayName(const QDate& date)
{
    static const QLocale chinese(QLocale::Chinese, QLocale::China);
    return date.toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char(' ')
        + chinese.dayName(date.dayOfWeek(), QLocale::LongFormat);
}

// Cents with two decimals and a "+" for a gain; zero and losses carry no "+".
QString signedCents(qint64 cents)
{
    const QString text = formatMoney(double(cents) / 100.0);
    return cents > 0 ? QLatin1Char('+') + text : text;
}

qint64 toCents(double amount)
{
    return qRound64(amount * 100.0);
}

QColor kindColor(const QString& kind)
{
    static const QHash<QString, QString> keys = {
        { MBill::Expense, SettingKeys::ExpenseColor },
        { MBill::Income, SettingKeys::IncomeColor },
        { MBill::Transfer, SettingKeys::TransferColor },
        { MBill::Lend, SettingKeys::LendColor },
        { MBill::Borrow, SettingKeys::BorrowColor },
        { MBill::Refund, SettingKeys::RefundColor },
        { MBill::Repay, SettingKeys::RepayColor },
    };
    const auto it = keys.constFind(kind);
    if (it == keys.constEnd())
        return QColor(Qt::white);
    // Read at every request: the settings page may have changed the colour meanwhile.
    return FileSetting::getInstance()->value(*it).value<QColor>();
}

const QString* findName(const QHash<QString, QString>& names, const QString& id)
{
    const auto it = names.constFind(id);
    return it == names.constEnd() ? nullptr : &*it;
}

QString nameOrMissing(const QHash<QString, QString>& names, const QString& id)
{
    const QString* name = findName(names, id);
    return name ? *name : missingName();
}

template <typename T> void collectNames(QHash<QString, QString>* names, const QList<T*>& records)
{
    for (const T* record : records)
        names->insert(record->getId(), record->getName());
}

} // namespace

MBillModel::MBillModel(QObject* parent)
    : QAbstractItemModel(parent)
    , root(std::make_unique<MBill>())
    , condition(QStringLiteral(" 1=1 "))
{
    // Renamed or removed records must show at once on the page in view.
    Notifier* notifier = Notifier::getInstance();
    connect(notifier, &Notifier::accountDataChanged, this, [this] { referencesChanged(); });
    connect(notifier, &Notifier::categoryDataChanged, this, [this] { referencesChanged(); });
    connect(notifier, &Notifier::borrowerDataChanged, this, [this] { referencesChanged(); });
    connect(notifier, &Notifier::memberDataChanged, this, [this] { referencesChanged(); });
}

MBillModel::~MBillModel() = default;

void MBillModel::setCondition(const QString& newCondition)
{
    condition = newCondition;
    refresh();
}

void MBillModel::setPage(int index)
{
    pageIndex = index;
    refresh();
}

void MBillModel::setPageSize(int size)
{
    pageSize = qMax(1, size);
    refresh();
}

int MBillModel::gotoPage(const QString& which)
{
    if (which == QLatin1String("first"))
        pageIndex = 0;
    else if (which == QLatin1String("prev"))
        pageIndex = pageIndex - 1;
    else if (which == QLatin1String("next"))
        pageIndex = pageIndex + 1;
    else if (which == QLatin1String("last"))
        pageIndex = pageCount - 1;
    refresh();
    return pageIndex;
}

QList<MBill*>* MBillModel::getBillList() const
{
    static QList<MBill*> noBills;
    return populated ? MBill::get(condition) : &noBills;
}

MBill* MBillModel::getDayRow(int i) const
{
    const QList<MBill*>* days = root->getChildren();
    return i >= 0 && i < days->size() ? days->at(i) : nullptr;
}

int MBillModel::getDayRowCount() const
{
    return int(root->getChildren()->size());
}

void MBillModel::refresh()
{
    beginResetModel();
    populateModel();
    endResetModel();
}

void MBillModel::populateModel()
{
    headerList = QStringList { tr("分类/借款人/转入账户"), tr("金额"), tr("账户"), tr("成员"), tr("标题/描述") };
    populated = true;
    billCount = MBill::count(condition);
    namesStale = true;

    const int n = billCount;
    pageCount = n > 0 ? (n - 1) / pageSize + 1 : 1;
    root->getChildren()->clear();
    std::vector<std::unique_ptr<MBill>> previousDays;
    previousDays.swap(dayRows);
    if (pageIndex >= pageCount)
        pageIndex = pageCount - 1;
    if (pageIndex < 0)
        pageIndex = 0;

    // The list is ordered by date, so every date of the page is one run under one day row.
    MBill* day = nullptr;
    const QList<MBill*> page = MBill::getRange(condition, pageIndex * pageSize, pageSize);
    for (MBill* bill : page) {
        if (!day || bill->getDate() != day->getDate()) {
            dayRows.push_back(std::make_unique<MBill>());
            day = dayRows.back().get();
            day->setDate(bill->getDate());
            day->setDayRow(true);
            day->setExpanded(true);
            day->setParent(root.get());
            root->getChildren()->append(day);
        }
        bill->setDayRow(false);
        bill->setParent(day);
        day->getChildren()->append(bill);
    }
}

void MBillModel::referencesChanged()
{
    namesStale = true;
    const int days = getDayRowCount();
    if (days == 0)
        return;
    emit dataChanged(index(0, 0), index(days - 1, ColumnCount - 1));
    for (int row = 0; row < days; ++row) {
        const QModelIndex day = index(row, 0);
        const int bills = rowCount(day);
        if (bills > 0)
            emit dataChanged(index(0, 0, day), index(bills - 1, ColumnCount - 1, day));
    }
}

const MBillModel::Names& MBillModel::names() const
{
    if (namesStale) {
        nameCache = Names();
        collectNames(&nameCache.accounts, *MAccount::get());
        collectNames(&nameCache.categories, *MCategory::get(QString()));
        collectNames(&nameCache.subCategories, *MCategory::getSubCategories(QString()));
        collectNames(&nameCache.borrowers, *MBorrower::get());
        collectNames(&nameCache.members, *MMember::get());
        namesStale = false;
    }
    return nameCache;
}

QModelIndex MBillModel::index(int row, int column, const QModelIndex& parent) const
{
    if (!hasIndex(row, column, parent))
        return QModelIndex();
    MBill* item = parent.isValid() ? static_cast<MBill*>(parent.internalPointer()) : root.get();
    MBill* child = item->getChildren()->value(row, nullptr);
    return child ? createIndex(row, column, child) : QModelIndex();
}

QModelIndex MBillModel::parent(const QModelIndex& index) const
{
    if (!index.isValid())
        return QModelIndex();
    const auto* item = static_cast<MBill*>(index.internalPointer());
    MBill* day = item->getParent();
    if (!day || day == root.get())
        return QModelIndex();
    return createIndex(int(root->getChildren()->indexOf(day)), 0, day);
}

int MBillModel::rowCount(const QModelIndex& parent) const
{
    if (parent.column() > 0)
        return 0;
    MBill* item = parent.isValid() ? static_cast<MBill*>(parent.internalPointer()) : root.get();
    return int(item->getChildren()->size());
}

int MBillModel::columnCount(const QModelIndex&) const
{
    return ColumnCount;
}

QVariant MBillModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return QVariant();
    auto* item = static_cast<MBill*>(index.internalPointer());
    return item->isDayRow() ? dayData(item, index.column(), role) : billData(item, index.column(), role);
}

QVariant MBillModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < headerList.size())
        return headerList.at(section);
    return QAbstractItemModel::headerData(section, orientation, role);
}

Qt::ItemFlags MBillModel::flags(const QModelIndex& index) const
{
    const Qt::ItemFlags base = QAbstractItemModel::flags(index);
    if (index.isValid() && static_cast<const MBill*>(index.internalPointer())->isDayRow())
        return base & ~Qt::ItemIsSelectable;
    return base;
}

QVariant MBillModel::dayData(MBill* day, int column, int role) const
{
    switch (role) {
    case Qt::DisplayRole:
        if (column == ReferenceColumn)
            return dateWithDayName(day->getDate());
        if (column == TextColumn)
            return subtotalLine(day);
        return QVariant();
    case Qt::DecorationRole:
        if (column != ReferenceColumn)
            return QVariant();
        return QIcon(day->isExpanded() ? QStringLiteral(":/rc/images/BtnTreeOpen.png")
                                       : QStringLiteral(":/rc/images/BtnTreeClosed.png"));
    case Qt::FontRole: {
        QFont font;
        font.setBold(true);
        return font;
    }
    case Qt::TextAlignmentRole:
        if (column == TextColumn)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return QVariant();
    case Qt::ToolTipRole:
        // The whole line, for a row too narrow to show it.
        return dateWithDayName(day->getDate()) + QStringLiteral("  ") + subtotalLine(day).trimmed();
    default:
        return QVariant();
    }
}

QVariant MBillModel::billData(const MBill* bill, int column, int role) const
{
    switch (role) {
    case Qt::DisplayRole:
        return billText(bill, column);
    case Qt::DecorationRole: {
        if (column != 0)
            return QVariant();
        QPixmap square(10, 10);
        square.fill(kindColor(bill->getKind()));
        return QIcon(square);
    }
    case Qt::ToolTipRole:
        return toolTip(bill);
    default:
        return QVariant();
    }
}

QString MBillModel::billText(const MBill* bill, int column) const
{
    const Names& known = names();
    const QString kind = bill->getKind();
    switch (column) {
    case ReferenceColumn:
        if (MBill::isCategoryKind(kind))
            return nameOrMissing(known.categories, bill->getCategoryId()) + QLatin1Char(' ')
                + nameOrMissing(known.subCategories, bill->getSubCategoryId());
        if (kind == MBill::Transfer)
            return nameOrMissing(known.accounts, bill->getToAccountId());
        return nameOrMissing(known.borrowers, bill->getBorrowerId());
    case AmountColumn:
        return Constants::getInstance()->getBillKinds()->getLabel(kind) + QLatin1Char(' ')
            + formatMoney(bill->getAmount());
    case AccountColumn:
        return nameOrMissing(known.accounts, bill->getAccountId());
    case MemberColumn:
        if (!MBill::isCategoryKind(kind))
            return QString();
        return known.members.value(bill->getMemberId());
    case TextColumn: {
        const QString title = bill->getTitle();
        return title.isEmpty() ? bill->getDescription() : title + QLatin1Char(' ') + bill->getDescription();
    }
    default:
        return QString();
    }
}

QString MBillModel::toolTip(const MBill* bill) const
{
    const Names& known = names();
    const QString kind = bill->getKind();
    QStringList lines;
    lines << tr("日期：") + dateWithDayName(bill->getDate());
    lines << Constants::getInstance()->getBillKinds()->getLabel(kind) + tr("：") + formatMoney(bill->getAmount())
            + tr("元");

    // A record that is gone only leaves its name out here.
    QString third;
    if (MBill::isCategoryKind(kind)) {
        third = tr("分类：");
        if (const QString* category = findName(known.categories, bill->getCategoryId()))
            third += *category;
        if (const QString* sub = findName(known.subCategories, bill->getSubCategoryId()))
            third += QStringLiteral(" - ") + *sub;
    } else if (kind == MBill::Transfer) {
        if (const QString* target = findName(known.accounts, bill->getToAccountId()))
            third = tr("转入账户：") + *target;
    } else if (const QString* borrower = findName(known.borrowers, bill->getBorrowerId())) {
        third = tr("借款人：") + *borrower;
    }
    lines << third;

    if (const QString* account = findName(known.accounts, bill->getAccountId()))
        lines << tr("账户：") + *account;
    if (MBill::isCategoryKind(kind))
        lines << tr("成员：") + known.members.value(bill->getMemberId());
    if (!bill->getTitle().isEmpty())
        lines << bill->getTitle();
    if (!bill->getDescription().isEmpty())
        lines << bill->getDescription();
    return lines.join(QStringLiteral("\r\n"));
}

QString MBillModel::subtotalLine(MBill* day) const
{
    // Summed in cents: float noise must not show a kind, nor a "+0.00" total.
    QHash<QString, qint64> sums;
    for (const MBill* bill : *day->getChildren())
        sums[bill->getKind()] += toCents(bill->getAmount());

    QString line;
    qint64 total = 0;
    const QList<QPair<QString, QString>> kinds = Constants::getInstance()->getBillKinds()->getPairs();
    for (const auto& [label, key] : kinds) {
        qint64 value = sums.value(key);
        // Money moved between one's own accounts is shown by its size and changes nothing.
        if (key == MBill::Transfer)
            value = qAbs(value);
        else
            total += value;
        if (value != 0)
            line += QStringLiteral("%1 %2 ").arg(label, signedCents(value));
    }
    return line + tr(" 小计 %1  ").arg(signedCents(total));
}
