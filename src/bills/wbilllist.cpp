#include "bills/wbilllist.h"

#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QListView>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QResizeEvent>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSqlDatabase>
#include <QStandardItemModel>
#include <QStyleOptionComboBox>
#include <QTreeView>
#include <algorithm>
#include <iterator>
#include <memory>

#include "bills/dbill.h"
#include "bills/dquickchange.h"
#include "bills/exporthelper.h"
#include "bills/mbillmodel.h"
#include "bills/printhelper.h"
#include "data/constants.h"
#include "data/enteredtext.h"
#include "data/filesetting.h"
#include "data/maccount.h"
#include "data/mbill.h"
#include "data/mborrower.h"
#include "data/mcategory.h"
#include "data/metadata.h"
#include "data/mmember.h"
#include "data/notifier.h"
#include "data/settingkeys.h"
#include "data/sqlhelper.h"
#include "data/sqltransaction.h"
#include "widgets/dmessagebox.h"
#include "widgets/witemdelegate.h"
#include "ui_wbilllist.h"

namespace {

using ComboItems = QList<QPair<QString, QVariant>>;

template <typename T> ComboItems namedItems(const QString& firstText, const QList<T*>& records)
{
    ComboItems items { { firstText, QStringLiteral("") } };
    for (const T* record : records)
        items.append({ record->getName(), record->getId() });
    return items;
}

// A filter combo as wide as the choice it shows rather than as its longest item, which left a wide
// gap before the arrow (a long account name); its list still opens as wide as its items.
void fitToChoice(QComboBox* box)
{
    QStyleOptionComboBox option;
    option.initFrom(box);
    option.currentText = box->currentText();
    const QSize text = box->fontMetrics().size(Qt::TextSingleLine, option.currentText);
    box->setFixedWidth(box->style()->sizeFromContents(QStyle::CT_ComboBox, &option, text, box).width());
    box->view()->setMinimumWidth(box->view()->sizeHintForColumn(0) + box->view()->frameWidth() * 2);
}

// Makes item, at any level of the combo's model, the combo's current item.
void showItem(QComboBox* box, const QModelIndex& item)
{
    box->setRootModelIndex(item.parent());
    box->setCurrentIndex(item.row());
    box->setRootModelIndex(QModelIndex());
}

// The tree's selection: day rows cannot be selected, and a press on one (to fold it, or the
// double click that edits the selected bill) leaves the bills selected as they are rather than
// clearing them for a row that cannot take the selection.
class BillSelectionModel : public QItemSelectionModel {
public:
    using QItemSelectionModel::QItemSelectionModel;
    using QItemSelectionModel::select;

    void select(const QItemSelection& selection, QItemSelectionModel::SelectionFlags command) override
    {
        if (!selection.isEmpty() && !hasSelectableRow(selection))
            return;
        QItemSelectionModel::select(selection, command);
    }

private:
    static bool hasSelectableRow(const QItemSelection& selection)
    {
        // indexes() leaves out what cannot be selected.
        for (const QItemSelectionRange& range : selection) {
            if (!range.indexes().isEmpty())
                return true;
        }
        return false;
    }
};

// The room a day row keeps free at its right end, after its subtotals.
const int SubtotalMargin = 8;
// The bill list's columns: no narrower than the least, no wider than the most when their stored
// widths are applied; the first three columns' widths when none are stored.
const int MinColumnWidth = 50;
const int MaxColumnWidth = 500;
const int DefaultColumnWidth = 100;
const int FirstColumnWidths[] = { 200, 130, 100 };
// A page of the list holds a row for each this many pixels of its height, and never fewer rows than
// the least.
const int PageRowPitch = 30;
const int MinPageRows = 10;
// The indentation of the sub-categories in the category filter's popup.
const int CategoryIndent = 10;
// The spaces after a kind's label in the category filter, which set it apart from its categories.
const int KindLabelPadding = 8;

// The rows of the tree, 25 pixels high. A day row spans the row's columns (the tree draws its first
// column across them): its date on the left, its subtotals on the right where the date leaves
// room, shortened at their start when the row is too narrow, so that the day's total stays.
class BillRowDelegate : public WItemDelegate {
public:
    using WItemDelegate::WItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        WItemDelegate::paint(painter, option, index);
        if (index.column() != 0 || !static_cast<const MBill*>(index.internalPointer())->isDayRow())
            return;
        QStyleOptionViewItem item = option;
        initStyleOption(&item, index);
        const QWidget* view = item.widget;
        QStyle* style = view ? view->style() : QApplication::style();
        const QRect date = style->subElementRect(QStyle::SE_ItemViewItemText, &item, view);
        const QFontMetrics metrics(item.font);
        const int gap = metrics.horizontalAdvance(QStringLiteral("    "));
        const int left = date.left() + metrics.horizontalAdvance(item.text) + gap;
        const QRect room(left, date.top(), item.rect.right() - SubtotalMargin - left, date.height());
        if (room.width() <= 0)
            return;
        const QString subtotals = index.siblingAtColumn(MBillModel::TextColumn).data().toString().trimmed();
        painter->save();
        painter->setFont(item.font);
        painter->setPen(item.palette.color(QPalette::Text));
        painter->drawText(
            room, int(Qt::AlignRight | Qt::AlignVCenter), metrics.elidedText(subtotals, Qt::ElideLeft, room.width()));
        painter->restore();
    }
};

