#include "GameEngine.h"

#include "Files.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QNetworkDatagram>
#include <QThread>
#include <QUdpSocket>
#include <QtEndian>
#include <cstring>

namespace {

// Servers run on a base game with the map and the game module; scripts alone run on one
// with neither, so that no map command finds a map and starts a game.
const QString kServerBase = QStringLiteral("base");
const QString kScriptBase = QStringLiteral("scriptbase");
const QString kGameModule = QStringLiteral("/usr/lib/ioquake3/baseq3/qagamex86_64.so");
// What a variable holds before each script of a run: no script value looks like it.
const QByteArray kUnset = "(unset by the test)";

// A map of version 46 that the engine loads: one shader, plane, node, leaf and model, the
// other lumps empty, and the entities a deathmatch needs.
QByteArray smallMap()
{
    const auto ints = [](std::initializer_list<qint32> values) {
        QByteArray bytes;
        for (const qint32 v : values) {
            const qint32 le = qToLittleEndian(v);
            bytes.append(reinterpret_cast<const char*>(&le), 4);
        }
        return bytes;
    };
    const auto floats = [&](std::initializer_list<float> values) {
        QByteArray bytes;
        for (const float v : values) {
            qint32 i;
            std::memcpy(&i, &v, 4);
            bytes += ints({i});
        }
        return bytes;
    };
    const QByteArray entities = "{\n\"classname\" \"worldspawn\"\n}\n"
                                "{\n\"classname\" \"info_player_deathmatch\"\n"
                                "\"origin\" \"0 0 64\"\n}\n";
    QByteArray shader = "textures/common/caulk";
    shader.resize(64, '\0');
    shader += ints({0, 1});
    const QList<QByteArray> lumps = {
        entities + '\0',
        shader,
        floats({0, 0, 1, 0}),                                      // plane
        ints({0, -1, -1, -512, -512, -512, 512, 512, 512}),        // node
        ints({0, 0, -512, -512, -512, 512, 512, 512, 0, 0, 0, 0}), // leaf
        {},
        {},
        floats({-512, -512, -512, 512, 512, 512}) + ints({0, 0, 0, 0}), // model
        {},
        {},
        {},
        {},
        {},
        {},
        {},
        {},
        {}};
    QByteArray header = "IBSP" + ints({46});
    QByteArray body;
    const int headerSize = 8 + 8 * int(lumps.size());
    for (const QByteArray& lump : lumps) {
        header += ints({qint32(headerSize + body.size()), qint32(lump.size())});
        body += lump;
        body.append((4 - body.size() % 4) % 4, '\0');
    }
    return header + body;
}

// The script's variables in a file that the engine's writeconfig wrote, which holds
// seta NAME "VALUE" a line.
QHash<QString, QString> writtenCvars(const QByteArray& config)
{
    static const QStringList names = QString(kScriptCvars.join(u' ').toLower()).split(u' ');
    QHash<QString, QString> cvars;
    for (const QByteArray& line : config.split('\n')) {
        if (!line.startsWith("seta "))
            continue;
        const qsizetype space = line.indexOf(' ', 5);
        const QByteArray value = line.mid(space + 2, line.size() - space - 3);
        const QString name = QString::fromLatin1(line.mid(5, space - 5)).toLower();
        if (value != kUnset && names.contains(name))
            cvars.insert(name, QString::fromLatin1(value));
    }
    return cvars;
}

} // namespace

EngineTree::EngineTree(const QString& folder)
    : m_path(folder.isEmpty() ? m_temporary.path() : folder)
{
    const QString base = root() + u'/' + kServerBase;
    QDir().mkpath(base + QStringLiteral("/maps"));
    QDir().mkpath(root() + u'/' + kScriptBase);
    QDir().mkpath(arena());
    for (const QString& game : {kServerBase, kScriptBase})
        writeBytes(root() + u'/' + game + QStringLiteral("/default.cfg"), "// the tests' own\n");
    writeBytes(base + QStringLiteral("/maps/") + kMap + QStringLiteral(".bsp"), smallMap());
#ifdef Q_OS_WIN
    // Under Wine the module lies on drive Z:, and a Windows link would be a shortcut file.
    QFile::copy(QStringLiteral("Z:") + kGameModule, base + QStringLiteral("/qagamex86_64.so"));
#else
    QFile::link(kGameModule, base + QStringLiteral("/qagamex86_64.so"));
#endif
}

QStringList EngineTree::engineOptions()
{
    return engineOptions(kServerBase);
}

