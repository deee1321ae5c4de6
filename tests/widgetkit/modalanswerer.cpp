#include "modalanswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

namespace {
QString plainText(QString text)
{
    return text.remove(QLatin1Char('&'));
}
}

ModalAnswerer::ModalAnswerer(QObject* parent)
    : QObject(parent)
    , timer(new QTimer(this))
{
    timer->setInterval(10);
    connect(timer, &QTimer::timeout, this, &ModalAnswerer::poll);
    timer->start();
}

ModalAnswerer::~ModalAnswerer()
{
    timer->stop();
    if (!checked && (!pending.isEmpty() || !unexpectedBoxes.isEmpty()))
        QTest::qFail(qPrintable(report()), __FILE__, __LINE__);
}

ModalAnswerer& ModalAnswerer::expect(const QString& title, const QString& text, const QString& buttonText)
{
    return expect(box(title, text), press(buttonText),
        QStringLiteral("%1 | %2 → %3").arg(title, text.isNull() ? QStringLiteral("*") : text, buttonText));
}

ModalAnswerer& ModalAnswerer::expect(const Matcher& matcher, const Answer& answer, const QString& description)
{
    pending.append({ matcher, answer, description.isEmpty() ? QStringLiteral("a modal widget") : description });
    checked = false;
    return *this;
}

ModalAnswerer& ModalAnswerer::leave(const Matcher& matcher)
{
    leftAlone.append(matcher);
    return *this;
}

ModalAnswerer::Matcher ModalAnswerer::titled(const QString& title)
{
    return [title](QWidget* modal) { return titleOf(modal) == title; };
}

ModalAnswerer::Matcher ModalAnswerer::box(const QString& title, const QString& text)
{
    return
        [title, text](QWidget* modal) { return titleOf(modal) == title && (text.isNull() || textOf(modal) == text); };
}

ModalAnswerer::Matcher ModalAnswerer::ofClass(const char* className)
{
    const QByteArray name(className);
    return [name](QWidget* modal) { return modal->inherits(name.constData()); };
}

ModalAnswerer::Answer ModalAnswerer::press(const QString& buttonText)
{
    return [buttonText](QWidget* modal) {
        const auto buttons = modal->findChildren<QAbstractButton*>();
        for (QAbstractButton* button : buttons) {
            if (button->isVisible() && plainText(button->text()) == buttonText) {
                button->click();
                return;
            }
        }
        qWarning("ModalAnswerer: no button \"%s\" in %s; dismissing it", qPrintable(buttonText),
            qPrintable(describe(modal)));
        modal->close();
    };
}

ModalAnswerer::Answer ModalAnswerer::escape()
{
    return [](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); };
}

ModalAnswerer::Answer ModalAnswerer::closeStrip()
{
    return [](QWidget* modal) {
        auto* close = modal->findChild<QAbstractButton*>(QStringLiteral("pbClose"));
        if (close)
            close->click();
        else
            modal->close();
    };
}

ModalAnswerer::Answer ModalAnswerer::closeWindow()
{
    return [](QWidget* modal) { modal->close(); };
}

ModalAnswerer::Answer ModalAnswerer::named(const QString& how)
{
    if (how == QLatin1String("escape"))
        return escape();
    if (how == QLatin1String("return"))
        return [](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Return); };
    if (how == QLatin1String("strip"))
        return closeStrip();
    if (how == QLatin1String("window"))
        return closeWindow();
    return press(how);
}

QString ModalAnswerer::titleOf(QWidget* modal)
{
    if (auto* title = modal->findChild<QLabel*>(QStringLiteral("tlTitle")))
        return title->text();
    return modal->windowTitle();
}

QString ModalAnswerer::textOf(QWidget* modal)
{
    if (auto* box = qobject_cast<QMessageBox*>(modal))
        return box->text();
    if (auto* text = modal->findChild<QLabel*>(QStringLiteral("tlText")))
        return text->text();
    return QString();
}

QStringList ModalAnswerer::buttonTextsOf(QWidget* modal)
{
    QStringList texts;
    const auto buttons = modal->findChildren<QAbstractButton*>();
    for (QAbstractButton* button : buttons) {
        if (button->isVisible() && !button->text().isEmpty())
            texts << plainText(button->text());
    }
    return texts;
}

bool ModalAnswerer::waitAnswered(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!pending.isEmpty() && !deadline.hasExpired())
        QTest::qWait(10);
    return pending.isEmpty();
}

bool ModalAnswerer::answeredAll()
{
    checked = true;
    return pending.isEmpty() && unexpectedBoxes.isEmpty();
}

QString ModalAnswerer::report() const
{
    QStringList lines;
    for (const Expectation& expectation : pending)
        lines << QStringLiteral("expected but never shown: ") + expectation.description;
    for (const QString& box : unexpectedBoxes)
        lines << QStringLiteral("unexpected: ") + box;
    return lines.join(QLatin1Char('\n'));
}

QString ModalAnswerer::describe(QWidget* modal)
{
    return QStringLiteral("%1 \"%2 | %3\"")
        .arg(QString::fromLatin1(modal->metaObject()->className()), titleOf(modal), textOf(modal));
}

void ModalAnswerer::poll()
{
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible())
        return;
    for (const QPointer<QWidget>& done : std::as_const(handled)) {
        if (done == modal)
            return;
    }
    handled.append(modal);
    seenBoxes << titleOf(modal) + QStringLiteral(" | ") + textOf(modal);
    for (const Matcher& matcher : std::as_const(leftAlone)) {
        if (matcher(modal))
            return;
    }

    if (!pending.isEmpty() && pending.first().matcher(modal)) {
        const Answer answer = pending.takeFirst().answer;
        // Answered from the box's own event loop, not from inside this timer slot, so that a
        // box opened by the answer is seen by the next poll.
        QTimer::singleShot(0, modal, [modal, answer] { answer(modal); });
        return;
    }

    unexpectedBoxes << describe(modal);
    QTimer::singleShot(0, modal, [modal] {
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
    });
}