QStandardItem* categoryItem(const QString& name, const QString& data)
{
    auto* item = new QStandardItem(name);
    item->setData(data, Qt::UserRole);
    return item;
}

} // namespace

WBillList::WBillList(QWidget* parent)
    : WBaseWidget(parent)
    , ui(new Ui::WBillList)
{
    ui->setupUi(this);

    const bool members = FileSetting::getInstance()->value(SettingKeys::EnableBillMember).toBool();
    ui->cbMemberList->setVisible(members);
    ui->lblMemberList->setVisible(members);

    QTreeView* tree = ui->tvBillList;
    model = new MBillModel(this);
    tree->setModel(model);
    QItemSelectionModel* defaultSelection = tree->selectionModel();
    tree->setSelectionModel(new BillSelectionModel(model, tree));
    delete defaultSelection;
    tree->setItemDelegate(new BillRowDelegate(tree));
    tree->header()->setStretchLastSection(false);
    tree->header()->setSectionResizeMode(MBillModel::TextColumn, QHeaderView::Stretch);
    tree->setAllColumnsShowFocus(true);
    tree->setAnimated(true);
    // A double click is for the bill, not for folding the day; the day row's icon follows its
    // folding however it comes about.
    tree->setExpandsOnDoubleClick(false);
    connect(tree, &QTreeView::expanded, this,
        [](const QModelIndex& index) { static_cast<MBill*>(index.internalPointer())->setExpanded(true); });
    connect(tree, &QTreeView::collapsed, this,
        [](const QModelIndex& index) { static_cast<MBill*>(index.internalPointer())->setExpanded(false); });

    for (QPushButton* button : { ui->pbFirst, ui->pbPrev, ui->pbNext, ui->pbLast })
        connect(button, &QPushButton::clicked, this, &WBillList::changePageIndex);

    for (QComboBox* box : { ui->cbMonthList, ui->cbAccountList, ui->cbBorrowerList, ui->cbMemberList })
        box->setView(new QListView(this));

    categoryPopup = new QTreeView;
    categoryPopup->setItemsExpandable(false);
    categoryPopup->setRootIsDecorated(false);
    categoryPopup->setIndentation(CategoryIndent);
    categoryPopup->setHeaderHidden(true);
    categoryPopup->setItemDelegate(new WItemDelegate(categoryPopup));
    ui->cbCategoryList->setView(categoryPopup);

    accountDataChanged();
    monthListChanged();
    borrowerDataChanged();
    categoryDataChanged();
    memberDataChanged();

    // The fillings above fitted each combo already.
    for (QComboBox* box : filterCombos())
        connect(box, &QComboBox::currentIndexChanged, this, [box] { fitToChoice(box); });

    new QShortcut(QKeySequence::Delete, tree, this, &WBillList::deleteBills, Qt::WindowShortcut);
    new QShortcut(QKeySequence(Qt::Key_Space), tree, this, &WBillList::modifyBill, Qt::WindowShortcut);

    Notifier* notifier = Notifier::getInstance();
    connect(notifier, &Notifier::accountDataChanged, this, &WBillList::accountDataChanged);
    connect(notifier, &Notifier::monthListChanged, this, &WBillList::monthListChanged);
    connect(notifier, &Notifier::borrowerDataChanged, this, &WBillList::borrowerDataChanged);
    connect(notifier, &Notifier::categoryDataChanged, this, &WBillList::categoryDataChanged);
    connect(notifier, &Notifier::memberDataChanged, this, &WBillList::memberDataChanged);
    connect(notifier, &Notifier::billDataChanged, this, &WBillList::bind);

    // Connected only now, so that applying the stored widths does not store them again.
    applyColumnWidths();
    tree->header()->setMinimumSectionSize(MinColumnWidth);
    connect(tree->header(), &QHeaderView::sectionResized, this, &WBillList::on_sectionResized);
}

