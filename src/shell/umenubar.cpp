#include "shell/umenubar.h"

#include "bills/dbill.h"
#include "bills/wbilllist.h"
#include "data/filesetting.h"
#include "data/notifier.h"
#include "data/settingkeys.h"
#include "shell/ubook.h"
#include "widgets/styledbackground.h"
#include "widgets/wbasewidget.h"
#include "ui_umenubar.h"

UMenuBar::UMenuBar(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::UMenuBar)
    , bookPage(qobject_cast<UBook*>(parent))
{
    ui->setupUi(this);
    connect(ui->tbNewBill, &QPushButton::clicked, this, &UMenuBar::onNewBillButtonClicked);
    for (QPushButton* button : { ui->tbBillList, ui->tbAccountList, ui->tbCategoryList, ui->tbBorrowerList,
             ui->tbMemberList, ui->pbCategoryAnalysis, ui->pbAccountAnalysis, ui->pbBorrowerAnalysis,
             ui->pbMemberAnalysis, ui->pbBillStat })
        connect(button, &QPushButton::clicked, this, &UMenuBar::onToolButtonClicked);

    const bool members = FileSetting::getInstance()->value(SettingKeys::EnableBillMember).toBool();
    ui->tbMemberList->setVisible(members);
    ui->pbMemberAnalysis->setVisible(members);
}

UMenuBar::~UMenuBar()
{
    delete ui;
}

void UMenuBar::onToolButtonClicked()
{
    if (!bookPage || !sender())
        return;
    bookPage->switchPage(sender()->objectName().mid(2));
}

void UMenuBar::onNewBillButtonClicked()
{
    // Bills saved with "save and continue" before the dialog was closed count as well.
    bool saved = false;
    const QMetaObject::Connection watch
        = connect(Notifier::getInstance(), &Notifier::billDataChanged, this, [&saved] { saved = true; });
    DBill dialog(this);
    const int result = dialog.exec();
    disconnect(watch);
    if (result == QDialog::Rejected && !saved)
        return;
    // The bill list refreshes itself on every change of the bills.
    WBaseWidget* page = bookPage ? bookPage->currentWidget() : nullptr;
    if (!page || qobject_cast<WBillList*>(page))
        return;
    page->bind();
}

void UMenuBar::paintEvent(QPaintEvent*)
{
    paintStyledBackground(this);
}
