#include "BootService.h"
#include "config/ConfigFile.h"
#include "launch/LaunchPlan.h"
#include "launch/ServerLaunch.h"
#include "servers/ProcessControl.h"

#include <QDir>
#include <QFileInfo>
#include <QXmlStreamWriter>

namespace {

// The description of every task that the tool defines, by which it knows its own.
constexpr char kWrittenBy[] = "Written by quorvex-config-creator service.";

QString taskName(quint16 port)
{
    return QStringLiteral("quorvex-%1").arg(port);
}

// Beside the records of the servers, in the tool's own state folder.
QString definitionPath(quint16 port)
{
    return QDir::toNativeSeparators(stateFolder() + QStringLiteral("/tasks/") + taskName(port) +
                                    QStringLiteral(".xml"));
}

// Task Scheduler reads its definitions in UTF-16, as it writes them.
QByteArray utf16(const QString& text)
{
    const QString marked = QChar(QChar::ByteOrderMark) + text;
    return QByteArray(reinterpret_cast<const char*>(marked.utf16()), marked.size() * 2);
}

QString fromUtf16(const QByteArray& bytes)
{
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData()),
                              bytes.size() / 2);
}

} // namespace

std::variant<BootService, Problems> bootService(const QString& program, const QString& typedGameDir,
                                                const QString& outputPath, quint16 port)
{
    if (Problems problems = bootServiceProblems(typedGameDir, outputPath, port);
        !problems.isEmpty())
        return problems;
    const QString gameDir =
        QDir::toNativeSeparators(QDir::cleanPath(absoluteGameDir(typedGameDir, nativePathStyle())));
    const QString configFile = QDir::toNativeSeparators(QFileInfo(outputPath).absoluteFilePath());
    // The console companion beside the program, as a console would start it.
    QString companion = QDir::toNativeSeparators(program);
    if (companion.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive))
        companion.replace(companion.size() - 4, 4, QStringLiteral(".com"));
    QStringList words{QStringLiteral("run"),
                      QStringLiteral("--wait"),
                      QStringLiteral("--restart=on-failure"),
                      QStringLiteral("--game-dir"),
                      gameDir,
                      QStringLiteral("--output"),
                      configFile,
                      QStringLiteral("--port"),
                      QString::number(port)};
    for (QString& word : words)
        word = windowsArgument(word);
    const QString user =
        qEnvironmentVariable("USERDOMAIN").isEmpty()
            ? qEnvironmentVariable("USERNAME")
            : qEnvironmentVariable("USERDOMAIN") + u'\\' + qEnvironmentVariable("USERNAME");
    QString text;
    QXmlStreamWriter xml(&text);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(2);
    xml.writeStartElement(QStringLiteral("Task"));
    xml.writeAttribute(QStringLiteral("version"), QStringLiteral("1.2"));
    xml.writeDefaultNamespace(
        QStringLiteral("http://schemas.microsoft.com/windows/2004/02/mit/task"));
    xml.writeStartElement(QStringLiteral("RegistrationInfo"));
    xml.writeTextElement(QStringLiteral("Description"),
                         QStringLiteral("%1 It starts the Quorvex server of a game directory on "
                                        "UDP port %2 at every start-up of Windows, and again "
                                        "when it fails; quorvex-config-creator service --remove "
                                        "--port %2 takes it away.")
                             .arg(QLatin1String(kWrittenBy))
                             .arg(port));
    xml.writeEndElement();
    xml.writeStartElement(QStringLiteral("Triggers"));
    xml.writeStartElement(QStringLiteral("BootTrigger"));
    xml.writeTextElement(QStringLiteral("Enabled"), QStringLiteral("true"));
    xml.writeEndElement();
    xml.writeEndElement();
    // As the user, whether logged on or not, with no password kept.
    xml.writeStartElement(QStringLiteral("Principals"));
    xml.writeStartElement(QStringLiteral("Principal"));
    xml.writeAttribute(QStringLiteral("id"), QStringLiteral("Author"));
    if (!user.isEmpty())
        xml.writeTextElement(QStringLiteral("UserId"), user);
    xml.writeTextElement(QStringLiteral("LogonType"), QStringLiteral("S4U"));
    xml.writeTextElement(QStringLiteral("RunLevel"), QStringLiteral("LeastPrivilege"));
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeStartElement(QStringLiteral("Settings"));
    for (const auto& [name, value] : {std::pair{"MultipleInstancesPolicy", "IgnoreNew"},
                                      {"DisallowStartIfOnBatteries", "false"},
                                      {"StopIfGoingOnBatteries", "false"},
                                      {"StartWhenAvailable", "true"},
                                      {"ExecutionTimeLimit", "PT0S"},
                                      {"Enabled", "true"}})
        xml.writeTextElement(QLatin1String(name), QLatin1String(value));
    xml.writeEndElement();
    xml.writeStartElement(QStringLiteral("Actions"));
    xml.writeAttribute(QStringLiteral("Context"), QStringLiteral("Author"));
    xml.writeStartElement(QStringLiteral("Exec"));
    xml.writeTextElement(QStringLiteral("Command"), companion);
    xml.writeTextElement(QStringLiteral("Arguments"), words.join(u' '));
    xml.writeTextElement(QStringLiteral("WorkingDirectory"), gameDir);
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndElement();
    // The writer puts a line break before the first element.
    text = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-16\"?>") + text;
    text.replace(u'\n', QLatin1String("\r\n"));
    return BootService{taskName(port), definitionPath(port), utf16(text),
                       QStringLiteral("task definition")};
}

QStringList startSteps(const BootService& service)
{
    return {QStringLiteral("schtasks /Create /F /TN %1 /XML %2")
                .arg(service.name, windowsArgument(service.unitPath))};
}

std::optional<QString> enableBootService(const BootService& service)
{
    return runForService(QStringLiteral("schtasks"),
                         {QStringLiteral("/Create"), QStringLiteral("/F"), QStringLiteral("/TN"),
                          service.name, QStringLiteral("/XML"), service.unitPath});
}

std::variant<Removal, QString> removeBootService(quint16 port)
{
    const QString path = definitionPath(port);
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
        return Removal{};
    QFile file;
    if (QFileInfo(path).isSymLink() || openRegularFile(file, path) ||
        !fromUtf16(file.read(1 << 20)).contains(QLatin1String(kWrittenBy)))
        return QStringLiteral("\"%1\" is no task definition that the tool wrote, and is left as "
                              "it is.")
            .arg(path);
    // A task that Task Scheduler does not hold is no failure: it was never created.
    const bool deleted = !runForService(
        QStringLiteral("schtasks"),
        {QStringLiteral("/Delete"), QStringLiteral("/TN"), taskName(port), QStringLiteral("/F")});
    file.close();
    if (QFile remover(path); !remover.remove())
        return QStringLiteral("Could not remove \"%1\": %2.").arg(path, remover.errorString());
    return Removal{true, deleted};
}