WBillList::~WBillList()
{
    // The tree outlives the form object by a little: closing a page that is a window of its own
    // lays the header out once more, and that resize is nobody's to store.
    disconnect(ui->tvBillList->header(), nullptr, this, nullptr);
    delete ui;
}

QString WBillList::buildCondition() const
{
    QString condition = QStringLiteral(" 1=1 ");
    for (const QString* part : { &monthPart, &accountPart, &categoryPart, &borrowerPart, &memberPart, &searchPart }) {
        if (!part->isEmpty())
            condition += QStringLiteral(" and ") + *part;
    }
    return condition;
}

void WBillList::addKindToCategoryModel(QStandardItemModel* target, const QString& kind)
{
    QStandardItem* kindItem = categoryItem(
        Constants::getInstance()->getCategoryKinds()->getLabel(kind) + QString(KindLabelPadding, QLatin1Char(' ')),
        kind);
    target->appendRow(kindItem);
    for (const MCategory* category : *MCategory::get(kind)) {
        QStandardItem* item = categoryItem(category->getName(), QLatin1Char('c') + category->getId());
        for (const MCategory* sub : category->getChildren())
            item->appendRow(categoryItem(sub->getName(), QLatin1Char('s') + sub->getId()));
        kindItem->appendRow(item);
    }
}

void WBillList::bind()
{
    // The search box is left as it is: it shows the search in force.
    model->setCondition(buildCondition());
    changePageButtons();
    expandDays();
}

QList<QComboBox*> WBillList::filterCombos() const
{
    return { ui->cbMonthList, ui->cbAccountList, ui->cbCategoryList, ui->cbMemberList, ui->cbBorrowerList };
}

void WBillList::changeEvent(QEvent* event)
{
    WBaseWidget::changeEvent(event);
    // A new style sheet (a skin chosen) may change the combos' fonts and paddings.
    if (event->type() == QEvent::StyleChange) {
        for (QComboBox* box : filterCombos())
            fitToChoice(box);
    }
}

void WBillList::resizeEvent(QResizeEvent* event)
{
    // Qt sends a resize with no previous size when a page is shown after it was resized while
    // hidden (its first showing too): the page size then stays as it is.
    if (event->oldSize().width() != -1) {
        const int height = ui->tvBillList->height();
        const int rows = height >= MinPageRows * PageRowPitch ? height / PageRowPitch : MinPageRows;
        // Most resizes keep the number of rows; reloading for them would only drop the selection.
        if (rows != model->getPageSize())
            model->setPageSize(rows);
        changePageButtons();
    }
    expandDays();
}

void WBillList::on_tvBillList_clicked(const QModelIndex& index)
{
    if (!index.isValid())
        return;
    auto* bill = static_cast<MBill*>(index.internalPointer());
    if (!bill->isDayRow())
        return;
    // The tree keeps the folding of a row on its first column only.
    const QModelIndex day = index.siblingAtColumn(0);
    const bool expand = !ui->tvBillList->isExpanded(day);
    // The tree takes no double click while it animates, so a day row folds at once: the second
    // click of a double click on it still reaches the bill commands.
    const bool animated = ui->tvBillList->isAnimated();
    ui->tvBillList->setAnimated(false);
    ui->tvBillList->setExpanded(day, expand);
    ui->tvBillList->setAnimated(animated);
    bill->setExpanded(expand);
}

void WBillList::on_tvBillList_doubleClicked(const QModelIndex&)
{
    modifyBill();
}

void WBillList::changePageIndex()
{
    const QObject* button = sender();
    if (!button)
        return;
    model->gotoPage(button->objectName().mid(2).toLower());
    expandDays();
    changePageButtons();
}

void WBillList::changePageButtons()
{
    const int index = model->getPageIndex();
    const int count = model->getPageCount();
    ui->lblPagePosition->setText(QStringLiteral("%1/%2 ").arg(index + 1).arg(count));
    // The jump box shows the page shown, however it was reached (a number beyond the last page
    // included), so that the next jump starts from there.
    ui->sbPageNo->setValue(index + 1);
    ui->pbFirst->setEnabled(index != 0);
    ui->pbPrev->setEnabled(index != 0);
    ui->pbNext->setEnabled(count != index + 1);
    ui->pbLast->setEnabled(count != index + 1);
}

