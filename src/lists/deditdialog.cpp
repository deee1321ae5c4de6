#include "lists/deditdialog.h"

#include "data/enteredtext.h"
#include "widgets/dmessagebox.h"
#include "widgets/styledbackground.h"

#include <QLineEdit>

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

void DEditDialog::keepWholeCharacters()
{
    const auto fields = findChildren<QLineEdit*>();
    for (QLineEdit* field : fields) {
        connect(field, &QLineEdit::textEdited, field, [field](const QString& text) {
            // A length limit that falls inside a pair leaves half a character, which names none.
            const QString whole = enteredText(text);
            if (whole.size() == text.size())
                return;
            const int cursor = field->cursorPosition();
            field->setText(whole);
            field->setCursorPosition(qMin(cursor, int(whole.size())));
        });
    }
}
