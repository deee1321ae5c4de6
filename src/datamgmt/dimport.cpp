#include "datamgmt/dimport.h"
#include <iterator>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "data/constants.h"
#include "data/filesetting.h"
#include "data/maccount.h"
#include "data/metadata.h"
#include "data/money.h"
#include "data/settingkeys.h"
#include "import/importpreset.h"
#include "import/textdecoder.h"
#include "widgets/dmessagebox.h"
#include "widgets/styledbackground.h"
#include "widgets/udialogtitle.h"

namespace {

// The preview shows the first rows as they will be booked.
const int PreviewRows = 100;
// The sample rows shown under the column choices.
const int SampleRows = 20;
// The books' limit for an account name, as the account dialog has it.
const int MaxNameLength = 20;
// The widest a column of free text gets in the preview before it is cut.
const int MaxTextColumnWidth = 220;
// The lines of the summary shown after booking.
const int SummaryLines = 10;
const char* const LastMapping = "last";

// The columns of the names table.
enum NameColumn { NameColumnType, NameColumnText, NameColumnRows, NameColumnMapping, NameColumnCount };
// The columns of the preview table: the row's state, then what it would be booked as.
enum PreviewColumn {
    PreviewStatus,
    PreviewLine,
    PreviewReason,
    PreviewDate,
    PreviewKind,
    PreviewAmount,
    PreviewAccount,
    PreviewToAccount,
    PreviewCategory,
    PreviewSubCategory,
    PreviewMember,
    PreviewBorrower,
    PreviewTitle,
    PreviewDescription,
    PreviewColumnCount
};

QTableWidgetItem* cell(const QString& text)
{
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    item->setToolTip(text);
    return item;
}

QString statusText(ImportPlan::Status status)
{
    switch (status) {
    case ImportPlan::Status::New:
        return QObject::tr("新账目");
    case ImportPlan::Status::Duplicate:
        return QObject::tr("重复");
    case ImportPlan::Status::Unreadable:
        return QObject::tr("无法读取");
    }
    return QString();
}

QString typeText(ImportPlan::NameType type, const QString& kind)
{
    const QString kindLabel = Constants::getInstance()->getCategoryKinds()->getLabel(kind);
    switch (type) {
    case ImportPlan::NameType::Account:
        return QObject::tr("账户");
    case ImportPlan::NameType::Category:
        return QObject::tr("%1大类别").arg(kindLabel);
    case ImportPlan::NameType::SubCategory:
        return QObject::tr("%1小类别").arg(kindLabel);
    case ImportPlan::NameType::Member:
        return QObject::tr("成员");
    case ImportPlan::NameType::Borrower:
        return QObject::tr("借款人");
    }
    return QString();
}

} // namespace

