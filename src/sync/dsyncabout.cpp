#include "sync/dsyncabout.h"

#include "widgets/styledbackground.h"
#include "ui_dsyncabout.h"

DSyncAbout::DSyncAbout(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::DSyncAbout)
{
    setProperty("style", QStringLiteral("dialog"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    ui->setupUi(this);
    ui->wgtTitle->setTitle(tr("关于同步"));
}

DSyncAbout::~DSyncAbout()
{
    delete ui;
}

void DSyncAbout::paintEvent(QPaintEvent*)
{
    paintStyledBackground(this);
}

void DSyncAbout::on_pushButton_clicked()
{
    accept();
}
