#include "ui/frmQuorvexConfigCreator.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("quorvex-config-creator"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/quorvex-config-creator-48.png")));
    frmQuorvexConfigCreator window;
    window.show();
    return app.exec();
}
