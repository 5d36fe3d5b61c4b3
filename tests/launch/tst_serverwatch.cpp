#include "launch/ServerWatch.h"
#include "network/RemoteConsole.h"
#include "network/ServerStatus.h"
#include "support/Files.h"
#include "support/StandInConsole.h"

#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>
#ifndef Q_OS_WIN
#include <pwd.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {

// A server whose process runs throughout the watch.
struct RunningServer : ServerProcess {
    std::optional<QString> ended() override { return std::nullopt; }
    std::optional<int> exitStatus() override { return std::nullopt; }
    bool stop() override { return true; }
    qint64 pid() const override { return 0; }
};

// A game server's status answers on a port of 127.0.0.1, counting the queries.
struct Responder {
    Responder(quint16 port, const QByteArray& hostname)
    {
        socket.bind(QHostAddress::LocalHost, port);
        QObject::connect(&socket, &QUdpSocket::readyRead, [this, hostname] {
            const QNetworkDatagram query = socket.receiveDatagram();
            ++queries;
            socket.writeDatagram(query.makeReply("\xff\xff\xff\xffstatusResponse\n\\sv_hostname\\" +
                                                 hostname +
                                                 "\\sv_maxclients\\16\\mapname\\q3dm1\n"));
        });
    }
    QUdpSocket socket;
    int queries = 0;
};

const QByteArray kOpened27961 = "Opening IP socket: 127.0.0.1:27960\n"
                                "WARNING: NET_IPSocket: bind: Address already in use\n"
                                "Opening IP socket: 127.0.0.1:27961\n"
                                "Hunk_Clear: reset the hunk ok\n";

} // namespace

class TestServerWatch : public QObject {
    Q_OBJECT

private slots:
    // Only the new server's answer counts: from the game's port when that was free at the
    // start, otherwise from the port that the server's log says it opened, however the
    // server that held the port before answers and however late the log tells.
    void onlyTheNewServerConfirmsItsStart_data()
    {
        QTest::addColumn<QByteArray>("oldServer"); // its name, or empty: the port was free
        QTest::addColumn<QByteArray>("log");       // written 300 ms after the start
        QTest::addColumn<QString>("verdict");
        QTest::addColumn<QByteArray>("script"); // by default, one that sets the name Fresh
        // The test's own socket holds the port, named where the system tells.
#ifdef Q_OS_WIN
        const QString holder = QString("Another program, \"tst_serverwatch.exe\" (process %1),")
                                   .arg(QCoreApplication::applicationPid());
#else
        const QString holder =
            QString("Another program, \"tst_serverwatch\" (process %1) of user %2,")
                .arg(QCoreApplication::applicationPid())
                .arg(QString::fromLocal8Bit(getpwuid(geteuid())->pw_name));
#endif
        const QString moved = holder + " already uses UDP port 27960, so the new server "
                                       "took port 27961, and players who connect to port 27960 "
                                       "will not reach it.";
        QTest::newRow("port free") << QByteArray() << QByteArray() << "" << QByteArray();
        // A file that the script executes and the tool does not read, as in a pk3 file, may
        // set the name; one that it reads does not.
        QTest::newRow("a name that an unread file may set")
            << QByteArray() << QByteArray() << ""
            << QByteArray("set sv_hostname Other\nexec inpack\nmap q3dm1\n");
        QTest::newRow("a name that no file sets")
            << QByteArray() << QByteArray() << "The game server runs, but not as its script"
            << QByteArray("set sv_hostname Other\nexec loose\nmap q3dm1\n");
        QTest::newRow("old server as scripted")
            << QByteArray("Fresh") << kOpened27961 << moved << QByteArray();
        QTest::newRow("old server otherwise")
            << QByteArray("Stale") << kOpened27961 << moved << QByteArray();
        QTest::newRow("the log never tells")
            << QByteArray("Fresh") << QByteArray("no port here\n")
            << holder + " already uses UDP port 27960, so the new server will take "
                        "another port, and players who connect to port 27960 will not reach "
                        "it.\n\nThe new "
                        "server's start cannot be confirmed"
            << QByteArray();
#ifndef Q_OS_WIN
        QTest::newRow("no status socket")
            << QByteArray() << QByteArray()
            << "The game server was started, but the tool could not open a UDP socket to ask it "
               "for its status (Too many open files), so its start cannot be confirmed."
            << QByteArray();
#endif
    }