void WBillList::on_cbCategoryList_currentIndexChanged(int)
{
    resetFilter(ui->cbBorrowerList, &borrowerPart);
    categoryPart.clear();
    // The item the combo shows, at whatever level of the tree the user picked it.
    const QString data = ui->cbCategoryList->currentData().toString();
    if (MBill::isCategoryKind(data))
        categoryPart = QStringLiteral(" kind=") + sqlText(data) + QLatin1Char(' ');
    else if (data.startsWith(QLatin1Char('c')))
        categoryPart = QStringLiteral(" (category_id=") + sqlText(data.mid(1)) + QStringLiteral(") ");
    else if (!data.isEmpty())
        categoryPart = QStringLiteral(" ( sub_category_id=") + sqlText(data.mid(1)) + QStringLiteral(") ");
    bind();
}

void WBillList::on_cbAccountList_currentIndexChanged(int index)
{
    const QString id = ui->cbAccountList->itemData(index).toString();
    accountPart = id.isEmpty() ? QString()
                               : QStringLiteral(" ( account_id=") + sqlText(id) + QStringLiteral(" or to_account_id=")
            + sqlText(id) + QStringLiteral(") ");
    bind();
}

void WBillList::on_cbMemberList_currentIndexChanged(int index)
{
    resetFilter(ui->cbBorrowerList, &borrowerPart);
    const QString id = ui->cbMemberList->itemData(index).toString();
    memberPart = id.isEmpty() ? QString() : QStringLiteral("  member_id=") + sqlText(id) + QLatin1Char(' ');
    bind();
}

void WBillList::on_cbBorrowerList_currentIndexChanged(int index)
{
    resetFilter(ui->cbCategoryList, &categoryPart);
    resetFilter(ui->cbMemberList, &memberPart);
    const QString id = ui->cbBorrowerList->itemData(index).toString();
    borrowerPart = id.isEmpty() ? QString() : QStringLiteral(" borrower_id=") + sqlText(id) + QLatin1Char(' ');
    bind();
}

void WBillList::on_pbChangePageIndex_clicked()
{
    model->setPage(ui->sbPageNo->value() - 1);
    expandDays();
    changePageButtons();
}

void WBillList::on_cbMonthList_currentIndexChanged(int index)
{
    const int month = ui->cbMonthList->itemData(index).toInt();
    monthPart = month < 1 ? QString() : QStringLiteral(" month=%1 ").arg(month);
    bind();
}

void WBillList::on_pbSearch_clicked()
{
    // The box shows the search in force: what the search cannot hold goes from the box too.
    const QString text = enteredText(ui->leSeacrh->text());
    if (text != ui->leSeacrh->text()) {
        const QSignalBlocker blocker(ui->leSeacrh);
        ui->leSeacrh->setText(text);
    }
    if (text.isEmpty()) {
        searchPart.clear();
    } else {
        // The text is found as it is: quotes, %, _ and \ are matched literally.
        const QString pattern = sqlContains(text);
        searchPart = QStringLiteral(" (description like ") + pattern + QStringLiteral(" or title like ") + pattern
            + QLatin1Char(')');
    }
    bind();
}

void WBillList::on_leSeacrh_textChanged(const QString& text)
{
    if (!text.isEmpty())
        return;
    searchPart.clear();
    bind();
}

void WBillList::on_tvBillList_customContextMenuRequested(const QPoint&)
{
    if (!contextMenu) {
        contextMenu = new QMenu(ui->tvBillList);
        const auto addEntry = [this](const QString& text, void (WBillList::*command)()) {
            auto* action = new QAction(text, this);
            connect(action, &QAction::triggered, this, command);
            contextMenu->addAction(action);
        };
        addEntry(tr("修改账目"), &WBillList::modifyBill);
        addEntry(tr("删除账目"), &WBillList::deleteBills);
        contextMenu->addSeparator();
        addEntry(tr("复制账目"), &WBillList::replicateBill);
        addEntry(tr("该日补账"), &WBillList::supplyBill);
        contextMenu->addSeparator();
        addEntry(tr("转换账户"), &WBillList::changeAccount);
        addEntry(tr("转换成员"), &WBillList::changeMember);
        addEntry(tr("转换分类"), &WBillList::changeCategory);
        addEntry(tr("转换借款人"), &WBillList::changeBorrower);
    }
    contextMenu->exec(QCursor::pos());
}

