#include "sync/dfeedback.h"

#include <QPushButton>
#include <QRegularExpression>

#include "data/constants.h"
#include "data/filesetting.h"
#include "data/settingkeys.h"
#include "engine/httphelper.h"
#include "engine/servicepaths.h"
#include "widgets/dmessagebox.h"
#include "widgets/styledbackground.h"
#include "ui_dfeedback.h"

DFeedback::DFeedback(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::DFeedback)
{
    setProperty("style", QStringLiteral("dialog"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    ui->setupUi(this);
    ui->wgtTitle->setTitle(tr("留言反馈"));

    const QString email = FileSetting::getInstance()->value(SettingKeys::FeedbackEmail).toString();
    if (!email.isEmpty())
        ui->leEmail->setText(email);
}

DFeedback::~DFeedback()
{
    delete ui;
}

void DFeedback::paintEvent(QPaintEvent*)
{
    paintStyledBackground(this);
}

bool DFeedback::isEmailAddress(const QString& text)
{
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(QStringLiteral("\\b[A-Z0-9._%+-]+@[A-Z0-9.-]+\\.[A-Z]{2,4}\\b")),
        QRegularExpression::CaseInsensitiveOption);
    return pattern.match(text).hasMatch();
}

void DFeedback::on_pbOK_clicked()
{
    const QString email = ui->leEmail->text();
    if (email != ui->leEmail2->text()) {
        DMessageBox::error(this, tr("您两次输入的邮箱不一致，请确认。"));
        return;
    }
    if (!isEmailAddress(email)) {
        DMessageBox::error(this, tr("请输入有效的邮箱地址"));
        return;
    }
    // Remembered even when the message is refused next.
    FileSetting::getInstance()->setValue(SettingKeys::FeedbackEmail, email);
    const QString content = ui->pteContent->toPlainText();
    if (content.size() < minimumContentLength) {
        DMessageBox::error(this, tr("反馈内容太短了，请详细说明您的问题。"));
        return;
    }

    auto* http = new HttpHelper(this);
    connect(http, &HttpHelper::finished, this, &DFeedback::feedbackSent);
    connect(http, &HttpHelper::error, this, &DFeedback::sendError);
    http->post(Constants::getBaseUrl() + ServicePaths::Feedback,
        { { QStringLiteral("email"), email }, { QStringLiteral("subject"), QStringLiteral("QRV PC 反馈") + email },
            { QStringLiteral("content"), content } });
    ui->pbOK->setText(tr("正在发送中......"));
    ui->pbOK->setEnabled(false);
}

void DFeedback::feedbackSent(const QString& html)
{
    if (!html.contains(QLatin1String("success"))) {
        sendError();
        return;
    }
    DMessageBox::information(this, tr("留言反馈"), tr("已经将您的反馈信息成功发送给开发者。"));
    close();
}

void DFeedback::sendError()
{
    DMessageBox::error(this, tr("发送过程出现错误，请重试。"));
    ui->pbOK->setEnabled(true);
    ui->pbOK->setText(tr("确定"));
}

void DFeedback::on_pbCancel_clicked()
{
    close();
}
