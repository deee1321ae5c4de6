#include "lists/deditdialog.h"

#include "data/enteredtext.h"
#include "shell/common/dmessagebox.h"
#include "shell/common/styledbackground.h"

DEditDialog::DEditDialog(QWidget* parent)
    : QDialog(parent)
{
    setProperty("style", QStringLiteral("dialog"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
}

QString DEditDialog::storedText(const QString& text)
{
    const QString entered = enteredText(text);
    return entered.isNull() ? QStringLiteral("") : entered;
}

void DEditDialog::paintEvent(QPaintEvent*)
{
    paintStyledBackground(this);
}

bool DEditDialog::acceptsName(const QString& name, const QString& emptyText)
{
    if (!name.isEmpty())
        return true;
    DMessageBox::error(this, emptyText);
    return false;
}

void DEditDialog::reportFailedStore(const QString& text)
{
    DMessageBox::error(this, text);
}
