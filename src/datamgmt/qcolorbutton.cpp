#include "datamgmt/qcolorbutton.h"

#include <QColorDialog>
#include <QIcon>
#include <QPixmap>

QColorButton::QColorButton(QWidget* parent)
    : QPushButton(parent)
{
    connect(this, &QPushButton::clicked, this, &QColorButton::slotChangeColor);
    setColor(QColor(QStringLiteral("#ffffff")));
}

void QColorButton::setColor(const QColor& newColor)
{
    if (newColor == currentColor)
        return;
    currentColor = newColor;
    if (showName)
        setButtonText(currentColor.name());
    if (showToolTip)
        setToolTip(currentColor.name());
    QPixmap swatch(16, 16);
    swatch.fill(currentColor);
    setIcon(QIcon(swatch));
}

void QColorButton::setText(const QString& text)
{
    if (text == ownText)
        return;
    ownText = text;
    QPushButton::setText(text);
}

void QColorButton::setButtonText(const QString& text)
{
    if (text == QPushButton::text())
        return;
    QPushButton::setText(text);
}

void QColorButton::setShowName(bool on)
{
    if (on == showName)
        return;
    showName = on;
    if (showName)
        setButtonText(currentColor.name());
    else
        setButtonText(ownText);
}

void QColorButton::setShowToolTip(bool on)
{
    if (on == showToolTip)
        return;
    showToolTip = on;
    setToolTip(showToolTip ? currentColor.name() : QString());
}

void QColorButton::slotChangeColor()
{
    const QColor chosen = QColorDialog::getColor(currentColor, this);
    // Cancelled: the colour stays, and the receivers after this one read it unchanged.
    if (chosen.isValid())
        setColor(chosen);
}
