// Measures the commands that manage servers against the real engine, side by side: run
// with no server running and run --replace with one, from command start until the new
// server is confirmed, and status of one running server against its floor, a bare
// getstatus round trip plus the command's start (--version). Another build of the program
// may be given, to set this one's beside it.
//
//   bench_servers [runs] [program]
#include "support/FakeGameTree.h"

#include <QElapsedTimer>
#include <QProcess>
#include <algorithm>
#include <cstdio>

namespace {

QProcessEnvironment g_environment;
QString g_program = QStringLiteral(PROGRAM);

// The milliseconds that the program took with these arguments, which must succeed.
double timed(const QStringList& arguments)
{
    QProcess process;
    process.setProcessEnvironment(g_environment);
    QElapsedTimer timer;
    timer.start();
    process.start(g_program, arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        qFatal("%s failed: %s", qPrintable(arguments.join(u' ')),
               process.readAllStandardError().constData());
    return double(timer.nsecsElapsed()) / 1e6;
}

double median(QList<double> times)
{
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
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
    timed({"create", "--server-name", "Bench", "--output", tree.outputPath});
    const QStringList run{"run",        "--replace", "--game-dir",
                          tree.gameDir, "--output",  tree.outputPath};
    timed(run);
    QList<double> first, replace, status, roundTrip, start;
    for (int i = 0; i < runs; ++i) {
        timed({"stop"});
        first << timed({"run", "--game-dir", tree.gameDir, "--output", tree.outputPath});
        replace << timed(run);
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
    std::printf("getstatus round trip            %7.2f ms\n", median(roundTrip));
    std::printf("--version, start to exit        %7.2f ms\n", median(start));
    std::printf("status of one server            %7.2f ms   %.2f x the floor\n", median(status),
                median(status) / floor);
    timed({"stop"});
}
