#pragma once

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <memory>
#include <optional>

// Whether something already holds the UDP port on this machine's IPv4 addresses, so that a
// server started on it would move to another.
bool udpPortTaken(quint16 port);

// A UDP socket on 127.0.0.1 for asking the game servers there for their status: it sends
// datagrams to a port and says when answers wait. It uses the system's sockets directly,
// so that the tool loads no network library for these few packets.
class StatusSocket : public QObject {
    Q_OBJECT

public:
    struct Datagram {
        QByteArray data;
        quint16 senderPort = 0;
    };

    explicit StatusSocket(QObject* parent = nullptr);
    ~StatusSocket() override;

    // Why the socket could not be opened, in the system's words; nothing when it is open.
    const std::optional<QString>& failure() const { return m_failure; }

    void send(const QByteArray& datagram, quint16 port);

    // The next answer waiting, or nothing.
    std::optional<Datagram> receive();

signals:
    void readyRead();

private:
    qintptr m_socket;
    std::optional<QString> m_failure;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
