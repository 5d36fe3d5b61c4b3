// Starts a window the way the program does, then prints "shown <resident KiB>" once the
// window is first exposed and quits. Built three times: with the tool's window and, for
// comparison, with a bare QWidget and with a QWidget showing one line of text, which
// like the tool pays for starting the font system.
#include <QApplication>
#include <QFile>
#include <QIcon>
#include <QWindow>
#include <cstdio>

#if defined(PROBE_TOOL_WINDOW)
#include "ui/frmQuorvexConfigCreator.h"
using Window = frmQuorvexConfigCreator;
#elif defined(PROBE_TEXT_WINDOW)
#include <QLabel>
class Window : public QWidget {
    QLabel m_label{QStringLiteral("Quorvex Server Config Creator"), this};
};
#else
#include <QWidget>
using Window = QWidget;
#endif

namespace {

long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

class FirstExpose : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        const auto* window = qobject_cast<QWindow*>(watched);
        if (event->type() == QEvent::Expose && window && window->isExposed()) {
            std::printf("shown %ld\n", residentKiB());
            std::fflush(stdout);
            QCoreApplication::exit(0);
        }
        return false;
    }
};

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    FirstExpose firstExpose;
    app.installEventFilter(&firstExpose);
#ifdef PROBE_TOOL_WINDOW
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/quorvex-config-creator-48.png")));
#endif
    Window window;
    window.show();
    return app.exec();
}
