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

} // namespace

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

namespace {

// The script's variables as the engine's print command shows them in the log, each from a
// line "NAME" is:"VALUE^7"..., followed by latched: "VALUE" when the value takes effect at
// the next map; a variable the script left alone holds kUnset or does not exist.
QHash<QString, QString> printedCvars(const QList<QByteArray>& lines)
{
    QHash<QString, QString> cvars;
    QString name;
    for (const QByteArray& line : lines) {
        QByteArray value;
        if (line.startsWith('"') && line.contains("\" is:\"")) {
            const qsizetype is = line.indexOf("\" is:\"");
            name = QString::fromLatin1(line.mid(1, is - 1)).toLower();
            value = line.mid(is + 6, line.indexOf('"', is + 6) - is - 6);
            value.chop(value.endsWith("^7") ? 2 : 0);
        } else if (line.startsWith("latched: \"") && !name.isEmpty()) {
            value = line.mid(10, line.lastIndexOf('"') - 10);
        } else {
            continue;
        }
        if (value == kUnset)
            cvars.remove(name);
        else
            cvars.insert(name, QString::fromLatin1(value));
    }
    return cvars;
}
} // namespace

EngineTree::EngineTree(const QString& folder)
    : m_path(folder.isEmpty() ? m_temporary.path() : folder)
{
    const QString base = root() + u'/' + kServerBase;
    QDir().mkpath(base);
    QDir().mkpath(root() + QStringLiteral("/baseq3/maps"));
    QDir().mkpath(root() + u'/' + kScriptBase);
    QDir().mkpath(arena());
    for (const QString& game : {kServerBase, kScriptBase})
        writeBytes(root() + u'/' + game + QStringLiteral("/default.cfg"), "// the tests' own\n");
    writeBytes(root() + QStringLiteral("/baseq3/maps/") + kMap + QStringLiteral(".bsp"),
               smallMap());
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
    QStringList options{"+set", "com_basegame", baseGame, "+set", "fs_basepath", root(),
                        "+set", "fs_homepath",  home,     "+set", "vm_game",     "0",
                        "+set", "sv_master1",   "",       "+set", "sv_master2",  ""};
    // A server's base game of the tests' own stands in for the game's, whose pak0.pk3 the
    // engine would want; baseq3 with the map comes after it, as under a mod based on it.
    if (baseGame == kServerBase)
        options << "+set"
                << "fs_basegame"
                << "baseq3";
    return options;
}

QList<ServerState> EngineTree::runScripts(const QList<QByteArray>& scripts,
                                          const QStringList& alsoPrinted)
{
    // Each step resets the variables, marks where its script's output starts, runs the
    // script, prints the variables and goes on to the next step. A variable that a script
    // created is removed, and one of the engine's own is set to kUnset by the bare form,
    // which sets only what exists. The line after the script ends a block comment that the
    // script may have left open.
    const QString prefix = QStringLiteral("run%1_").arg(m_runs + 1);
    for (qsizetype i = 0; i < scripts.size(); ++i) {
        QByteArray step;
        for (const QString& name : kScriptCvars)
            step += "unset " + name.toLatin1() + "\n" + name.toLatin1() + " \"" + kUnset + "\"\n";
        const QByteArray n = (prefix + QString::number(i)).toLatin1();
        step += "echo @@script " + n + "\nexec " + n + "\n//*/\necho @@state\n";
        for (const QString& name : kScriptCvars + alsoPrinted)
            step += "print " + name.toLatin1() + "\n";
        step += i + 1 < scripts.size()
                    ? "exec step_" + prefix.toLatin1() + QByteArray::number(i + 1)
                    : QByteArray("echo @@done\nquit");
        writeBytes(arena() + u'/' + n + QStringLiteral(".cfg"), scripts[i]);
        writeBytes(arena() + QStringLiteral("/step_") + n + QStringLiteral(".cfg"), step + '\n');
    }
    QStringList options = engineOptions(kScriptBase);
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
    QList<QList<QByteArray>> printed(scripts.size());
    qsizetype current = -1;
    bool inState = false;
    for (const QByteArray& line : log.split('\n')) {
        if (line.startsWith("@@script " + prefix.toLatin1())) {
            current = line.mid(9 + prefix.size()).toLongLong();
            inState = false;
        } else if (line == "@@state") {
            inState = true;
        } else if (current >= 0 && inState) {
            printed[current] << line;
        } else if (current >= 0 && line.startsWith("Can't find map ")) {
            states[current].mapFiles << QString::fromLatin1(line.mid(15));
        }
    }
    for (qsizetype i = 0; i < scripts.size(); ++i)
        states[i].cvars = printedCvars(printed[i]);
    return states;
}

QList<ServerState> EngineTree::runEach(const QList<QByteArray>& scripts, const QByteArray& archive)
{
    // A few engines at a time, each on a script of its own that prints the state after it.
    constexpr qsizetype kAtOnce = 6;
    QList<ServerState> states(scripts.size());
    for (qsizetype first = 0; first < scripts.size(); first += kAtOnce) {
        std::vector<std::unique_ptr<QProcess>> engines;
        for (qsizetype i = first; i < std::min(first + kAtOnce, scripts.size()); ++i) {
            const QString name = QStringLiteral("each%1_%2").arg(m_runs + 1).arg(i);
            // The line after the script ends a block comment that it may have left open.
            QByteArray printed = "exec " + name.toLatin1() + "\n//*/\necho @@state\n";
            for (const QString& variable : kScriptCvars)
                printed += "print " + variable.toLatin1() + "\n";
            writeBytes(arena() + u'/' + name + QStringLiteral(".cfg"), scripts[i]);
            writeBytes(arena() + u'/' + name + QStringLiteral("_state.cfg"), printed + "quit\n");
            const QStringList options = engineOptions();
            if (!archive.isEmpty()) {
                const QString home = root() + QStringLiteral("/home%1/arena").arg(m_runs);
                QDir().mkpath(home);
                writeBytes(home + QStringLiteral("/q3config_server.cfg"), archive);
            }
            auto engine = std::make_unique<QProcess>();
            engine->setProcessChannelMode(QProcess::MergedChannels);
            engine->start(kEngineProgram,
                          options + QStringList{"+set", "fs_game", "arena", "+set", "dedicated",
                                                "1", "+set", "net_enabled", "0", "+exec",
                                                name + QStringLiteral("_state")});
            engines.push_back(std::move(engine));
        }
        for (qsizetype i = 0; i < qsizetype(engines.size()); ++i) {
            QProcess& engine = *engines[i];
            if (!engine.waitForFinished(60000))
                qFatal("the engine did not finish its script");
            ServerState& state = states[first + i];
            QList<QByteArray> printed;
            bool inState = false;
            for (const QByteArray& line : engine.readAll().split('\n')) {
                if (line == "@@state")
                    inState = true;
                else if (inState)
                    printed << line;
                else if (line.startsWith("Server: "))
                    state.map = QString::fromLatin1(line.mid(8));
                else if (line.startsWith("Can't find map "))
                    state.mapFiles << QString::fromLatin1(line.mid(15));
            }
            // The running level's values: a latched value waits for the next map.
            printed.removeIf([](const QByteArray& line) { return line.startsWith("latched: "); });
            state.cvars = printedCvars(printed);
        }
    }
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
