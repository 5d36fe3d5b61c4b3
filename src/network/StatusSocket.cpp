#include "StatusSocket.h"

#ifdef Q_OS_WIN
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_WIN
using Socket = SOCKET;
constexpr Socket kNoSocket = INVALID_SOCKET;

// Winsock needs starting once per process; it ends with the process. The socket is kept
// from every process the tool starts, so that no game server holds it for its whole life.
Socket openUdpSocket()
{
    static const int startError = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data);
    }();
    if (startError != 0) {
        WSASetLastError(startError);
        return kNoSocket;
    }
    return WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
}

int lastSocketError()
{
    return WSAGetLastError();
}

void closeSocket(Socket socket)
{
    closesocket(socket);
}

bool addressInUse()
{
    return WSAGetLastError() == WSAEADDRINUSE;
}
#else
using Socket = int;
constexpr Socket kNoSocket = -1;

Socket openUdpSocket()
{
    return socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
}

void closeSocket(Socket socket)
{
    close(socket);
}

bool addressInUse()
{
    return errno == EADDRINUSE;
}

int lastSocketError()
{
    return errno;
}
#endif

sockaddr_in address(quint32 host, quint16 port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(host);
    address.sin_port = htons(port);
    return address;
}

bool bindTo(Socket socket, quint32 host, quint16 port)
{
    const sockaddr_in where = address(host, port);
    return bind(socket, reinterpret_cast<const sockaddr*>(&where), sizeof where) == 0;
}

} // namespace

bool udpPortTaken(quint16 port)
{
    const Socket probe = openUdpSocket();
    if (probe == kNoSocket)
        return false;
    const bool taken = !bindTo(probe, INADDR_ANY, port) && addressInUse();
    closeSocket(probe);
    return taken;
}

StatusSocket::StatusSocket(QObject* parent) : QObject(parent), m_socket(qintptr(openUdpSocket()))
{
    if (Socket(m_socket) == kNoSocket || !bindTo(Socket(m_socket), INADDR_LOOPBACK, 0)) {
        m_failure = qt_error_string(lastSocketError());
        return;
    }
    m_notifier = std::make_unique<QSocketNotifier>(m_socket, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &StatusSocket::readyRead);
}

StatusSocket::~StatusSocket()
{
    m_notifier.reset();
    if (Socket(m_socket) != kNoSocket)
        closeSocket(Socket(m_socket));
}

void StatusSocket::send(const QByteArray& datagram, quint16 port)
{
    const sockaddr_in to = address(INADDR_LOOPBACK, port);
    sendto(Socket(m_socket), datagram.constData(), int(datagram.size()), 0,
           reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

std::optional<StatusSocket::Datagram> StatusSocket::receive()
{
    // The engine's largest packet is well below this.
    char buffer[65536];
    sockaddr_in from{};
    socklen_t size = sizeof from;
    const auto received = recvfrom(Socket(m_socket), buffer, sizeof buffer, 0,
                                   reinterpret_cast<sockaddr*>(&from), &size);
    if (received < 0)
        return std::nullopt;
    return Datagram{QByteArray(buffer, qsizetype(received)), ntohs(from.sin_port)};
}
