#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

// What a modal message box showed before it was closed.
struct SeenMessageBox {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;
    Qt::TextFormat format = Qt::AutoText;
    QString defaultButton;
    QString details;
};

// Watches from a timer for the next modal message box, records it and clicks its first
// button, or the one whose text is answer, or with answer "Escape" presses Escape, so that a
// handler that shows one can run to its end inside a test.
class MessageBoxCatcher : public QObject {
public:
    explicit MessageBoxCatcher(QString answer = {}) : m_answer(std::move(answer))
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
        SeenMessageBox seen{
            box->windowTitle(), box->text(),
            box->icon(),        {},
            box->textFormat(),  box->defaultButton() ? box->defaultButton()->text() : QString(),
            box->detailedText()};
        QAbstractButton* answer = box->buttons().first();
        for (QAbstractButton* button : box->buttons()) {
            seen.buttons << button->text();
            if (button->text() == m_answer)
                answer = button;
        }
        m_seen << seen;
        if (m_answer == u"Escape")
            QTest::keyClick(box, Qt::Key_Escape);
        else
            answer->click();
    }

    QString m_answer;
    QTimer m_timer;
    QList<SeenMessageBox> m_seen;
};
