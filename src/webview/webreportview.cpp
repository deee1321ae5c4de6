// The web view module: the one part of the program that links the web engine. The program loads
// it the first time an analysis page shows a chart or a report (analysis/reportviewloader.h).
#include <QLoggingCategory>
#include <QOpenGLContext>
#include <QPrinter>
#include <QQuickWindow>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <memory>
#include <unistd.h>

#include "analysis/reportview.h"

namespace {

Q_LOGGING_CATEGORY(lcChart, "quorvane.chart")

// A page that hands its scripts' console messages on.
class ConsolePage : public QWebEnginePage {
public:
    using QWebEnginePage::QWebEnginePage;

    ReportView::ConsoleHandler handler;

protected:
    void javaScriptConsoleMessage(
        JavaScriptConsoleMessageLevel level, const QString& message, int line, const QString& source) override
    {
        const ReportView::MessageLevel ours = level == ErrorMessageLevel ? ReportView::MessageLevel::Error
            : level == WarningMessageLevel                               ? ReportView::MessageLevel::Warning
                                                                         : ReportView::MessageLevel::Info;
        if (handler)
            handler(ours, message, line, source);
        else if (ours != ReportView::MessageLevel::Info)
            qCWarning(lcChart) << source << line << message;
    }
};

class WebReportView final : public QWebEngineView, public ReportView {
public:
    explicit WebReportView(QWidget* parent)
        : QWebEngineView(parent)
        , consolePage(new ConsolePage(this))
    {
        setPage(consolePage);
        // Back, reload or "view source" have no meaning for a page made from a template.
        setContextMenuPolicy(Qt::NoContextMenu);
    }

    QWidget* widget() override { return this; }

    void setHtml(const QString& html) override { QWebEngineView::setHtml(html, QUrl()); }

    void print(QPrinter* printer, std::function<void(bool ok)> done) override
    {
        auto connection = std::make_shared<QMetaObject::Connection>();
        // The view prints pages as pictures; a PDF file is written by the engine itself instead, so
        // that its text stays text (it can be searched and copied).
        if (printer->outputFormat() == QPrinter::PdfFormat && !printer->outputFileName().isEmpty()) {
            *connection = connect(
                page(), &QWebEnginePage::pdfPrintingFinished, this, [connection, done](const QString&, bool ok) {
                    QObject::disconnect(*connection);
                    done(ok);
                });
            page()->printToPdf(printer->outputFileName(), printer->pageLayout());
            return;
        }
        *connection = connect(this, &QWebEngineView::printFinished, this, [connection, done](bool ok) {
            QObject::disconnect(*connection);
            done(ok);
        });
        QWebEngineView::print(printer);
    }

    void runJavaScript(const QString& script, std::function<void(const QVariant& result)> done) override
    {
        page()->runJavaScript(script, [done](const QVariant& result) { done(result); });
    }

    void setConsoleHandler(ConsoleHandler handler) override { consolePage->handler = std::move(handler); }

private:
    ConsolePage* consolePage;
};

} // namespace

extern "C" Q_DECL_EXPORT int quorvaneReportViewVersion()
{
    return ReportViewInterfaceVersion;
}

namespace {

QLoggingCategory::CategoryFilter previousFilter = nullptr;
QtMessageHandler previousHandler = nullptr;

// The engine describes its set-up at every start as an info line; a user's terminal stays quiet.
void quietEngineContext(QLoggingCategory* category)
{
    if (previousFilter)
        previousFilter(category);
    if (qstrcmp(category->categoryName(), "qt.webenginecontext") == 0)
        category->setEnabled(QtInfoMsg, false);
}

// Two notices the engine prints as it starts the way this module starts it (in software; without
// the sandbox for the superuser): both are the intended set-up, not news for the user's terminal.
void quietEngineNotices(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message == QLatin1String("Sandboxing disabled by user.")
        || message.startsWith(QLatin1String("No suitable graphics backend found")))
        return;
    if (previousHandler)
        previousHandler(type, context, message);
    else
        qt_message_output(type, context, message);
}

} // namespace

extern "C" Q_DECL_EXPORT ReportView* quorvaneCreateReportView(QWidget* parent)
{
    static bool first = true;
    if (!first)
        return new WebReportView(parent);
    first = false;
    // Without a working shared OpenGL context (the program switches it off, see the loader) the
    // engine draws in software, and the Qt Quick scene that shows its pages must do so too.
    const QOpenGLContext* shared = QOpenGLContext::globalShareContext();
    if (!shared || !shared->isValid())
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    // Every page shown is the program's own: one renderer process serves all the views, instead
    // of one more (some 90 MB) for each analysis page. The engine reads its flags when the first
    // view starts it; programs started later from this one do not inherit the addition.
    if (!qEnvironmentVariableIsSet("QT_LOGGING_RULES")) {
        previousFilter = QLoggingCategory::installFilter(quietEngineContext);
        previousHandler = qInstallMessageHandler(quietEngineNotices);
    }
    // Chromium refuses to start its sandbox for the superuser and ends the whole program instead;
    // the pages are the program's own, built from its resources, so run them without it then.
    const char* const sandboxVariable = "QTWEBENGINE_DISABLE_SANDBOX";
    const bool sandboxOff = ::geteuid() == 0 && !qEnvironmentVariableIsSet(sandboxVariable);
    if (sandboxOff)
        qputenv(sandboxVariable, "1");
    const char* const flagsVariable = "QTWEBENGINE_CHROMIUM_FLAGS";
    const bool hadFlags = qEnvironmentVariableIsSet(flagsVariable);
    const QByteArray flags = qgetenv(flagsVariable);
    QByteArray added;
    if (!flags.contains("--renderer-process-limit"))
        added += " --renderer-process-limit=1";
    // The zygote exists to start sandboxed renderers; without the sandbox the one renderer is
    // started directly, and the two zygote processes (some 17 MB between them) are not needed.
    const bool unsandboxed = qEnvironmentVariableIntValue(sandboxVariable) != 0 || flags.contains("--no-sandbox");
    if (unsandboxed && !flags.contains("--no-zygote") && !flags.contains("--single-process"))
        added += " --no-zygote --no-sandbox";
    if (!added.isEmpty())
        qputenv(flagsVariable, (flags + added).trimmed());
    auto* view = new WebReportView(parent);
    if (hadFlags)
        qputenv(flagsVariable, flags);
    else
        qunsetenv(flagsVariable);
    if (sandboxOff)
        qunsetenv(sandboxVariable);
    return view;
}
