// Stands in for the dedicated server on Windows, where a test cannot run a shell script
// as quake3.exe. Each start writes a record file, launch.<pid>, into the folder named in
// records.path beside the program: the working directory, then one argument a line; and
// process.<pid>: whether its output goes to a console, and how many handles it started with;
// and commandline.<pid>: its command line exactly as Windows passed it. With a file named
// silent in the records folder, it then runs on for a minute without answering, as a server
// that never comes up; with one named answer, it answers getstatus on its net_port of
// 127.0.0.1 with what the script it was started with sets, answers the remote console's
// status with four clients and its echo as the engine does, and quits on its quit, writing
// quit.<pid>, for up to a minute, or crashes with status 3 on the first query after a file
// crash.<port> appears, taking it away; with one named child, it first starts a copy
// of itself that runs on for a minute, as a start script's engine; and with one named fail,
// it takes that file away and ends at once with status 3, as a server that cannot start.
#include "script/ScriptReader.h"
#include "support/StandInConsole.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <cstdlib>
#include <string>
#include <string_view>
// clang-format off
#include <winsock2.h>
#include <windows.h>
// clang-format on

namespace {

// Answers as a server running the script arena/<name>.cfg of the working folder would.
int answer(const QString& script, quint16 port, const QString& records, const QString& quitRecord)
{
    QFile file(QStringLiteral("arena/%1.cfg").arg(script));
    if (!file.open(QIODevice::ReadOnly))
        return 2;
    const ServerSettings settings = readScript(file.readAll()).settings();
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    const SOCKET socket = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return 2;
    const DWORD wait = 60000;
    setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&wait), sizeof wait);
    const QByteArray start(4, '\xff');
    const QByteArray status = start + "statusResponse\n\\sv_hostname\\" +
                              settings.serverName.toLatin1() + "\\sv_maxclients\\" +
                              settings.maxClients.toLatin1() + "\\mapname\\" +
                              settings.initialMap.toLatin1() + "\n";
    const QByteArray rcon = start + "rcon " + settings.rconPassword.toLatin1() + ' ';
    char buffer[1400];
    sockaddr_in from{};
    int size = sizeof from;
    for (int got; (got = recvfrom(socket, buffer, sizeof buffer, 0,
                                  reinterpret_cast<sockaddr*>(&from), &size)) > 0;
         size = sizeof from) {
        if (QFile::remove(records + QStringLiteral("/crash.%1").arg(port)))
            std::abort();
        const QByteArray query(buffer, got);
        QList<QByteArray> replies;
        if (query == start + "getstatus")
            replies = {status};
        else if (query == rcon + "quit")
            break;
        else if (query == rcon + "status")
            replies = standInStatus();
        else if (query.startsWith(rcon + "echo "))
            replies = {query.mid(rcon.size() + 5) + '\n'};
        for (QByteArray& reply : replies) {
            if (!reply.startsWith(start))
                reply.prepend(start + "print\n");
            sendto(socket, reply.constData(), int(reply.size()), 0,
                   reinterpret_cast<sockaddr*>(&from), size);
        }
    }
    closesocket(socket);
    QFile quit(quitRecord);
    return quit.open(QIODevice::WriteOnly) ? 0 : 2;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc == 2 && std::string_view(argv[1]) == "--child") {
        Sleep(60000);
        return 0;
    }
    // Counted by trying every handle value, as Wine does not count them for a process.
    int handles = 0;
    for (ULONG_PTR value = 4; value < 0x10000; value += 4) {
        DWORD flags = 0;
        handles += GetHandleInformation(HANDLE(value), &flags) ? 1 : 0;
    }
    const bool console = GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) == FILE_TYPE_CHAR;
    QCoreApplication app(argc, argv);
    QFile where(QCoreApplication::applicationDirPath() + QStringLiteral("/records.path"));
    if (!where.open(QIODevice::ReadOnly))
        return 2;
    const QString records = QString::fromUtf8(where.readAll());
    const QString pid = QString::number(QCoreApplication::applicationPid());
    QFile process(records + QStringLiteral("/process.") + pid);
    if (!process.open(QIODevice::WriteOnly) ||
        process.write(QStringLiteral("console=%1 handles=%2").arg(console).arg(handles).toUtf8()) <
            0)
        return 2;
    process.close();
    QFile line(records + QStringLiteral("/commandline.") + pid);
    if (!line.open(QIODevice::WriteOnly) ||
        line.write(QString::fromWCharArray(GetCommandLineW()).toUtf8()) < 0)
        return 2;
    line.close();
    const QString record = records + QStringLiteral("/launch.") + pid;
    QFile file(record + QStringLiteral(".tmp"));
    if (!file.open(QIODevice::WriteOnly))
        return 2;
    const QStringList lines = QStringList{QDir::current().canonicalPath()} + app.arguments().mid(1);
    file.write((lines.join(u'\n') + u'\n').toUtf8());
    file.close();
    if (!file.rename(record))
        return 2;
    if (QFile::remove(records + QStringLiteral("/fail")))
        return 3;
    if (QFile::exists(records + QStringLiteral("/child"))) {
        std::wstring line =
            L"\"" + QCoreApplication::applicationFilePath().toStdWString() + L"\" --child";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION child{};
        if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &child))
            return 2;
        CloseHandle(child.hThread);
        CloseHandle(child.hProcess);
    }
    if (QFile::exists(records + QStringLiteral("/silent")))
        Sleep(60000);
    if (QFile::exists(records + QStringLiteral("/answer")))
        return answer(
            app.arguments().constLast(),
            quint16(app.arguments().value(app.arguments().indexOf("net_port") + 1).toUInt()),
            records, records + QStringLiteral("/quit.") + pid);
    return 0;
}
