#pragma once

#include <QString>

class QWidget;
class ReportView;

// Loads the web view module on first use and makes its views.
//
// The web engine needs shared OpenGL contexts, which must be asked for before the application
// object exists; Qt then makes a shared context at once, and on X11 that maps the whole OpenGL
// stack (tens of megabytes) at every start, chart or not. So the program asks for the shared
// contexts with the X11 OpenGL layer switched off while the application object is made: the
// shared context stays empty, nothing is mapped, and the web engine draws its pages in software.
// A user who wants the GPU for the charts sets QT_XCB_GL_INTEGRATION (e.g. "xcb_glx") and pays
// for it at start-up.
namespace ReportViewLoader {

// Call before the application object is made, then applicationCreated() right after it, so that
// programs started from this one do not inherit the switch.
void prepareApplication();
void applicationCreated();

// A new view, child of parent; null when the web engine cannot be used here, with the reason in
// *error.
ReportView* create(QWidget* parent, QString* error);
// True once the module is loaded into this process.
bool isLoaded();

} // namespace ReportViewLoader