    void onlyTheNewServerConfirmsItsStart()
    {
        QFETCH(QByteArray, oldServer);
        QFETCH(QByteArray, log);
        QFETCH(QString, verdict);
        QFETCH(QByteArray, script);
        QTemporaryDir dir;
        StartedServer server;
        server.process = std::make_unique<RunningServer>();
        server.logPath = dir.filePath("conf1.log");
        server.portWasTaken = !oldServer.isEmpty();
        server.script =
            readScript(script.isEmpty() ? "set sv_hostname Fresh\nmap q3dm1\n" : script);
        if (script.contains("exec inpack"))
            server.unread = {"inpack"};
        // Until the rest comes, the log's last line may be the one the bind warning follows.
        writeBytes(server.logPath, log.left(log.indexOf('\n') + 1));
        std::optional<Responder> old;
        if (server.portWasTaken)
            old.emplace(kServerPort, oldServer);
        Responder fresh(server.portWasTaken ? 27961 : kServerPort, "Fresh");

#ifndef Q_OS_WIN
        // With no descriptor to spare, the watch's status socket cannot open.
        rlimit files{};
        getrlimit(RLIMIT_NOFILE, &files);
        const rlimit none{0, files.rlim_max};
        setrlimit(RLIMIT_NOFILE, verdict.contains("could not open") ? &none : &files);
#endif
        ServerWatch watch(std::move(server));
#ifndef Q_OS_WIN
        setrlimit(RLIMIT_NOFILE, &files);
#endif
        QSignalSpy finished(&watch, &ServerWatch::finished);
        QTest::qWait(300);
        writeBytes(dir.filePath("conf1.log"), log);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, ServerWatch::kWatchMs + 2000);
        const QString said = captioned(finished[0][0].value<Problems>()).join("\n\n");
        QVERIFY2(verdict.isEmpty() ? said.isEmpty() : said.startsWith(verdict), qPrintable(said));
        if (old)
            QCOMPARE(old->queries, 0);
        QCOMPARE(fresh.queries > 0, !verdict.contains("cannot be confirmed"));
    }

    // The remote console against a stand-in that answers as the engine does: a reply of two
    // packets ends at the echo, or where the echo is lost at the silence after it; a wrong
    // password is told; the console's list of clients is read by its header, colour codes,
    // names with spaces, clients that connect and leave, and an IPv6 address included.
    void talksThroughTheRemoteConsole()
    {
        const QByteArray print = QByteArray(4, '\xff') + "print\n";
        const QList<QByteArray> status = standInStatus();
        bool echoes = true;
        QUdpSocket server;
        QVERIFY(server.bind(QHostAddress::LocalHost, 0));
        connect(&server, &QUdpSocket::readyRead, this, [&] {
            while (server.hasPendingDatagrams()) {
                const QNetworkDatagram query = server.receiveDatagram();
                const QByteArray command = query.data().mid(4);
                QList<QByteArray> replies{"Bad rconpassword.\n"};
                if (command == "rcon s3cret status")
                    replies = status;
                else if (command.startsWith("rcon s3cret echo "))
                    replies = {echoes ? command.mid(17) + '\n' : QByteArray()};
                for (const QByteArray& reply : replies)
                    if (!reply.isEmpty())
                        server.writeDatagram(print + reply, query.senderAddress(),
                                             query.senderPort());
            }
        });
        for (const bool echo : {true, false}) {
            echoes = echo;
            const RemoteConsole::Reply reply =
                RemoteConsole(server.localPort(), "s3cret").run("status");
            QCOMPARE(reply.kind, RemoteConsole::Reply::Kind::Answered);
            QCOMPARE(reply.text, status.join(""));
        }
        QCOMPARE(RemoteConsole(server.localPort(), "wrong").run("status").kind,
                 RemoteConsole::Reply::Kind::BadPassword);

        const std::optional<ConsoleStatus> read = parseConsoleStatus(status.join(""));
        QVERIFY(read);
        QCOMPARE(read->map, "q3dm17");
        QStringList clients;
        for (const ConsoleStatus::Client& client : read->clients)
            clients << QStringLiteral("%1|%2|%3|%4|%5|%6")
                           .arg(client.slot)
                           .arg(client.score)
                           .arg(client.ping, client.name, client.address)
                           .arg(client.rate);
        QCOMPARE(clients, (QStringList{"0|12|48|^1Red^7Fox|127.0.0.1:27961|25000",
                                       "1|-3|CNCT|A Name with^7 spaces|[::1]:27962|90000",
                                       "2|0|ZMB|^^77seven|bot|0", "11|5|9|redfox|loopback|3000"}));
        QVERIFY(!parseConsoleStatus("map: q3dm17\nslot name\n--\n"));
    }
};

QTEST_GUILESS_MAIN(TestServerWatch)
#include "tst_serverwatch.moc"
