// Measures how long the tool takes from its start until its window is shown, and how much
// memory it holds then, against a bare QWidget window, one showing a line of text and the
// floor: the same thirty controls written plainly in stock Qt. On Qt's offscreen platform,
// or on another one such as xcb, which then needs DISPLAY.
//
//   bench_startup [runs] [platform]
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
    const QString platform =
        argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("offscreen");
    const QStringList probes = {QStringLiteral("startup_bare"), QStringLiteral("startup_text"),
                                QStringLiteral("startup_plain"), QStringLiteral("startup_tool")};
    const char* names[] = {"bare QWidget window", "QWidget with a label", "same controls, plain",
                           "the tool's window"};
    const qsizetype tool = probes.size() - 1;
    const QString directory = QCoreApplication::applicationDirPath() + u'/';

    QTemporaryDir configHome;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome.path());

    QList<double> times[4];
    QList<long> memory[4];
    for (const QString& probe : probes) // warms the file cache
        runProbe(directory + probe, environment);
    for (int run = 0; run < runs; ++run) {
        for (qsizetype i = 0; i < probes.size(); ++i) {
            const Sample sample = runProbe(directory + probes[i], environment);
            times[i] << sample.milliseconds;
            memory[i] << sample.residentKiB;
        }
    }
    std::printf("%s, median of %d runs    start to shown   resident memory   tool's ratio\n",
                qPrintable(platform), runs);
    for (qsizetype i = 0; i < probes.size(); ++i) {
        const double time = median(times[i]);
        const long kib = median(memory[i]);
        std::printf("%-22s %8.1f ms      %8ld KiB      %.2f time, %.2f memory\n", names[i], time,
                    kib, median(times[tool]) / time, double(median(memory[tool])) / double(kib));
    }
}
