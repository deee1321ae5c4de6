#include "webtesting.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <memory>

#include "analysis/reportview.h"

namespace WebTesting {

QVariant evaluate(ReportView* view, const QString& script, int timeoutMs)
{
    struct Answer {
        QVariant value;
        bool done = false;
        QEventLoop loop;
    };
    auto answer = std::make_shared<Answer>();
    view->runJavaScript(script, [answer](const QVariant& value) {
        answer->value = value;
        answer->done = true;
        answer->loop.quit();
    });
    if (!answer->done) {
        QTimer::singleShot(timeoutMs, &answer->loop, &QEventLoop::quit);
        answer->loop.exec();
    }
    return answer->done ? answer->value : QVariant();
}

bool waitUntil(ReportView* view, const QString& condition, int timeoutMs)
{
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < timeoutMs) {
        if (evaluate(view, condition, timeoutMs).toBool())
            return true;
        QTest::qWait(50);
    }
    return false;
}

bool waitForChart(ReportView* view)
{
    // Two animation frames after drawing, so that what was drawn is also painted.
    return waitUntil(view, "typeof chart !== 'undefined' && chart.drawn === true")
        && evaluate(view,
            "window.qvPainted = false; requestAnimationFrame(function() { "
            "requestAnimationFrame(function() { window.qvPainted = true; }); }); true")
               .toBool()
        && waitUntil(view, "window.qvPainted === true");
}

bool waitForReport(ReportView* view)
{
    return waitUntil(view, "document.readyState === 'complete' && document.querySelector('table') !== null");
}

struct Console::Messages {
    QStringList errors;
    QStringList all;
};

Console::Console(ReportView* view)
    : messages(std::make_shared<Messages>())
{
    std::shared_ptr<Messages> target = messages;
    view->setConsoleHandler(
        [target](ReportView::MessageLevel level, const QString& message, int line, const QString& source) {
            const QString text = QStringLiteral("%1:%2: %3").arg(source, QString::number(line), message);
            target->all << text;
            if (level == ReportView::MessageLevel::Error)
                target->errors << text;
        });
}

QStringList Console::errors() const
{
    return messages->errors;
}

QStringList Console::all() const
{
    return messages->all;
}

} // namespace WebTesting
