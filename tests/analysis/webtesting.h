#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <memory>

class ReportView;

// Asking a page shown in a web view what its scripts drew.
namespace WebTesting {

// Runs script in the view's page and gives its result; an invalid value when no answer came
// within timeoutMs.
QVariant evaluate(ReportView* view, const QString& script, int timeoutMs = 30000);
// Asks condition again until it yields true; false when timeoutMs passed first.
bool waitUntil(ReportView* view, const QString& condition, int timeoutMs = 90000);
// True once the chart page's chart is drawn (or the report page is loaded) and painted.
bool waitForChart(ReportView* view);
bool waitForReport(ReportView* view);

// Collects the console messages of the view's page; errors() lists the errors seen so far.
class Console {
public:
    explicit Console(ReportView* view);
    QStringList errors() const;
    QStringList all() const;

private:
    struct Messages;
    std::shared_ptr<Messages> messages;
};

} // namespace WebTesting
