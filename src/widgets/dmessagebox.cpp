#include "widgets/dmessagebox.h"

#include <QPushButton>
#include <QScreen>

#include "widgets/styledbackground.h"
#include "ui_dmessagebox.h"

namespace {

// A message may carry a name of any length or whatever a server sent. Lines beyond these are left
// out, and a line is cut to so many characters before it is measured.
const int MaxLines = 12;
const int MaxLineLength = 1000;

// What the box shows of text: at most MaxLines lines, the last among them (the end of a message
// says what went wrong as often as its start), each at most two rooms wide, shortened in its middle.
QString fitted(const QString& text, const QFontMetrics& metrics, int room)
{
    QString normal = text;
    normal.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    normal.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    normal.replace(QChar(QChar::LineSeparator), QLatin1Char('\n'));
    QStringList lines = normal.split(QLatin1Char('\n'));
    if (lines.size() > MaxLines) {
        const QString last = lines.last();
        lines.erase(lines.begin() + MaxLines - 2, lines.end());
        lines << QString(QChar(0x2026)) << last;
    }
    for (QString& line : lines) {
        if (line.size() > MaxLineLength) {
            // Never between the two halves of a surrogate pair.
            qsizetype head = MaxLineLength / 2;
            if (line.at(head).isLowSurrogate())
                --head;
            qsizetype tail = line.size() - MaxLineLength / 2;
            if (line.at(tail).isLowSurrogate())
                ++tail;
            line = line.left(head) + QChar(0x2026) + line.mid(tail);
        }
        line = metrics.elidedText(line, Qt::ElideMiddle, 2 * room);
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace

DMessageBox::DMessageBox(QWidget* parent, const QString& title, const QString& text)
    : QDialog(parent)
    , ui(new Ui::DMessageBox)
{
    setProperty("style", QStringLiteral("dialog"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    ui->setupUi(this);
    ui->wgtTitle->setTitle(title);
    // The text is shown as it is, never taken for markup: names and server messages land here.
    ui->tlText->setTextFormat(Qt::PlainText);
    ui->tlText->ensurePolished();
    const QScreen* shownOn = parent ? parent->screen() : screen();
    // The screen less the box's margins; a line wider than that wraps.
    const int room = shownOn ? shownOn->availableGeometry().width() - 100 : 700;
    ui->tlText->setText(fitted(text, ui->tlText->fontMetrics(), room));
    if (ui->tlText->sizeHint().width() > room) {
        ui->tlText->setWordWrap(true);
        ui->tlText->setFixedWidth(room);
    }
    // The form's size is the least the box takes: a message of several lines makes it taller.
    const int width = qMax(this->width(), sizeHint().width());
    const int height = layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(width) : sizeHint().height();
    resize(width, qMax(this->height(), height));
}

DMessageBox::~DMessageBox()
{
    delete ui;
}

void DMessageBox::setStandardButtons(QDialogButtonBox::StandardButtons buttons)
{
    ui->dbbButtons->setStandardButtons(buttons);
}

void DMessageBox::setButtonText(QDialogButtonBox::StandardButton which, const QString& text)
{
    if (QPushButton* button = ui->dbbButtons->button(which))
        button->setText(text);
}

QPushButton* DMessageBox::addButton(QDialogButtonBox::StandardButton which)
{
    return ui->dbbButtons->addButton(which);
}

int DMessageBox::error(QWidget* parent, const QString& text)
{
    return information(parent, tr("错误"), text);
}

int DMessageBox::question(QWidget* parent, const QString& title, const QString& text)
{
    DMessageBox box(parent, title, text);
    box.setStandardButtons(QDialogButtonBox::Yes | QDialogButtonBox::No);
    box.setButtonText(QDialogButtonBox::Yes, tr("是"));
    box.setButtonText(QDialogButtonBox::No, tr("否"));
    return box.exec();
}

int DMessageBox::information(QWidget* parent, const QString& title, const QString& text)
{
    DMessageBox box(parent, title, text);
    box.setStandardButtons(QDialogButtonBox::Ok);
    box.setButtonText(QDialogButtonBox::Ok, tr("确定"));
    return box.exec();
}

void DMessageBox::paintEvent(QPaintEvent*)
{
    paintStyledBackground(this);
}
