// Measures how long the tool takes from its start until its window is shown, and how much
// memory it holds then, against a bare QWidget window and one showing a line of text, on
// Qt's offscreen platform.
//
//   bench_startup [runs]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

namespace {

struct Sample {
    double milliseconds;
    long residentKiB;
};

Sample runProbe(const QString& program, const QProcessEnvironment& environment)
{
    QProcess probe;
    probe.setProcessEnvironment(environment);
    QElapsedTimer timer;
    timer.start();
    probe.start(program, {});
    while (!probe.canReadLine() && probe.waitForReadyRead(10000)) {
    }
    const double milliseconds = double(timer.nsecsElapsed()) / 1e6;
    const QByteArray line = probe.readLine().trimmed();
    probe.waitForFinished();
    if (!line.startsWith("shown ")) {
        std::fprintf(stderr, "%s did not show its window\n", qPrintable(program));
        std::exit(1);
    }
    return {milliseconds, line.mid(6).toLong()};
}

template <typename T> T median(QList<T> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 25;
    const QStringList probes = {QStringLiteral("startup_bare"), QStringLiteral("startup_text"),
                                QStringLiteral("startup_tool")};
    const char* names[] = {"bare QWidget window", "QWidget with a label", "the tool's window"};
    const QString directory = QCoreApplication::applicationDirPath() + u'/';

    QTemporaryDir configHome;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome.path());

    QList<double> times[3];
    QList<long> memory[3];
    for (const QString& probe : probes) // warms the file cache
        runProbe(directory + probe, environment);
    for (int run = 0; run < runs; ++run) {
        for (qsizetype i = 0; i < probes.size(); ++i) {
            const Sample sample = runProbe(directory + probes[i], environment);
            times[i] << sample.milliseconds;
            memory[i] << sample.residentKiB;
        }
    }
    std::printf("median of %d runs       start to shown   resident memory   tool's ratio\n", runs);
    for (qsizetype i = 0; i < probes.size(); ++i) {
        const double time = median(times[i]);
        const long kib = median(memory[i]);
        std::printf("%-22s %8.1f ms      %8ld KiB      %.2f time, %.2f memory\n", names[i], time,
                    kib, median(times[2]) / time, double(median(memory[2])) / double(kib));
    }
}
