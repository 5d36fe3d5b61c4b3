#include "BootService.h"
#include "config/ConfigFile.h"
#include "launch/ServerLaunch.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <pwd.h>
#include <unistd.h>

namespace {

// The first line of every unit that the tool writes, by which it knows its own.
constexpr char kWrittenBy[] = "# Written by quorvex-config-creator service.";

QString unitFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/systemd/user");
}

QString unitName(quint16 port)
{
    return QStringLiteral("quorvex-%1").arg(port);
}

// The unit's file among the user's units, or in the folder of what a target wants.
QString unitPath(quint16 port, const QString& folder = {})
{
    return unitFolder() + folder + u'/' + unitName(port) + QStringLiteral(".service");
}

// A value in double quotes, as systemd reads one: backslashes and quotes escaped, and % doubled
// so that no specifier is put in its place.
QString quotedValue(QString value)
{
    value.replace(u'\\', QLatin1String("\\\\"))
        .replace(u'"', QLatin1String("\\\""))
        .replace(u'%', QLatin1String("%%"));
    return u'"' + value + u'"';
}

} // namespace

QString systemdWord(const QString& word, bool program)
{
    QString quoted = quotedValue(word);
    return program ? quoted : quoted.replace(u'$', QLatin1String("$$"));
}

std::variant<BootService, Problems> bootService(const QString& program, const QString& typedGameDir,
                                                const QString& outputPath, quint16 port)
{
    if (Problems problems = bootServiceProblems(typedGameDir, outputPath, port);
        !problems.isEmpty())
        return problems;
    const QString gameDir = QDir::cleanPath(absoluteGameDir(typedGameDir, nativePathStyle()));
    const QString configFile = QFileInfo(outputPath).absoluteFilePath();
    const QStringList command{program,
                              QStringLiteral("run"),
                              QStringLiteral("--wait"),
                              QStringLiteral("--game-dir"),
                              gameDir,
                              QStringLiteral("--output"),
                              configFile,
                              QStringLiteral("--port"),
                              QString::number(port)};
    // The tool's records are where its other runs look for them.
    const QString state = qEnvironmentVariable("XDG_STATE_HOME");
    for (const QString& word : command + QStringList{state}) {
        if (std::any_of(word.begin(), word.end(), [](QChar c) { return c.unicode() < 0x20; }))
            return Problems{{nullptr, QStringLiteral("\"%1\" holds a line break or another "
                                                     "control character, which a unit file "
                                                     "cannot carry. Nothing was written.")
                                          .arg(word)}};
    }
    // systemd takes the program's path as it stands, but for its specifiers.
    if (program.contains(u'\\') || program.contains(u'"'))
        return Problems{{nullptr, QStringLiteral("The program's own path \"%1\" holds a "
                                                 "backslash or a quotation mark, which systemd "
                                                 "refuses in the program of a unit. Install it "
                                                 "elsewhere. Nothing was written.")
                                      .arg(program)}};
    QStringList words{systemdWord(program, true)};
    for (const QString& word : command.mid(1))
        words << systemdWord(word);
    QString unit = QLatin1String(kWrittenBy) +
                   QStringLiteral("\n# It starts the Quorvex server of a game directory on its "
                                  "UDP port at boot, and again\n# when it fails; "
                                  "quorvex-config-creator service --remove --port %1 takes it "
                                  "away.\n"
                                  "[Unit]\n"
                                  "Description=Quorvex server on UDP port %1\n"
                                  "Documentation=man:quorvex-config-creator(1)\n"
                                  "StartLimitIntervalSec=300\n"
                                  "StartLimitBurst=5\n"
                                  "\n"
                                  "[Service]\n"
                                  "Type=exec\n"
                                  "ExecStart=%2\n"
                                  "Restart=on-failure\n"
                                  "RestartSec=5\n"
                                  // The tool alone gets SIGTERM, and stops the server as stop
                                  // does; what is left after the wait is killed.
                                  "KillMode=mixed\n"
                                  "TimeoutStopSec=30\n")
                       .arg(port)
                       .arg(words.join(u' '));
    if (QDir::isAbsolutePath(state))
        unit += QStringLiteral("Environment=%1\n")
                    .arg(quotedValue(QStringLiteral("XDG_STATE_HOME=") + state));
    unit += QStringLiteral("\n[Install]\nWantedBy=default.target\n");
    return BootService{unitName(port), unitPath(port), unit.toUtf8(), QStringLiteral("unit")};
}

namespace {

std::optional<QString> systemctl(const QStringList& arguments)
{
    return runForService(QStringLiteral("systemctl"),
                         QStringList{QStringLiteral("--user")} + arguments);
}

QString userName()
{
    const passwd* user = getpwuid(geteuid());
    return user ? QString::fromLocal8Bit(user->pw_name) : QString::number(geteuid());
}

// Whether the user's service manager answers, so that systemctl --user can reach it.
bool userManagerAnswers()
{
    return !systemctl({QStringLiteral("show-environment")});
}

} // namespace

QStringList startSteps(const BootService& service)
{
    QStringList steps{QStringLiteral("systemctl --user daemon-reload"),
                      QStringLiteral("systemctl --user enable --now ") + service.name};
    if (!QFileInfo::exists(QStringLiteral("/var/lib/systemd/linger/") + userName()))
        steps << QStringLiteral("loginctl enable-linger ") + userName();
    return steps;
}

std::optional<QString> enableBootService(const BootService& service)
{
    if (!userManagerAnswers())
        return QStringLiteral("No service manager of yours answers systemctl --user.");
    for (const QString& step : startSteps(service)) {
        const QStringList words = step.split(u' ');
        if (const std::optional<QString> problem = runForService(words[0], words.mid(1)))
            return QStringLiteral("%1 failed: %2").arg(step, *problem);
    }
    return std::nullopt;
}

std::variant<Removal, QString> removeBootService(quint16 port)
{
    const QString path = unitPath(port);
    // systemctl enable links the unit into the target that wants it.
    const QString wanted = unitPath(port, QStringLiteral("/default.target.wants"));
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
        return Removal{QFileInfo(wanted).isSymLink() && QFile::remove(wanted)};
    QFile file;
    if (QFileInfo(path).isSymLink() || openRegularFile(file, path) ||
        !file.readLine().startsWith(kWrittenBy))
        return QStringLiteral("\"%1\" is no unit that the tool wrote, and is left as it is.")
            .arg(path);
    // systemd stops what it started before the unit goes.
    const bool manager = userManagerAnswers();
    if (manager) {
        const std::optional<QString> disabled =
            systemctl({QStringLiteral("disable"), QStringLiteral("--now"), unitName(port)});
        if (!systemctl({QStringLiteral("is-active"), QStringLiteral("--quiet"), unitName(port)}))
            return QStringLiteral("systemd still runs %1, so its unit was left in place: %2")
                .arg(unitName(port), disabled.value_or(QString()));
    }
    if (QFileInfo(wanted).isSymLink() && !QFile::remove(wanted))
        return QStringLiteral("Could not remove the link \"%1\".").arg(wanted);
    if (QFile remover(path); !remover.remove())
        return QStringLiteral("Could not remove \"%1\": %2.").arg(path, remover.errorString());
    if (manager)
        (void)systemctl({QStringLiteral("daemon-reload")});
    return Removal{true, manager};
}