QStringList EngineTree::engineOptions(const QString& baseGame)
{
    const QString home = root() + QStringLiteral("/home%1").arg(++m_runs);
    QDir().mkpath(home);
    return {"+set", "com_basegame", baseGame, "+set", "fs_basepath", root(),
            "+set", "fs_homepath",  home,     "+set", "vm_game",     "0",
            "+set", "sv_master1",   "",       "+set", "sv_master2",  ""};
}

QList<ServerState> EngineTree::runScripts(const QList<QByteArray>& scripts)
{
    // Each step resets the variables, marks where its script's output starts, runs the
    // script, writes the variables out and goes on to the next step. The line after the
    // script ends a block comment that the script may have left open.
    const QString prefix = QStringLiteral("run%1_").arg(m_runs + 1);
    for (qsizetype i = 0; i < scripts.size(); ++i) {
        QByteArray step;
        for (const QString& name : kScriptCvars)
            step += "seta " + name.toLatin1() + " \"" + kUnset + "\"\n";
        const QByteArray n = (prefix + QString::number(i)).toLatin1();
        step += "echo @@script " + n + "\nexec " + n + "\n//*/\nwriteconfig state_" + n + "\n";
        step += i + 1 < scripts.size()
                    ? "exec step_" + prefix.toLatin1() + QByteArray::number(i + 1)
                    : QByteArray("echo @@done\nquit");
        writeBytes(arena() + u'/' + n + QStringLiteral(".cfg"), scripts[i]);
        writeBytes(arena() + QStringLiteral("/step_") + n + QStringLiteral(".cfg"), step + '\n');
    }
    QStringList options = engineOptions(kScriptBase);
    const QString home = options[options.indexOf(QStringLiteral("fs_homepath")) + 1];
    options << "+set"
            << "fs_game"
            << "arena"
            << "+set"
            << "dedicated"
            << "1"
            << "+set"
            << "net_enabled"
            << "0"
            << "+exec"
            << "step_" + prefix + u'0';
    QProcess engine;
    engine.setProcessChannelMode(QProcess::MergedChannels);
    engine.start(kEngineProgram, options);
    if (!engine.waitForFinished(300000))
        qFatal("the engine did not finish its scripts");
    const QByteArray log = engine.readAll();
    if (!log.contains("@@done"))
        qFatal("the engine stopped early:\n%s", log.right(2000).constData());

    QList<ServerState> states(scripts.size());
    qsizetype current = -1;
    for (const QByteArray& line : log.split('\n')) {
        if (line.startsWith("@@script " + prefix.toLatin1()))
            current = line.mid(9 + prefix.size()).toLongLong();
        else if (current >= 0 && line.startsWith("Can't find map "))
            states[current].mapFiles << QString::fromLatin1(line.mid(15));
    }
    for (qsizetype i = 0; i < scripts.size(); ++i)
        states[i].cvars = writtenCvars(
            readAll(home + QStringLiteral("/arena/state_") + prefix + QString::number(i) + ".cfg"));
    return states;
}

std::optional<QByteArray> askServer(const QByteArray& command, quint16 port, int timeoutMs)
{
    QUdpSocket socket;
    const QByteArray packet = QByteArray(4, '\xff') + command;
    if (socket.writeDatagram(packet, QHostAddress::LocalHost, port) != packet.size())
        return std::nullopt;
    const QDeadlineTimer deadline(timeoutMs);
    while (socket.waitForReadyRead(int(deadline.remainingTime()))) {
        const QByteArray answer = socket.receiveDatagram().data();
        if (answer.startsWith(QByteArray(4, '\xff')))
            return answer.mid(4);
    }
    return std::nullopt;
}

std::optional<QByteArray> waitForAnswer(const QByteArray& command, int timeoutMs, quint16 port)
{
    const QDeadlineTimer deadline(timeoutMs);
    do {
        if (std::optional<QByteArray> answer = askServer(command, port, 250))
            return answer;
        QThread::msleep(100);
    } while (!deadline.hasExpired());
    return std::nullopt;
}

QHash<QString, QString> infoPairs(const QByteArray& info)
{
    const QList<QByteArray> parts = info.split('\\');
    QHash<QString, QString> pairs;
    for (qsizetype i = 1; i + 1 < parts.size(); i += 2)
        pairs.insert(QString::fromLatin1(parts[i]), QString::fromLatin1(parts[i + 1]));
    return pairs;
}

EngineServer::EngineServer(EngineTree& tree, const QStringList& options)
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(kEngineProgram, tree.engineOptions() + options);
    m_process.waitForStarted();
}

EngineServer::~EngineServer()
{
    m_process.kill();
    m_process.waitForFinished();
}