void WBillList::deleteBills()
{
    // Taken before the first removal; the records stay valid once removed.
    const QList<MBill*> bills = selectedBills();
    if (bills.isEmpty())
        return;
    if (DMessageBox::question(this, tr("确定删除?"), tr("需要删除这些账目吗?")) != 1)
        return;

    // All of them or none: a removal that fails half-way brings the others back. The list, the
    // totals and the balances follow once, when the batch ends after the transaction.
    bool removed = true;
    {
        MBill::Batch batch;
        SqlTransaction transaction(QSqlDatabase::database(), QStringLiteral("delete_bills"));
        removed = transaction.isActive();
        for (const MBill* bill : bills) {
            if (!removed)
                break;
            removed = MBill::remove(bill);
        }
        removed = removed && transaction.commit();
    }
    if (!removed)
        DMessageBox::error(this, tr("账目没有删除成功，请稍后再试。"));
}

void WBillList::modifyBill()
{
    const QList<MBill*> bills = selectedBills();
    if (bills.isEmpty())
        return;
    DBill dialog(bills.first(), this);
    dialog.exec();
}

void WBillList::changeAccount()
{
    quickChange(QStringLiteral("account"), selectedBills());
}

void WBillList::changeMember()
{
    const QList<MBill*> bills = selectedBills();
    if (fitKinds(bills, MBill::isCategoryKind, tr("成员转换功能只适用于收入或支出")))
        quickChange(QStringLiteral("member"), bills);
}

void WBillList::changeCategory()
{
    const QList<MBill*> bills = selectedBills();
    if (!fitKinds(bills, MBill::isCategoryKind, tr("分类转换功能只适用于收入或支出")))
        return;
    const bool mixed = std::any_of(bills.cbegin(), bills.cend(),
        [&bills](const MBill* bill) { return bill->getKind() != bills.first()->getKind(); });
    if (mixed) {
        DMessageBox::information(this, tr("错误"), tr("转换分类时，选中账目不能同步包含收入和支出"));
        return;
    }
    quickChange(QStringLiteral("category"), bills);
}

void WBillList::changeBorrower()
{
    const QList<MBill*> bills = selectedBills();
    if (fitKinds(bills, MBill::isLoanKind, tr("借款人转换功能只适用于借贷账目")))
        quickChange(QStringLiteral("borrower"), bills);
}

void WBillList::replicateBill()
{
    const QList<MBill*> bills = selectedBills();
    for (const MBill* bill : bills) {
        // The copy has no id, so the dialog enters it as a new bill filled in from the original.
        const std::unique_ptr<MBill> copy(bill->clone());
        DBill dialog(copy.get(), this);
        dialog.exec();
    }
}

void WBillList::supplyBill()
{
    const QList<MBill*> bills = selectedBills();
    for (const MBill* bill : bills) {
        DBill dialog(bill->getDate(), nullptr);
        dialog.exec();
    }
}

void WBillList::accountDataChanged()
{
    refillCombo(ui->cbAccountList, &accountPart, namedItems(tr("按账户查看"), *MAccount::get()));
}

void WBillList::monthListChanged()
{
    ComboItems items { { tr("按月查看"), 0 } };
    for (int month : *MBill::getMonthList())
        items.append({ QString::number(month), month });
    refillCombo(ui->cbMonthList, &monthPart, items);
}

void WBillList::borrowerDataChanged()
{
    refillCombo(ui->cbBorrowerList, &borrowerPart, namedItems(tr("按借款人查看"), *MBorrower::get(QString())));
}

void WBillList::categoryDataChanged()
{
    QComboBox* box = ui->cbCategoryList;
    const QVariant choice = box->currentData();
    {
        const QSignalBlocker blocker(box);
        QStandardItemModel* previous = categoryModel;
        categoryModel = new QStandardItemModel(this);
        categoryModel->appendRow(categoryItem(tr("按分类查看"), QStringLiteral("")));
        box->setModel(categoryModel);
        addKindToCategoryModel(categoryModel, MBill::Expense);
        addKindToCategoryModel(categoryModel, MBill::Income);
        delete previous;
    }
    keepChoice(box, choice, &categoryPart);
    categoryPopup->expandAll();
    fitToChoice(box);
}

void WBillList::memberDataChanged()
{
    refillCombo(ui->cbMemberList, &memberPart, namedItems(tr("按成员查看"), *MMember::get()));
}

