#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

// What a modal message box showed before it was closed.
struct SeenMessageBox {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;
    Qt::TextFormat format = Qt::AutoText;
};

// Watches from a timer for the next modal message box, records it and clicks its first
// button, so that a handler that shows one can run to its end inside a test.
class MessageBoxCatcher : public QObject {
public:
    MessageBoxCatcher()
    {
        connect(&m_timer, &QTimer::timeout, this, &MessageBoxCatcher::look);
        m_timer.start(10);
    }

    const QList<SeenMessageBox>& seen() const { return m_seen; }

private:
    void look()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        SeenMessageBox seen{box->windowTitle(), box->text(), box->icon(), {}, box->textFormat()};
        for (QAbstractButton* button : box->buttons())
            seen.buttons << button->text();
        m_seen << seen;
        box->buttons().first()->click();
    }

    QTimer m_timer;
    QList<SeenMessageBox> m_seen;
};