DImport::DImport(QWidget* parent)
    : QDialog(parent)
{
    setProperty("style", QStringLiteral("dialog"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setWindowTitle(tr("导入CSV/QIF文件"));
    resize(900, 600);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    title = new UDialogTitle(this);
    title->setObjectName(QStringLiteral("wgtTitle"));
    title->setTitle(tr("导入CSV/QIF文件"));
    layout->addWidget(title);

    auto* content = new QWidget(this);
    content->setObjectName(QStringLiteral("wgtContent"));
    auto* contentLayout = new QVBoxLayout(content);
    stepLabel = new QLabel(content);
    stepLabel->setObjectName(QStringLiteral("lblStep"));
    QFont bold = stepLabel->font();
    bold.setPointSize(12);
    bold.setBold(true);
    stepLabel->setFont(bold);
    contentLayout->addWidget(stepLabel);
    steps = new QStackedWidget(content);
    steps->addWidget(buildFilePage());
    steps->addWidget(buildColumnPage());
    steps->addWidget(buildNamePage());
    steps->addWidget(buildPreviewPage());
    contentLayout->addWidget(steps, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    backButton = new QPushButton(tr("上一步"), content);
    backButton->setObjectName(QStringLiteral("pbBack"));
    nextButton = new QPushButton(tr("下一步"), content);
    nextButton->setObjectName(QStringLiteral("pbNext"));
    importButton = new QPushButton(tr("导入"), content);
    importButton->setObjectName(QStringLiteral("pbImport"));
    auto* cancelButton = new QPushButton(tr("取消"), content);
    cancelButton->setObjectName(QStringLiteral("pbCancel"));
    for (QPushButton* button : { backButton, nextButton, importButton, cancelButton })
        buttons->addWidget(button);
    contentLayout->addLayout(buttons);
    layout->addWidget(content, 1);

    connect(backButton, &QPushButton::clicked, this, [this] { showStep(steps->currentIndex() - 1); });
    connect(nextButton, &QPushButton::clicked, this, [this] { showStep(steps->currentIndex() + 1); });
    connect(importButton, &QPushButton::clicked, this, &DImport::book);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    showStep(0);
}

void DImport::paintEvent(QPaintEvent*)
{
    paintStyledBackground(this);
}

QWidget* DImport::buildFilePage()
{
    auto* page = new QWidget;
    auto* form = new QFormLayout(page);
    auto* fileRow = new QHBoxLayout;
    fileEdit = new QLineEdit(page);
    fileEdit->setObjectName(QStringLiteral("leFile"));
    fileEdit->setReadOnly(true);
    fileEdit->setPlaceholderText(tr("请选择要导入的CSV、TXT或QIF文件"));
    auto* chooseButton = new QPushButton(tr("选择文件..."), page);
    chooseButton->setObjectName(QStringLiteral("pbChooseFile"));
    fileRow->addWidget(fileEdit, 1);
    fileRow->addWidget(chooseButton);
    form->addRow(tr("文件："), fileRow);

    encodingBox = new QComboBox(page);
    encodingBox->setObjectName(QStringLiteral("cbEncoding"));
    encodingBox->addItem(tr("自动识别"), QString());
    for (const QString& encoding : TextDecoder::encodings())
        encodingBox->addItem(
            encoding == QLatin1String("GB18030") ? QStringLiteral("GB18030 / GBK") : encoding, encoding);
    form->addRow(tr("编码："), encodingBox);

    delimiterBox = new QComboBox(page);
    delimiterBox->setObjectName(QStringLiteral("cbDelimiter"));
    delimiterBox->addItem(tr("自动识别"), 0);
    delimiterBox->addItem(tr("逗号 ,"), int(','));
    delimiterBox->addItem(tr("分号 ;"), int(';'));
    delimiterBox->addItem(tr("制表符"), int('\t'));
    form->addRow(tr("分隔符："), delimiterBox);

    headerBox = new QCheckBox(tr("第一行是标题"), page);
    headerBox->setObjectName(QStringLiteral("cbHeader"));
    form->addRow(QString(), headerBox);

    orderBox = new QComboBox(page);
    orderBox->setObjectName(QStringLiteral("cbDateOrder"));
    orderBox->addItem(tr("由文件判断"), int(ValueParser::DateOrder::Unknown));
    orderBox->addItem(tr("月/日/年（如 3/31/2023）"), int(ValueParser::DateOrder::MonthDay));
    orderBox->addItem(tr("日/月/年（如 31/3/2023）"), int(ValueParser::DateOrder::DayMonth));
    form->addRow(tr("日期顺序："), orderBox);

    fileInfo = new QLabel(page);
    fileInfo->setObjectName(QStringLiteral("lblFileInfo"));
    fileInfo->setWordWrap(true);
    fileInfo->setTextFormat(Qt::PlainText);
    form->addRow(QString(), fileInfo);

    connect(chooseButton, &QPushButton::clicked, this, &DImport::chooseFile);
    for (QComboBox* box : { encodingBox, delimiterBox, orderBox })
        connect(box, &QComboBox::currentIndexChanged, this, &DImport::reread);
    connect(delimiterBox, &QComboBox::currentIndexChanged, this, [this] { chosenColumns.clear(); });
    connect(headerBox, &QCheckBox::toggled, this, [this] {
        chosenColumns.clear();
        reread();
    });
    return page;
}

QWidget* DImport::buildColumnPage()
{
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    auto* presetRow = new QHBoxLayout;
    presetRow->addWidget(new QLabel(tr("文件格式："), page));
    presetBox = new QComboBox(page);
    presetBox->setObjectName(QStringLiteral("cbPreset"));
    presetBox->addItem(tr("按标题行识别"), QString());
    for (const ImportPreset& preset : ImportPreset::all())
        presetBox->addItem(preset.label, preset.key);
    presetBox->addItem(tr("上次的设置"), QLatin1String(LastMapping));
    presetRow->addWidget(presetBox, 1);
    layout->addLayout(presetRow);
    auto* hint = new QLabel(tr("请为每一列选择它的内容。金额可以是一列（负数为支出），也可以分为收入和支出两列，"
                               "或一列金额加一列“收/支”。类别写作“大类别:小类别”或“大类别/小类别”时会分开。"),
        page);
    hint->setWordWrap(true);
    layout->addWidget(hint);
    columnTable = new QTableWidget(page);
    columnTable->setObjectName(QStringLiteral("twColumns"));
    columnTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    layout->addWidget(columnTable, 1);

    connect(presetBox, &QComboBox::currentIndexChanged, this, [this] {
        chosenColumns.clear();
        if (presetBox->currentData().toString() == QLatin1String(LastMapping)) {
            QList<ColumnRole::Role> roles;
            QString word;
            if (ColumnRole::parseList(
                    FileSetting::getInstance()->value(SettingKeys::ImportColumns, QString()).toString(), &roles, &word))
                chosenColumns = roles;
        }
        reread();
    });
    return page;
}

QWidget* DImport::buildNamePage()
{
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    auto* accountRow = new QHBoxLayout;
    accountRow->addWidget(new QLabel(tr("没有写明账户的账目记入："), page));
    accountBox = new QComboBox(page);
    accountBox->setObjectName(QStringLiteral("cbDefaultAccount"));
    accountBox->setEditable(true);
    accountBox->lineEdit()->setMaxLength(MaxNameLength);
    accountBox->lineEdit()->setPlaceholderText(tr("选择账户，或输入新账户的名称"));
    for (const MAccount* account : *MAccount::get())
        accountBox->addItem(account->getName());
    accountRow->addWidget(accountBox, 1);
    layout->addLayout(accountRow);
    layout->addWidget(new QLabel(tr("账本中还没有下列名称。导入时新建它们，或把它们对应到已有的项目："), page));
    nameTable = new QTableWidget(0, NameColumnCount, page);
    nameTable->setObjectName(QStringLiteral("twNames"));
    nameTable->setHorizontalHeaderLabels({ tr("类型"), tr("名称"), tr("账目数"), tr("导入时") });
    nameTable->horizontalHeader()->setSectionResizeMode(NameColumnText, QHeaderView::Stretch);
    nameTable->horizontalHeader()->setSectionResizeMode(NameColumnMapping, QHeaderView::Stretch);
    nameTable->verticalHeader()->hide();
    nameTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    layout->addWidget(nameTable, 1);

    // A name typed in counts once it is complete, not at every key.
    const auto accountChosen = [this] {
        if (accountBox->currentText().trimmed() != usedAccount)
            reread();
    };
    connect(accountBox, &QComboBox::currentIndexChanged, this, accountChosen);
    connect(accountBox, &QComboBox::activated, this, accountChosen);
    connect(accountBox->lineEdit(), &QLineEdit::editingFinished, this, accountChosen);
    return page;
}

QWidget* DImport::buildPreviewPage()
{
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    previewInfo = new QLabel(page);
    previewInfo->setObjectName(QStringLiteral("lblPreviewInfo"));
    previewInfo->setWordWrap(true);
    previewInfo->setTextFormat(Qt::PlainText);
    layout->addWidget(previewInfo);
    previewTable = new QTableWidget(0, PreviewColumnCount, page);
    previewTable->setObjectName(QStringLiteral("twPreview"));
    previewTable->setHorizontalHeaderLabels({ tr("状态"), tr("行"), tr("原因"), tr("日期"), tr("类型"), tr("金额"),
        tr("账户"), tr("转入账户"), tr("大类别"), tr("小类别"), tr("成员"), tr("借款人"), tr("标题"), tr("说明") });
    previewTable->verticalHeader()->hide();
    previewTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    previewTable->setWordWrap(false);
    layout->addWidget(previewTable, 1);
    connect(previewTable, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (item->column() != PreviewStatus || !(item->flags() & Qt::ItemIsUserCheckable))
            return;
        plan.setTicked(item->data(Qt::UserRole).toInt(), item->checkState() == Qt::Checked);
        fillPreview();
    });
    return page;
}

void DImport::showStep(int step)
{
    step = std::clamp(step, 0, int(steps->count()) - 1);
    // Columns are a CSV file's: a QIF file goes from its file straight on to the names.
    if (loaded && source.isQif() && step == 1)
        step = steps->currentIndex() < 1 ? 2 : 0;
    steps->setCurrentIndex(step);
    const QString names[]
        = { tr("第1步：选择文件"), tr("第2步：指定各列的内容"), tr("第3步：账户和名称"), tr("第4步：预览并导入") };
    stepLabel->setText(names[step]);
    updateButtons();
}

void DImport::updateButtons()
{
    const int step = steps->currentIndex();
    backButton->setEnabled(step > 0);
    nextButton->setEnabled(loaded && step < steps->count() - 1);
    importButton->setEnabled(
        loaded && source.isComplete() && plan.problem().isEmpty() && !plan.needsDateOrder() && plan.tickedCount() > 0);
}

void DImport::chooseFile()
{
    // Statements are looked for where the last import came from, at first where the user keeps
    // documents, as the other import does.
    FileSetting* settings = FileSetting::getInstance();
    QFileDialog dialog(this, tr("选择要导入的文件"),
        settings->folderFor(SettingKeys::ImportFolder, Constants::getDocumentsDir()),
        tr("账目文件 (*.csv *.txt *.qif *.CSV *.TXT *.QIF);;所有文件 (*)"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QString path = dialog.selectedFiles().value(0);
    settings->rememberFolder(SettingKeys::ImportFolder, path);
    if (!path.isEmpty())
        openFile(path);
}

bool DImport::openFile(const QString& path)
{
    QString error;
    loaded = false;
    chosenColumns.clear();
    fileEdit->setText(path);
    if (!source.load(path, &error)) {
        fileInfo->setText(error);
        updateButtons();
        DMessageBox::error(this, error);
        return false;
    }
    {
        // Back to the automatic choices without reading the file once per box.
        const QSignalBlocker encodingBlocker(encodingBox);
        const QSignalBlocker delimiterBlocker(delimiterBox);
        const QSignalBlocker presetBlocker(presetBox);
        encodingBox->setCurrentIndex(0);
        delimiterBox->setCurrentIndex(0);
        presetBox->setCurrentIndex(0);
    }
    reread();
    if (!loaded) {
        DMessageBox::error(this, fileInfo->text());
        return false;
    }
    // A file laid out as the one the user mapped by hand last time gets that mapping again.
    const QString lastHeader = FileSetting::getInstance()->value(SettingKeys::ImportHeader, QString()).toString();
    if (!source.isQif() && source.hasHeader() && !lastHeader.isEmpty()
        && lastHeader == source.header().join(QLatin1Char(',')))
        presetBox->setCurrentIndex(presetBox->findData(QLatin1String(LastMapping)));
    return loaded;
}

ImportSource::Settings DImport::settings() const
{
    ImportSource::Settings chosen;
    chosen.encoding = encodingBox->currentData().toString();
    chosen.delimiter = char(delimiterBox->currentData().toInt());
    chosen.header = loaded ? (headerBox->isChecked() ? 1 : 0) : -1;
    chosen.columns = chosenColumns;
    const QString preset = presetBox->currentData().toString();
    if (preset != QLatin1String(LastMapping))
        chosen.preset = preset;
    chosen.defaultAccount = accountBox->currentText().trimmed();
    chosen.dateOrder = dateOrder();
    return chosen;
}

ValueParser::DateOrder DImport::dateOrder() const
{
    return ValueParser::DateOrder(orderBox->currentData().toInt());
}

void DImport::reread()
{
    if (fileEdit->text().isEmpty())
        return;
    QString error;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ImportSource::Settings wanted = settings();
    usedAccount = wanted.defaultAccount;
    // A large file shows its first rows at once; the whole of it is checked right after.
    if (!wholeFile)
        wanted.maxRecords = PreviewRows;
    const bool ok = source.parse(wanted, &error);
    QApplication::restoreOverrideCursor();
    loaded = ok;
    if (!ok) {
        fileInfo->setText(error);
        plan.build(ImportSource(), dateOrder(), QString());
        fillColumns();
        fillNames();
        fillPreview();
        updateButtons();
        return;
    }
    plan.build(source, dateOrder(), wanted.defaultAccount);

    {
        // Showing what was read is not a new choice to read again by.
        const QSignalBlocker headerBlocker(headerBox);
        headerBox->setChecked(source.hasHeader());
    }
    headerBox->setEnabled(!source.isQif());
    delimiterBox->setEnabled(!source.isQif());
    QString info = source.isQif()
        ? tr("QIF文件，编码 %1，共 %2 条账目").arg(source.encoding()).arg(plan.rows().size())
        : tr("CSV文件，编码 %1，分隔符“%2”，共 %3 行")
              .arg(source.encoding(),
                  source.delimiter() == '\t' ? tr("制表符") : QString(QLatin1Char(source.delimiter())))
              .arg(plan.rows().size());
    if (source.pairedTransfers() > 0)
        info += tr("；%1 笔转账在两个账户中各出现一次，只导入一次").arg(source.pairedTransfers());
    if (plan.needsDateOrder())
        info += tr("\n文件中的日期分不清日和月，请选择日期顺序。");
    if (!plan.problem().isEmpty())
        info += QLatin1Char('\n') + plan.problem();
    if (!source.isComplete())
        info += tr("\n正在检查全部账目……");
    fileInfo->setText(info);
    fillColumns();
    fillNames();
    fillPreview();
    updateButtons();
    if (!source.isComplete() && !wholeFile)
        QTimer::singleShot(0, this, [this] {
            wholeFile = true;
            reread();
            wholeFile = false;
        });
}

void DImport::fillColumns()
{
    const QSignalBlocker tableBlocker(columnTable);
    const QSignalBlocker presetBlocker(presetBox);
    columnTable->clear();
    const QStringList header = loaded && !source.isQif() ? source.header() : QStringList();
    const QList<CsvRecord> samples
        = loaded && !source.isQif() ? source.sampleRecords().mid(0, SampleRows) : QList<CsvRecord>();
    columnTable->setColumnCount(int(header.size()));
    columnTable->setRowCount(int(samples.size()) + 1);
    columnTable->setHorizontalHeaderLabels(header);
    QStringList rowLabels { tr("内容") };
    const QList<ColumnRole::Role> roles = source.columns();
    for (int column = 0; column < header.size(); ++column) {
        auto* box = new QComboBox(columnTable);
        for (ColumnRole::Role role : ColumnRole::all())
            box->addItem(ColumnRole::label(role), int(role));
        box->setCurrentIndex(box->findData(int(roles.value(column, ColumnRole::Skip))));
        connect(box, &QComboBox::currentIndexChanged, this, [this, column, box] {
            QList<ColumnRole::Role> chosen = source.columns();
            const auto role = ColumnRole::Role(box->currentData().toInt());
            // A role is one column's: the column that had it gives it up.
            for (ColumnRole::Role& other : chosen) {
                if (other == role && role != ColumnRole::Skip)
                    other = ColumnRole::Skip;
            }
            if (column < chosen.size())
                chosen[column] = role;
            chosenColumns = chosen;
            rememberColumns();
            QMetaObject::invokeMethod(this, &DImport::reread, Qt::QueuedConnection);
        });
        columnTable->setCellWidget(0, column, box);
    }
    for (int row = 0; row < samples.size(); ++row) {
        rowLabels << tr("第%1行").arg(samples.at(row).line);
        for (int column = 0; column < header.size(); ++column)
            columnTable->setItem(row + 1, column, cell(samples.at(row).fields.value(column)));
    }
    columnTable->setVerticalHeaderLabels(rowLabels);
    columnTable->resizeColumnsToContents();
    const int presetIndex = presetBox->findData(source.presetKey());
    if (chosenColumns.isEmpty() && presetIndex >= 0 && presetBox->currentData().toString().isEmpty())
        presetBox->setItemText(0,
            source.presetKey().isEmpty() ? tr("按标题行识别")
                                         : tr("按标题行识别（%1）").arg(presetBox->itemText(presetIndex)));
}

void DImport::rememberColumns()
{
    FileSetting* settings = FileSetting::getInstance();
    settings->setValue(SettingKeys::ImportColumns, ColumnRole::toList(chosenColumns));
    settings->setValue(SettingKeys::ImportHeader, source.header().join(QLatin1Char(',')));
}

void DImport::fillNames()
{
    const QSignalBlocker tableBlocker(nameTable);
    const QList<ImportPlan::MissingName>& missing = plan.missingNames();
    nameTable->setRowCount(int(missing.size()));
    for (int row = 0; row < missing.size(); ++row) {
        const ImportPlan::MissingName& name = missing.at(row);
        nameTable->setItem(row, NameColumnType, cell(typeText(name.name.type, name.name.kind)));
        const QString shown = name.name.type == ImportPlan::NameType::SubCategory
            ? name.name.parent + QStringLiteral(" - ") + name.name.name
            : name.name.name;
        nameTable->setItem(row, NameColumnText, cell(shown));
        nameTable->setItem(row, NameColumnRows, cell(QString::number(name.rows)));
        auto* box = new QComboBox(nameTable);
        if (name.problem.isEmpty())
            box->addItem(tr("新建"), QString());
        else
            box->addItem(tr("请对应到已有项目（%1）").arg(name.problem), QString());
        for (const auto& candidate : plan.candidates(name.name.type, name.name.kind))
            box->addItem(tr("对应到：%1").arg(candidate.first), candidate.second);
        box->setCurrentIndex(std::max(0, box->findData(name.mappedTo)));
        connect(box, &QComboBox::currentIndexChanged, this, [this, row, box] {
            plan.mapName(row, box->currentData().toString());
            QMetaObject::invokeMethod(
                this,
                [this] {
                    fillNames();
                    fillPreview();
                    updateButtons();
                },
                Qt::QueuedConnection);
        });
        nameTable->setCellWidget(row, NameColumnMapping, box);
    }
    nameTable->resizeColumnToContents(NameColumnType);
}

void DImport::fillPreview()
{
    // Ticking a duplicate is the user's; filling the rows in is not.
    const QSignalBlocker tableBlocker(previewTable);
    const ImportPlan::Summary summary = plan.preview();
    if (!source.isComplete()) {
        previewInfo->setText(tr("正在检查全部账目……"));
        fillRows();
        return;
    }
    QString info = tr("共 %1 行：将导入 %2 条，重复 %3 条（勾选后也导入），无法读取 %4 条。")
                       .arg(plan.rows().size())
                       .arg(summary.booked)
                       .arg(plan.count(ImportPlan::Status::Duplicate))
                       .arg(summary.unreadable);
    if (summary.createdNames > 0)
        info += tr("将新建 %1 个账户、类别、成员或借款人。").arg(summary.createdNames);
    if (plan.rows().size() > PreviewRows)
        info += tr("下表是前 %1 行。").arg(PreviewRows);
    if (plan.needsDateOrder())
        info += tr("\n请先在第1步选择日期顺序。");
    if (!plan.problem().isEmpty())
        info += QLatin1Char('\n') + plan.problem();
    previewInfo->setText(info);

    fillRows();
}

void DImport::fillRows()
{
    const MetaData* kinds = Constants::getInstance()->getBillKinds();
    const QList<ImportPlan::Row>& rows = plan.rows();
    const int shown = int(std::min<qsizetype>(rows.size(), PreviewRows));
    previewTable->setRowCount(shown);
    for (int i = 0; i < shown; ++i) {
        const ImportPlan::Row& row = rows.at(i);
        auto* status = cell(statusText(row.status));
        if (row.status == ImportPlan::Status::Duplicate) {
            status->setFlags(status->flags() | Qt::ItemIsUserCheckable);
            status->setCheckState(row.ticked ? Qt::Checked : Qt::Unchecked);
        }
        status->setData(Qt::UserRole, i);
        if (row.status == ImportPlan::Status::Unreadable)
            status->setForeground(QColor(0xC0, 0x30, 0x30));
        else if (row.status == ImportPlan::Status::Duplicate)
            status->setForeground(QColor(0xB0, 0x70, 0x00));
        previewTable->setItem(i, PreviewStatus, status);
        previewTable->setItem(i, PreviewLine, cell(QString::number(row.line)));
        previewTable->setItem(i, PreviewReason, cell(row.reason));
        // An unreadable row shows why, and nothing of what it would have been.
        if (row.status == ImportPlan::Status::Unreadable) {
            for (int column = PreviewDate; column < PreviewColumnCount; ++column)
                previewTable->setItem(i, column, cell(QString()));
            continue;
        }
        previewTable->setItem(i, PreviewDate, cell(row.date.toString(QStringLiteral("yyyy-MM-dd"))));
        previewTable->setItem(i, PreviewKind, cell(kinds->getLabel(row.kind)));
        auto* amount = cell(formatMoney(row.amount));
        amount->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        previewTable->setItem(i, PreviewAmount, amount);
        const QString texts[] = { plan.text(row, ColumnRole::Account), plan.text(row, ColumnRole::ToAccount),
            plan.text(row, ColumnRole::Category), plan.text(row, ColumnRole::SubCategory),
            plan.text(row, ColumnRole::Member), plan.text(row, ColumnRole::Borrower), plan.text(row, ColumnRole::Title),
            plan.text(row, ColumnRole::Description).simplified() };
        // The texts stand in the columns from the account on, in the order of the header.
        for (int text = 0; text < int(std::size(texts)); ++text)
            previewTable->setItem(i, PreviewAccount + text, cell(texts[text]));
    }
    previewTable->resizeColumnsToContents();
    for (int column : { PreviewReason, PreviewTitle, PreviewDescription })
        previewTable->setColumnWidth(column, std::min(previewTable->columnWidth(column), MaxTextColumnWidth));
}

void DImport::book()
{
    if (!source.isComplete() || !plan.problem().isEmpty() || plan.needsDateOrder())
        return;
    ImportPlan::Summary summary;
    QString error;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool ok = plan.book(&summary, &error);
    QApplication::restoreOverrideCursor();
    if (!ok) {
        DMessageBox::error(this, tr("导入失败，账本没有改变。\n%1").arg(error));
        return;
    }
    DMessageBox::information(this, tr("导入完成"), ImportPlan::summaryText(summary, SummaryLines));
    accept();
}
