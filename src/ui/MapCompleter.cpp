#include "MapCompleter.h"

#include "config/ServerSettings.h"
#include "gametree/GameTree.h"
#include "launch/LaunchPlan.h"
#include "servers/ServerProcess.h"

#include <QAbstractItemView>
#include <QCoreApplication>
#include <QLineEdit>
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
    QTimer::singleShot(0, this, &MapCompleter::read);
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
