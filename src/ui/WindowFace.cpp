// The program's window face, in a module of its own that the program loads only to show the
// window, so that the command line starts without Qt's GUI libraries.
#include "WindowFace.h"

#include "frmQuorvexConfigCreator.h"

#include <QApplication>

#ifdef Q_OS_WIN
#include <windows.h>

// Under Wine, the GDI font engine gives glyph boxes four times a line's height, and a
// QLineEdit, which centres its text by them, draws it out of sight. FreeType measures them
// right, so the program uses it there unless told which platform to use.
static void chooseFontEngine()
{
    const bool underWine =
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    if (underWine && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "windows:fontengine=freetype");
}
#endif

int runWindow(int argc, char* argv[])
{
#ifdef Q_OS_WIN
    chooseFontEngine();
#endif
    QApplication app(argc, argv);
    frmQuorvexConfigCreator::identifyProgram();
    frmQuorvexConfigCreator window;
    window.show();
    if (argc == 2)
        window.openScript(QApplication::arguments().at(1));
    return app.exec();
}
