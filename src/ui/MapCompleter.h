#pragma once

#include <QCompleter>
#include <QStringListModel>
#include <QTimer>

class QAbstractItemView;
class QLineEdit;

// Offers the maps of the game tree that the game directory box names in the map box, in
// a pop-up that ignores case. The list is read off the window's thread, once the window
// runs and again a moment after each change of the game directory, so that neither the
// window's start nor typing waits for it. The pop-up never costs a click: it closes when
// the map box loses focus or names a map in full, and a click outside it both closes it and
// reaches what was clicked.
class MapCompleter : public QCompleter {
    Q_OBJECT

public:
    MapCompleter(QLineEdit* gameDir, QLineEdit* map);

    // The maps offered now.
    QStringList maps() const { return m_maps->stringList(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

signals:
    // The maps of a game directory are offered.
    void mapsRead();

private:
    void read();

    QLineEdit* m_gameDir;
    QStringListModel* m_maps;
    QAbstractItemView* m_popup = nullptr;
    QTimer m_settle;
    // Counts the reads, so that only the answer for the latest is taken.
    quint64 m_reads = 0;
};
