#include "MapCompleter.h"

#include "config/ServerSettings.h"
#include "gametree/GameTree.h"
#include "launch/LaunchPlan.h"
#include "servers/ServerProcess.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPointer>
#include <QThreadPool>

namespace {

constexpr int kSettleMs = 300;

} // namespace

MapCompleter::MapCompleter(QLineEdit* gameDir, QLineEdit* map)
    : QCompleter(map), m_gameDir(gameDir), m_maps(new QStringListModel(this))
{
    setModel(m_maps);
    setCaseSensitivity(Qt::CaseInsensitive);
    setCompletionMode(QCompleter::PopupCompletion);
    map->setCompleter(this);
    m_settle.setSingleShot(true);
    m_settle.setInterval(kSettleMs);
    connect(&m_settle, &QTimer::timeout, this, &MapCompleter::read);
    connect(gameDir, &QLineEdit::textChanged, &m_settle, qOverload<>(&QTimer::start));
    // After the box has offered the list for the text: a name in full needs none.
    connect(
        map, &QLineEdit::textEdited, this,
        [this](const QString& text) {
            if (maps().contains(text, Qt::CaseInsensitive))
                m_popup->hide();
        },
        Qt::QueuedConnection);
    m_popup = popup();
    QTimer::singleShot(0, this, &MapCompleter::read);
}

bool MapCompleter::eventFilter(QObject* watched, QEvent* event)
{
    // The pop-up is made once, in the constructor: asking for it here would make it again.
    if (!m_popup)
        return QCompleter::eventFilter(watched, event);
    if (watched == widget() && event->type() == QEvent::FocusOut &&
        static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason)
        m_popup->hide();
    // The pop-up holds the mouse while it shows, so a click outside it would only close it:
    // the whole click is passed on to what lies under it, as though the list had not been
    // there. The button's own release then reaches the closed pop-up, or nothing pressed.
    if (watched == m_popup && event->type() == QEvent::MouseButtonPress && m_popup->isVisible() &&
        !m_popup->rect().contains(
            m_popup->mapFromGlobal(static_cast<QMouseEvent*>(event)->globalPosition().toPoint()))) {
        const auto* click = static_cast<QMouseEvent*>(event);
        const QPointF global = click->globalPosition();
        m_popup->hide();
        if (QPointer<QWidget> target = QApplication::widgetAt(global.toPoint())) {
            // A click gives the focus, as the system's own does, to what takes it by a click.
            QWidget* focus = target;
            while (focus && !(focus->focusPolicy() & Qt::ClickFocus) && !focus->isWindow())
                focus = focus->parentWidget();
            if (focus && focus->focusPolicy() & Qt::ClickFocus)
                focus->setFocus(Qt::MouseFocusReason);
            const QPointF local = target->mapFromGlobal(global);
            QMouseEvent press(QEvent::MouseButtonPress, local, global, click->button(),
                              click->buttons(), click->modifiers());
            QApplication::sendEvent(target, &press);
            QMouseEvent release(QEvent::MouseButtonRelease, local, global, click->button(),
                                Qt::NoButton, click->modifiers());
            if (target)
                QApplication::sendEvent(target, &release);
        }
        return true;
    }
    return QCompleter::eventFilter(watched, event);
}

void MapCompleter::read()
{
    const QString typed = m_gameDir->text();
    const quint64 read = ++m_reads;
    if (!isTypedPath(typed, kGameDirPlaceholder)) {
        m_maps->setStringList({});
        return emit mapsRead();
    }
    // The game directory as Run Config takes it, against the current directory now.
    const QString gameDir = absoluteGameDir(typed, nativePathStyle());
    QThreadPool::globalInstance()->start([gameDir, read, self = QPointer(this)] {
        QStringList names;
        for (const GameTree::Map& map :
             GameTree(gameDir, engineHomePath().value_or(QString())).maps())
            names << map.name;
        QMetaObject::invokeMethod(
            qApp,
            [names, read, self] {
                if (self && read == self->m_reads) {
                    // The pop-up is a window of its own, in the map box's font.
                    self->popup()->setFont(self->widget()->font());
                    self->m_maps->setStringList(names);
                    emit self->mapsRead();
                }
            },
            Qt::QueuedConnection);
    });
}
