// Starts a window the way the program does, then prints "shown <resident KiB>" once the
// window is first exposed and quits. Built three times: with the tool's window and, for
// comparison, with a bare QWidget and with a QWidget showing one line of text, which
// like the tool pays for starting the font system.
#include <QApplication>
#include <QFile>
#include <QWindow>
#include <cstdio>

#if defined(PROBE_TOOL_WINDOW)
#include "ui/frmQuorvexConfigCreator.h"
using Window = frmQuorvexConfigCreator;
#elif defined(PROBE_PLAIN_WINDOW)
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
// The floor: the same thirty controls, written plainly in stock Qt, placed in pixels.
class Window : public QWidget {
    struct Placed {
        const char* text;
        QRect place;
    };

public:
    Window()
    {
        setWindowTitle(QStringLiteral("Quorvex Server Config Creator"));
        setFixedSize(449, 506);
        const Placed boxes[] = {{"", {104, 8, 337, 19}},
                                {"16", {104, 112, 337, 19}},
                                {"30", {104, 136, 337, 19}},
                                {"", {120, 176, 321, 19}},
                                {"0", {104, 208, 337, 19}},
                                {"", {104, 248, 337, 19}},
                                {"", {104, 288, 337, 19}},
                                {"", {104, 328, 337, 19}},
                                {"0", {104, 368, 337, 19}},
                                {"quorvexmap1", {168, 392, 273, 19}},
                                {"Q3 DIR HERE", {8, 456, 433, 19}},
                                {"CONFIG OUTPUT (EXAMPLE: C:\\MYCONF.CFG)", {8, 480, 433, 19}}};
        for (const auto& box : boxes)
            (new QLineEdit(QString::fromLatin1(box.text), this))->setGeometry(box.place);
        auto* motd = new QPlainTextEdit(this);
        motd->setLineWrapMode(QPlainTextEdit::NoWrap);
        motd->setGeometry(104, 32, 337, 73);
        const Placed labels[] = {
            {"Server Name:", {8, 8, 65, 13}},
            {"Server Description:", {8, 32, 90, 13}},
            {"(Message of the Day)", {8, 48, 89, 33}},
            {"Maximum Clients:", {8, 112, 81, 13}},
            {"Time Limit in\nminutes:", {8, 136, 89, 29}},
            {"Connection password:", {8, 176, 105, 13}},
            {"Reserved Client\nSpaces (only with\npassword):", {8, 200, 89, 41}},
            {"Reserved Client\nPassword:", {8, 248, 81, 25}},
            {"Administrator\nPassword:", {8, 288, 73, 25}},
            {"Remote Console\nPassword:", {8, 328, 89, 25}},
            {"Server\nRegion/Location:", {8, 368, 89, 33}},
            {"Initial Map:", {112, 392, 51, 13}}};
        for (const auto& label : labels)
            (new QLabel(QString::fromLatin1(label.text), this))->setGeometry(label.place);
        const struct {
            const char* text;
            QRect place;
            QColor fill;
        } buttons[] = {{"Click here for\nRegion Numbers", {8, 408, 97, 41}, {255, 128, 128}},
                       {"Create Config", {112, 416, 97, 33}, {192, 192, 0}},
                       {"Run Config", {216, 416, 81, 33}, {192, 0, 192}}};
        for (const auto& button : buttons) {
            auto* push = new QPushButton(QString::fromLatin1(button.text), this);
            push->setGeometry(button.place);
            QPalette palette = push->palette();
            palette.setColor(QPalette::Button, button.fill);
            push->setPalette(palette);
        }
        auto* across = new QFrame(this);
        across->setFrameShape(QFrame::HLine);
        across->setGeometry(312, 432, 105, 1);
        auto* up = new QFrame(this);
        up->setFrameShape(QFrame::VLine);
        up->setGeometry(416, 416, 1, 17);
    }
};
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
    Window::identifyProgram();
#endif
    Window window;
    window.show();
    return app.exec();
}
