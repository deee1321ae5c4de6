#pragma once

#include <QString>
#include <QVariant>
#include <functional>

class QPrinter;
class QWidget;

// What an analysis page needs of the web view that shows its charts and reports. The view is made
// by a module of its own, the only part of the program that links the web engine; it is loaded
// the first time a page shows a chart or a report (ReportViewLoader), so that starting the program
// costs nothing of the engine. The interface is plain C++ so that the module and the program share
// no Qt meta-object.
class ReportView {
public:
    virtual ~ReportView() = default;

    // The view as a widget; deleting the widget deletes the view.
    virtual QWidget* widget() = 0;
    // Shows html with an empty base address; the pages' scripts come from qrc: addresses.
    virtual void setHtml(const QString& html) = 0;
    // Prints the shown document on printer, which must live until done(ok) has run.
    virtual void print(QPrinter* printer, std::function<void(bool ok)> done) = 0;
    // Runs script in the shown page; done gets its result.
    virtual void runJavaScript(const QString& script, std::function<void(const QVariant& result)> done) = 0;

    enum class MessageLevel { Info, Warning, Error };
    using ConsoleHandler
        = std::function<void(MessageLevel level, const QString& message, int line, const QString& source)>;
    // Receives the messages of the page's scripts; without one, warnings and errors go to the log.
    virtual void setConsoleHandler(ConsoleHandler handler) = 0;
};

// The module's entry point, looked up by this name; the version guards against a module of
// another build.
#define QUORVANE_REPORTVIEW_FACTORY "quorvaneCreateReportView"
#define QUORVANE_REPORTVIEW_VERSION "quorvaneReportViewVersion"
constexpr int ReportViewInterfaceVersion = 1;
using ReportViewFactory = ReportView* (*)(QWidget* parent);
using ReportViewVersion = int (*)();
