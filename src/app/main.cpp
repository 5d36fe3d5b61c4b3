#include "ui/frmQuorvexConfigCreator.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    frmQuorvexConfigCreator::identifyProgram();
    frmQuorvexConfigCreator window;
    window.show();
    return app.exec();
}
