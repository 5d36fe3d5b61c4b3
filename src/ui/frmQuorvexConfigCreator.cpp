#include "frmQuorvexConfigCreator.h"

#include "ColourButton.h"
#include "MapCompleter.h"
#include "config/ConfigFile.h"
#include "config/CreateConfig.h"
#include "config/RegionCodeTable.h"
#include "launch/LaunchPlan.h"
#include "launch/RunConfig.h"
#include "options/SavedPaths.h"
#include "script/ScriptReader.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QIcon>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>

frmQuorvexConfigCreator::frmQuorvexConfigCreator(QWidget* parent) : QWidget(parent)
{
    using namespace WindowDesign;
    setObjectName(QStringLiteral("frmQuorvexConfigCreator"));
    setWindowTitle(kCaption);
    setFixedSize(kClientWidth / kTwipsPerPixel, kClientHeight / kTwipsPerPixel);
    setFont(fittingFont(font()));
    m_controls = createFormControls(*this);

    connect(m_controls.Command1, &QPushButton::clicked, this,
            &frmQuorvexConfigCreator::Command1_Click);
    connect(m_controls.Command2, &QPushButton::clicked, this,
            &frmQuorvexConfigCreator::Command2_Click);
    connect(m_controls.Command3, &QPushButton::clicked, this,
            &frmQuorvexConfigCreator::Command3_Click);
    setAcceptDrops(true);
    installEventFilter(this);
    for (QWidget* widget : findChildren<QWidget*>())
        widget->installEventFilter(this);
    Form_Load();
    new MapCompleter(m_controls.Text11, m_controls.Text10);
}

void frmQuorvexConfigCreator::identifyProgram()
{
    QGuiApplication::setDesktopFileName(QStringLiteral("com.veldorique.QuorvexConfigCreator"));
    // Only X11 takes the icon from the window: Windows takes it from the program's IDI_ICON1
    // resource, Wayland desktops from the desktop entry. Reading an image costs a look
    // through every image format plugin, which the others are spared.
    if (QGuiApplication::platformName() == u"xcb")
        QApplication::setWindowIcon(QIcon(QStringLiteral(":/quorvex-config-creator-48.png")));
}

ServerSettings frmQuorvexConfigCreator::currentSettings() const
{
    return m_controls.settings();
}

void frmQuorvexConfigCreator::warn(const QString& title, const QStringList& problems,
                                   QMessageBox::Icon icon, const QString& details)
{
    // Typed paths and values are shown as they are, never read as markup.
    QMessageBox box(icon, title, problems.join(QStringLiteral("\n\n")), QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.setDetailedText(details);
    box.exec();
}

void frmQuorvexConfigCreator::openScript(const QString& path)
{
    const std::variant<ScriptReading, QString> read = readScriptFile(path);
    if (const QString* problem = std::get_if<QString>(&read)) {
        warn(QStringLiteral("Open Script"), {*problem});
        return;
    }
    const ScriptReading& reading = std::get<ScriptReading>(read);
    ServerSettings settings = reading.settings();
    settings.gameDir = currentSettings().gameDir;
    settings.outputPath = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
    m_controls.setSettings(settings);
    // What the boxes show is what counts as unchanged.
    m_opened = Opened{
        fileIdentity(path).value_or(QByteArray()), fileKey(path), {reading, currentSettings()}};
    QStringList notices;
    if (const std::optional<QString> rotation = rotationNotice(reading))
        notices << *rotation;
    if (const std::optional<QString> latched = latchedNotice(reading))
        notices << *latched;
    if (!reading.map)
        notices << QStringLiteral("The script loads no map: %1. Initial Map is empty; a map "
                                  "given there is added to the script.")
                       .arg(reading.noMap);
    // The box names a few of the commands, and holds them all in its details.
    constexpr qsizetype kListed = 12;
    if (!reading.uncarried.isEmpty())
        notices << uncarriedWarning(u'"' + settings.outputPath + u'"', reading, Keeping::Kept,
                                    kListed);
    if (!notices.isEmpty())
        warn(QStringLiteral("Open Script"), notices, QMessageBox::Warning,
             reading.uncarried.size() > kListed ? uncarriedLines(reading).join(u'\n') : QString());
}

bool frmQuorvexConfigCreator::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop)
        return QWidget::eventFilter(watched, event);
    auto* drop = static_cast<QDropEvent*>(event);
    const QList<QUrl> urls = drop->mimeData()->urls();
    if (urls.size() != 1 || !urls[0].isLocalFile())
        return QWidget::eventFilter(watched, event);
    drop->acceptProposedAction();
    // A folder is the game directory, saved at close as a typed one would be.
    const QString path = urls[0].toLocalFile();
    if (type == QEvent::Drop && QFileInfo(path).isDir())
        m_controls.Text11->setText(QDir::toNativeSeparators(path));
    else if (type == QEvent::Drop)
        openScript(path);
    return true;
}

void frmQuorvexConfigCreator::closeEvent(QCloseEvent* event)
{
    // Closing ends the watch of a starting server, never the server.
    qDeleteAll(findChildren<RunConfig*>());
    Form_Unload();
    event->accept();
}

