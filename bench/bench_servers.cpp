// Measures the commands that manage servers against the real engine, side by side: run
// with no server running and run --replace with one, from command start until the new
// server is confirmed; a replace whose new server fails its start, until the one it stopped
// answers again; status of one running server against its floor, a bare getstatus round
// trip plus the command's start (--version); and status of ten servers, half of them never
// answering; and rcon status, players and say on one server, through its console input and
// over UDP. Another build of the program may be given, to set this one's beside it.
//
//   bench_servers [runs] [program]
#include "servers/StartedServers.h"
#include "support/FakeGameTree.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QProcess>
#include <QUdpSocket>
#include <algorithm>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

QProcessEnvironment g_environment;
QString g_program = QStringLiteral(PROGRAM);

// The milliseconds that the program took with these arguments, which must end with status.
double timed(const QStringList& arguments, int status = 0)
{
    QProcess process;
    process.setProcessEnvironment(g_environment);
    QElapsedTimer timer;
    timer.start();
    process.start(g_program, arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != status)
        qFatal("%s failed: %s", qPrintable(arguments.join(u' ')),
               process.readAllStandardError().constData());
    return double(timer.nsecsElapsed()) / 1e6;
}

double median(QList<double> times)
{
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// Status of ten servers, each a process that runs and is remembered with a port of its own:
// the first five answer as a server would, from this program's thread, the rest never.
double tenServers(int runs)
{
    QList<double> times;
    std::vector<std::unique_ptr<QProcess>> processes;
    for (quint16 i = 0; i < 10; ++i) {
        auto& process = processes.emplace_back(std::make_unique<QProcess>());
        process->start(QStringLiteral("sleep"), {QStringLiteral("600")});
        process->waitForStarted();
        ServerRecord record;
        record.gameDir = QStringLiteral("/bench/%1").arg(i);
        record.pid = record.group = process->processId();
        record.identity = *processIdentity(record.pid);
        record.port = quint16(28000 + i);
        record.startedAt = QDateTime::currentDateTime();
        if (StartedServers::remember(record))
            qFatal("could not keep a record");
    }
    std::atomic<bool> done{false};
    std::thread answering([&] {
        std::vector<std::unique_ptr<QUdpSocket>> sockets;
        for (quint16 i = 0; i < 5; ++i) {
            sockets.emplace_back(std::make_unique<QUdpSocket>())
                ->bind(QHostAddress::LocalHost, quint16(28000 + i));
        }
        while (!done) {
            for (const auto& socket : sockets) {
                while (socket->hasPendingDatagrams()) {
                    const QNetworkDatagram query = socket->receiveDatagram();
                    socket->writeDatagram(query.makeReply(
                        "\xff\xff\xff\xffstatusResponse\n\\sv_hostname\\b\\mapname\\m"
                        "\\sv_maxclients\\8\n"));
                }
            }
            QThread::msleep(1);
        }
    });
    for (int i = 0; i < runs; ++i)
        times << timed({"status"}, 1);
    done = true;
    answering.join();
    for (const auto& process : processes) {
        process->kill();
        process->waitForFinished();
    }
    StartedServers::takeEnded();
    return median(times);
}

// rcon status, players and say on the running server, through its console input, or over
// UDP with its record as an earlier version kept it, which names no input; each command
// given after the engine's rate limit has drained, as an operator gives them.
void talking(int runs, const QString& stateHome, double floor)
{
    for (const bool throughInput : {true, false}) {
        if (!throughInput) {
            const QString folder = stateHome + QStringLiteral("/quorvex-config-creator/servers");
            for (const QString& name : QDir(folder).entryList({QStringLiteral("*.json")})) {
                QJsonObject json = QJsonDocument::fromJson(readAll(folder + u'/' + name)).object();
                json.remove(QStringLiteral("input"));
                writeBytes(folder + u'/' + name, QJsonDocument(json).toJson());
            }
        }
        QList<double> status, players, say;
        for (int i = 0; i < runs; ++i) {
            for (auto [times, arguments] : {std::pair{&status, QStringList{"rcon", "status"}},
                                            std::pair{&players, QStringList{"players"}},
                                            std::pair{&say, QStringList{"say", "hello"}}}) {
                if (!throughInput)
                    QThread::msleep(2100);
                *times << timed(arguments);
            }
        }
        const char* way = throughInput ? "through the console input" : "over UDP";
        std::printf("rcon status, %-25s %7.2f ms   %.2f x the floor\n", way, median(status),
                    median(status) / floor);
        std::printf("players, %-29s %7.2f ms\n", way, median(players));
        std::printf("say, %-33s %7.2f ms\n", way, median(say));
    }
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 20;
    if (argc > 2)
        g_program = QString::fromLocal8Bit(argv[2]);
    adoptOrphans();
    FakeGameTree tree(FakeGameTree::RealEngine);
    g_environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        g_environment.remove(QLatin1String(name));
    g_environment.insert(QStringLiteral("XDG_CONFIG_HOME"), tree.root());
    g_environment.insert(QStringLiteral("XDG_STATE_HOME"), tree.root());
    qputenv("XDG_STATE_HOME", QFile::encodeName(tree.root()));
    // A file in the tool's home path alone passes the check before the start, and the
    // server, which keeps a home path of its own, fails to execute it.
    g_environment.insert(QStringLiteral("HOME"), tree.root());
    QDir().mkpath(tree.root() + QStringLiteral("/.q3a/arena"));
    writeBytes(tree.root() + QStringLiteral("/.q3a/arena/homeonly.cfg"), {});
    const QString failing = tree.root() + QStringLiteral("/failing.cfg");
    timed({"create", "--server-name", "Bench", "--output", tree.outputPath});
    const QStringList run{"run",        "--replace", "--game-dir",
                          tree.gameDir, "--output",  tree.outputPath};
    writeBytes(failing, readAll(tree.outputPath) + "exec homeonly\r\n");
    timed(run);
    QList<double> first, replace, rollback, status, roundTrip, start;
    for (int i = 0; i < runs; ++i) {
        timed({"stop"});
        first << timed({"run", "--game-dir", tree.gameDir, "--output", tree.outputPath});
        replace << timed(run);
        rollback << timed({"run", "--replace", "--game-dir", tree.gameDir, "--output", failing}, 1);
        // The server answers a source at most once a second after a burst.
        QThread::msleep(1100);
        QElapsedTimer timer;
        timer.start();
        if (!askServer("getstatus", 27960, 1000))
            qFatal("the server did not answer");
        roundTrip << double(timer.nsecsElapsed()) / 1e6;
        start << timed({"--version"});
        QThread::msleep(1100);
        status << timed({"status"});
    }
    const double floor = median(roundTrip) + median(start);
    std::printf("median of %d runs against the real engine\n", runs);
    std::printf("run, until confirmed            %7.1f ms\n", median(first));
    std::printf("run --replace, until confirmed  %7.1f ms\n", median(replace));
    std::printf("run --replace failing, until the earlier answers again  %7.1f ms\n",
                median(rollback));
    std::printf("getstatus round trip            %7.2f ms\n", median(roundTrip));
    std::printf("--version, start to exit        %7.2f ms\n", median(start));
    std::printf("status of one server            %7.2f ms   %.2f x the floor\n", median(status),
                median(status) / floor);
    timed({"create", "--server-name", "Bench", "--rcon-password", "bench", "--output",
           tree.outputPath});
    timed(run);
    talking(std::min(runs, 10), tree.root(), floor);
    timed({"stop"});
    std::printf("status of ten servers, five silent  %7.1f ms\n", tenServers(runs));
}
