#include "lists/dcategory.h"

#include <QListView>
#include <QSqlError>
#include <QSqlQuery>

#include "data/logging.h"
#include "data/mcategory.h"
#include "widgets/dmessagebox.h"
#include "ui_dcategory.h"

DCategory::DCategory(const QString& kind, QWidget* parent, bool isSub, const QString& parentId)
    : DEditDialog(parent)
    , ui(new Ui::DCategory)
    , isSub(isSub)
    , kind(kind)
{
    ui->setupUi(this);
    keepWholeCharacters();
    ui->wgtTitle->setTitle(tr("分类"));
    ui->cbParentId->setView(new QListView(this));
    if (!isSub) {
        ui->tlParentId->hide();
        ui->cbParentId->hide();
        return;
    }
    // The top categories in the table's own order, as the parent list always showed them.
    QSqlQuery query;
    query.prepare(QStringLiteral("select id,name,kind,description,sort from tbl_category where kind=?"));
    query.addBindValue(kind);
    if (!query.exec())
        qCWarning(lcSql) << "DCategory: top categories not read:" << query.lastError().text();
    while (query.next())
        ui->cbParentId->addItem(query.value(1).toString(), query.value(0).toString());
    const int wanted = parentId.isEmpty() ? -1 : ui->cbParentId->findData(parentId, Qt::UserRole, Qt::MatchExactly);
    if (wanted >= 0)
        ui->cbParentId->setCurrentIndex(wanted);
}

DCategory::~DCategory()
{
    delete ui;
}

void DCategory::setCategory(MCategory* record)
{
    category = record;
    isEdit = true;
    kind = record->getKind();
    if (isSub)
        ui->cbParentId->setCurrentIndex(
            ui->cbParentId->findData(record->getCategoryId(), Qt::UserRole, Qt::MatchExactly));
    ui->leName->setText(record->getName());
    ui->lnDescription->setText(record->getDescription());
}

void DCategory::on_pbOK_clicked()
{
    const QString name = storedText(ui->leName->text());
    const QString description = storedText(ui->lnDescription->text());
    if (!acceptsName(name, tr("分类名称不能为空！")))
        return;
    // A sub-category without a parent would be stored as a top category, or its edit would be
    // written to a row that does not exist.
    if (isSub && ui->cbParentId->currentIndex() < 0) {
        DMessageBox::error(this, tr("请先选择所属大类"));
        return;
    }
    const QString parentId = ui->cbParentId->currentData().toString();
    storeRecord(
        category, created, isEdit,
        [&](MCategory* record) {
            if (isSub)
                record->setCategoryId(parentId);
            record->setName(name);
            record->setKind(kind);
            record->setDescription(description);
        },
        tr("分类没有保存成功，请稍后再试。"));
}

void DCategory::on_pbCancel_clicked()
{
    close();
}