void frmQuorvexConfigCreator::Form_Load()
{
    const SavedPaths paths = loadSavedPaths();
    m_controls.Text11->setText(paths.gameDir);
    m_controls.txtSaveCfg->setText(paths.outputPath);
}

void frmQuorvexConfigCreator::Command1_Click()
{
    QMessageBox box(QMessageBox::Information, QStringLiteral("Region Codes"),
                    RegionCodeTable::dialogText(), QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void frmQuorvexConfigCreator::Command2_Click()
{
    // Written back to the script it was filled from, by whatever path or link, the form
    // edits it.
    const ServerSettings settings = currentSettings();
    const std::optional<QByteArray> output = fileIdentity(settings.outputPath);
    if (!m_opened || ((!output || *output != m_opened->identity) &&
                      fileKey(settings.outputPath) != m_opened->path)) {
        const ScriptPlaces* places = m_opened ? &m_opened->script.reading.places : nullptr;
        const QStringList rotation =
            places && places->rotation ? places->rotation->maps : QStringList();
        if (const Problems problems = createConfig(settings, m_script, rotation);
            !problems.isEmpty())
            warn(QStringLiteral("Create Config"), captioned(problems));
        return;
    }
    // A script changed on disk since it was opened gets the changes made here on top of it.
    const std::variant<ScriptReading, QString> now = readScriptFile(settings.outputPath);
    if (const QString* problem = std::get_if<QString>(&now))
        return warn(QStringLiteral("Create Config"), {*problem});
    OpenedScript& opened = m_opened->script;
    if (std::get<ScriptReading>(now).text != opened.reading.text)
        opened.reading = std::get<ScriptReading>(now);
    const WriteBack written = writeBack(settings, opened, std::nullopt);
    if (!written.problems.isEmpty())
        return warn(QStringLiteral("Create Config"), captioned(written.problems));
    QStringList notices = written.notices;
    for (const QString& unchanged : captioned(written.unchanged))
        notices << unchanged + QStringLiteral(" It is left as the script has it, since you did "
                                              "not change it.");
    // The form goes on from the script as written.
    opened = {readScript(written.text), settings};
    m_opened->identity = fileIdentity(settings.outputPath).value_or(QByteArray());
    if (!notices.isEmpty())
        warn(QStringLiteral("Create Config"), notices);
}

void frmQuorvexConfigCreator::Command3_Click()
{
    // The start is confirmed, or its failure reported, while the window stays usable.
    const ServerSettings settings = currentSettings();
    auto* run = new RunConfig(settings.gameDir, settings.outputPath, Archived::Kept, {}, this);
    // What the run tells on its way is said with its end: a server that ended by itself, and
    // where the start fails, the one that it stopped, as the question named it before.
    auto told = std::make_shared<QStringList>();
    auto stopped = std::make_shared<QStringList>();
    connect(run, &RunConfig::notice, this, [told](const QString& text) { *told << text; });
    connect(run, &RunConfig::finished, this, [this, run, told, stopped](const Problems& problems) {
        run->deleteLater();
        if (!problems.isEmpty())
            warn(QStringLiteral("Run Config"), *told + *stopped + captioned(problems));
        else if (!told->isEmpty())
            warn(QStringLiteral("Run Config"), *told);
    });
    // What cannot work is refused before the question, which would otherwise be for nothing.
    if (const Problems problems = run->check(); !problems.isEmpty())
        return emit run->finished(problems, {}, {});
    // A server of the tool's on the game's port would move the new one to another port.
    auto inTheWay = RunConfig::InTheWay::Refuse;
    if (const std::optional<ServerRecord> running = StartedServers::holdingGamePort()) {
        if (!askToReplace(running->described(askStatus(running->currentPort())))) {
            // What the check found on its way is still said, once.
            if (!told->isEmpty())
                warn(QStringLiteral("Run Config"), *told, QMessageBox::Information);
            return run->deleteLater();
        }
        inTheWay = RunConfig::InTheWay::Replace;
        connect(run, &RunConfig::stoppedInTheWay, this, [stopped](const QString& described) {
            *stopped << QStringLiteral("Stopped %1.").arg(described);
        });
    }
    run->start(inTheWay);
}

bool frmQuorvexConfigCreator::askToReplace(const QString& running)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Run Config"),
                    QStringLiteral("A server that this tool started already holds UDP port %1: "
                                   "%2.\n\nThe new server would take another port, where "
                                   "players do not look. Stop the running server and start "
                                   "the new one in its place?")
                        .arg(kServerPort)
                        .arg(running),
                    QMessageBox::NoButton, this);
    box.setTextFormat(Qt::PlainText);
    QPushButton* replace =
        box.addButton(QStringLiteral("&Stop and Start"), QMessageBox::AcceptRole);
    QPushButton* cancel = box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == replace;
}

void frmQuorvexConfigCreator::Form_Unload()
{
    const ServerSettings settings = currentSettings();
    if (const std::optional<QString> error =
            storeSavedPaths({settings.gameDir, settings.outputPath}))
        warn(WindowDesign::kCaption, {*error});
}
