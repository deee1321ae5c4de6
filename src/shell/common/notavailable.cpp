#include "shell/common/notavailable.h"

#include <QCoreApplication>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

QString notAvailableText(const QString& feature)
{
    return QCoreApplication::translate("NotAvailable", "「%1」功能尚未开放，敬请期待。").arg(feature);
}

void showNotAvailable(QWidget* page, const QString& feature)
{
    auto* layout = new QVBoxLayout(page);
    auto* label = new QLabel(notAvailableText(feature), page);
    label->setObjectName(QStringLiteral("lblNotAvailable"));
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    layout->addWidget(label);
}
