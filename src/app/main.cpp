#include "ui/frmQuorvexConfigCreator.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("com.veldorique.QuorvexConfigCreator"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/quorvex-config-creator-48.png")));
    frmQuorvexConfigCreator window;
    window.show();
    return app.exec();
}
