// Measures the command line from process start to exit: create writing a config file and
// --help, against the floor, an empty QCoreApplication program that writes one file.
//
//   bench_cli [runs] [program]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 50;
    const QString directory = QCoreApplication::applicationDirPath() + u'/';
    const QString program = argc > 2
                                ? QString::fromLocal8Bit(argv[2])
                                : directory + QStringLiteral("../src/app/quorvex-config-creator");
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("server.cfg"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QLatin1String(name));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path());
    const struct {
        const char* name;
        QString program;
        QStringList arguments;
    } commands[] = {
        {"floor: QCoreApplication, one file", directory + QStringLiteral("cli_floor"), {file}},
        {"create --output FILE", program, {"create", "--server-name", "Bench", "--output", file}},
        {"--help", program, {"--help"}},
    };
    std::printf("median of %d runs, process start to exit\n", runs);
    double floor = 0;
    for (const auto& command : commands) {
        QList<double> times;
        for (int run = -1; run < runs; ++run) { // the first run warms the file cache
            QProcess process;
            process.setProcessEnvironment(environment);
            QElapsedTimer timer;
            timer.start();
            process.start(command.program, command.arguments);
            if (!process.waitForFinished() || process.exitCode() != 0) {
                std::fprintf(stderr, "%s failed\n", command.name);
                return 1;
            }
            if (run >= 0)
                times << double(timer.nsecsElapsed()) / 1e6;
        }
        std::sort(times.begin(), times.end());
        const double median = times[times.size() / 2];
        floor = floor > 0 ? floor : median;
        std::printf("%-36s %7.2f ms   %.2f x the floor\n", command.name, median, median / floor);
    }
}
