#include "analysis/reportviewloader.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>

#include "analysis/reportview.h"
#include "data/constants.h"

namespace ReportViewLoader {

namespace {

const char* const GlSwitch = "QT_XCB_GL_INTEGRATION";
bool glSwitchSet = false;
QtMessageHandler previousHandler = nullptr;

// With the GL switch off, X11 says once, while the application object makes its shared context,
// that it cannot make one: that is the point of the switch, not news for the user's terminal.
void quietGlNotice(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtWarningMsg && message.startsWith(QLatin1String("QXcbIntegration: Cannot create platform OpenGL context")))
        return;
    if (previousHandler)
        previousHandler(type, context, message);
    else
        qt_message_output(type, context, message);
}

struct Module {
    QLibrary library;
    ReportViewFactory factory = nullptr;
    QString error;
    bool tried = false;
};

Module& module()
{
    static Module module;
    return module;
}

// Where the module may lie: installed, in the program's library folder; run from a build tree,
// beside the executable or in the build folder (the tests and benchmarks run from below it).
QStringList candidates()
{
    const QString name = QStringLiteral(QUORVANE_REPORTVIEW_MODULE);
    const QString appDir = QCoreApplication::applicationDirPath();
    if (Constants::programRoots().installed)
        return { QStringLiteral(QUORVANE_REPORTVIEW_INSTALL_DIR) + QLatin1Char('/') + name };
    return { appDir + QLatin1Char('/') + name,
        QStringLiteral(QUORVANE_REPORTVIEW_BUILD_DIR) + QLatin1Char('/') + name };
}

bool load(Module* m)
{
    m->tried = true;
    QStringList tried;
    for (const QString& path : candidates()) {
        if (!QFileInfo::exists(path)) {
            tried << path;
            continue;
        }
        m->library.setFileName(path);
        if (!m->library.load()) {
            m->error = m->library.errorString();
            return false;
        }
        const auto version = reinterpret_cast<ReportViewVersion>(m->library.resolve(QUORVANE_REPORTVIEW_VERSION));
        m->factory = reinterpret_cast<ReportViewFactory>(m->library.resolve(QUORVANE_REPORTVIEW_FACTORY));
        if (!version || !m->factory || version() != ReportViewInterfaceVersion) {
            m->factory = nullptr;
            m->error = QCoreApplication::translate("ReportViewLoader", "图表组件 %1 与本程序的版本不符。").arg(path);
            return false;
        }
        return true;
    }
    m->error = QCoreApplication::translate("ReportViewLoader", "找不到图表组件（%1）。")
                   .arg(tried.join(QStringLiteral("、")));
    return false;
}

} // namespace

void prepareApplication()
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    if (!qEnvironmentVariableIsSet(GlSwitch)) {
        qputenv(GlSwitch, "none");
        glSwitchSet = true;
        previousHandler = qInstallMessageHandler(quietGlNotice);
    }
}

void applicationCreated()
{
    if (glSwitchSet) {
        qunsetenv(GlSwitch);
        glSwitchSet = false;
        qInstallMessageHandler(previousHandler);
        previousHandler = nullptr;
    }
}

ReportView* create(QWidget* parent, QString* error)
{
    // Without shared contexts the web engine cannot start inside this process and would take it down.
    if (!QCoreApplication::testAttribute(Qt::AA_ShareOpenGLContexts)) {
        if (error)
            *error = QCoreApplication::translate("ReportViewLoader", "程序启动时没有为图表组件做好准备。");
        return nullptr;
    }
    Module& m = module();
    if (!m.tried)
        load(&m);
    if (!m.factory) {
        if (error)
            *error = m.error;
        return nullptr;
    }
    return m.factory(parent);
}

bool isLoaded()
{
    return module().factory != nullptr;
}

} // namespace ReportViewLoader
