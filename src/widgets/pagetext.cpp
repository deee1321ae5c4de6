#include "widgets/pagetext.h"

#include <QLabel>
#include <QRadioButton>
#include <QStyle>

void markPageText(QWidget* page)
{
    const QWidget* window = page->window();
    const auto children = page->findChildren<QWidget*>();
    for (QWidget* child : children) {
        if (!qobject_cast<QLabel*>(child) && !qobject_cast<QRadioButton*>(child))
            continue;
        if (child->window() != window || child->property("pageText").toBool())
            continue;
        child->setProperty("pageText", true);
        if (child->testAttribute(Qt::WA_WState_Polished)) {
            child->style()->unpolish(child);
            child->style()->polish(child);
        }
    }
}