void WBillList::on_pbExport_clicked()
{
    const QString fileName = ExportHelper::askFileName(this);
    if (fileName.isEmpty())
        return;
    QString reason;
    const bool csv = fileName.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive);
    QList<MBill*>* bills = model->getBillList();
    if (!(csv ? ExportHelper::exportBillsCsv(fileName, bills ? *bills : QList<MBill*>(), &reason)
              : ExportHelper::exportBills(fileName, bills, &reason))) {
        DMessageBox::error(this, tr("导出失败，无法写入文件 %1：%2").arg(fileName, reason));
        return;
    }
    DMessageBox::information(this, tr("导出成功"), tr("您已经成功导出数据!"));
}

void WBillList::on_pbPrint_clicked()
{
    PrintHelper helper;
    if (helper.printBills(model->getBillList()) == PrintHelper::Result::Failed)
        DMessageBox::error(this, tr("打印失败，请检查打印机后再试。"));
}

void WBillList::on_pbDelete_clicked()
{
    deleteBills();
}

void WBillList::on_pbModify_clicked()
{
    modifyBill();
}

bool WBillList::fitKinds(const QList<MBill*>& bills, bool (*isFit)(const QString& kind), const QString& refusal)
{
    for (const MBill* bill : bills) {
        if (!isFit(bill->getKind())) {
            DMessageBox::information(this, tr("错误"), refusal);
            return false;
        }
    }
    return true;
}

QList<MBill*> WBillList::selectedBills() const
{
    QList<MBill*> bills;
    const QModelIndexList rows = ui->tvBillList->selectionModel()->selectedIndexes();
    for (const QModelIndex& index : rows) {
        if (!index.isValid() || index.column() != 0)
            continue;
        auto* bill = static_cast<MBill*>(index.internalPointer());
        if (!bill->isDayRow())
            bills.append(bill);
    }
    return bills;
}

void WBillList::quickChange(const QString& type, const QList<MBill*>& bills)
{
    if (bills.isEmpty())
        return;
    DQuickChange dialog(type, bills, this);
    dialog.exec();
}

void WBillList::on_sectionResized(int, int, int)
{
    QList<int> widths;
    const QHeaderView* header = ui->tvBillList->header();
    for (int i = 0; i < header->count(); ++i)
        widths.append(header->sectionSize(i));
    FileSetting::getInstance()->setColumnWidths(widths);
}

void WBillList::applyColumnWidths()
{
    QTreeView* tree = ui->tvBillList;
    const QList<int> widths = FileSetting::getInstance()->getColumnWidths();
    if (widths.isEmpty()) {
        for (int column = 0; column < int(std::size(FirstColumnWidths)); ++column)
            tree->setColumnWidth(column, FirstColumnWidths[column]);
        return;
    }
    for (int i = 0; i < tree->header()->count(); ++i) {
        int width = i < widths.size() ? widths.at(i) : DefaultColumnWidth;
        if (width < MinColumnWidth)
            width = DefaultColumnWidth;
        else if (width > MaxColumnWidth)
            width = MaxColumnWidth;
        tree->setColumnWidth(i, width);
    }
}

void WBillList::expandDays()
{
    ui->tvBillList->expandAll();
    for (int i = 0; i < model->getDayRowCount(); ++i) {
        model->getDayRow(i)->setExpanded(true);
        // A reload forgets the spans with the rows.
        ui->tvBillList->setFirstColumnSpanned(i, QModelIndex(), true);
    }
}

void WBillList::refillCombo(QComboBox* box, QString* part, const QList<QPair<QString, QVariant>>& items)
{
    const QVariant choice = box->currentData();
    {
        const QSignalBlocker blocker(box);
        box->clear();
        for (const auto& [text, data] : items)
            box->addItem(text, data);
    }
    keepChoice(box, choice, part);
    fitToChoice(box);
}

void WBillList::resetFilter(QComboBox* box, QString* part)
{
    const QSignalBlocker blocker(box);
    box->setRootModelIndex(QModelIndex());
    box->setCurrentIndex(0);
    part->clear();
    fitToChoice(box);
}

void WBillList::keepChoice(QComboBox* box, const QVariant& choice, QString* part)
{
    if (part->isEmpty())
        return;
    const QAbstractItemModel* items = box->model();
    const QModelIndexList found
        = items->match(items->index(0, 0), Qt::UserRole, choice, 1, Qt::MatchExactly | Qt::MatchRecursive);
    if (!found.isEmpty()) {
        const QSignalBlocker blocker(box);
        showItem(box, found.first());
        return;
    }
    // The record or month of the filter is gone: show every bill rather than a filter the combo
    // can no longer show.
    part->clear();
    bind();
}
