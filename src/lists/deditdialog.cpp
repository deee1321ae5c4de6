#include "lists/deditdialog.h"

#include "shell/common/dmessagebox.h"
#include "shell/common/styledbackground.h"

#include <QLineEdit>

DEditDialog::DEditDialog(QWidget* parent)
    : QDialog(parent)
{
    setProperty("style", QStringLiteral("dialog"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
}

QString DEditDialog::storedText(const QString& text)
{
    return text.isNull() ? QStringLiteral("") : text;
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

namespace {

// text without the halves of surrogate pairs that lost their other half.
QString wholeCharacters(const QString& text)
{
    QString whole;
    whole.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            whole += c;
            whole += text.at(++i);
        } else if (!c.isSurrogate()) {
            whole += c;
        }
    }
    return whole;
}

} // namespace

void DEditDialog::keepWholeCharacters()
{
    const auto fields = findChildren<QLineEdit*>();
    for (QLineEdit* field : fields) {
        connect(field, &QLineEdit::textEdited, field, [field](const QString& text) {
            const QString whole = wholeCharacters(text);
            if (whole.size() == text.size())
                return;
            const int cursor = field->cursorPosition();
            field->setText(whole);
            field->setCursorPosition(qMin(cursor, int(whole.size())));
        });
    }
}
