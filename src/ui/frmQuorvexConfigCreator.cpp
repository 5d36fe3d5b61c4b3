#include "frmQuorvexConfigCreator.h"

#include "DesignedControls.h"
#include "WindowDesign.h"
#include "config/CreateConfig.h"
#include "config/RegionCodeTable.h"
#include "launch/ScriptNumbers.h"
#include "launch/ServerLaunch.h"
#include "launch/ServerWatch.h"
#include "options/SavedPaths.h"

#include <QCloseEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

frmQuorvexConfigCreator::frmQuorvexConfigCreator(QWidget* parent) : QWidget(parent)
{
    using namespace WindowDesign;
    setObjectName(QStringLiteral("frmQuorvexConfigCreator"));
    setWindowTitle(kCaption);
    setFixedSize(kClientWidth / kTwipsPerPixel, kClientHeight / kTwipsPerPixel);
    setFont(fittingFont(font()));
    createDesignedControls(*this);

    connect(findChild<QPushButton*>(QStringLiteral("Command1")), &QPushButton::clicked, this,
            &frmQuorvexConfigCreator::Command1_Click);
    connect(findChild<QPushButton*>(QStringLiteral("Command2")), &QPushButton::clicked, this,
            &frmQuorvexConfigCreator::Command2_Click);
    connect(findChild<QPushButton*>(QStringLiteral("Command3")), &QPushButton::clicked, this,
            &frmQuorvexConfigCreator::Command3_Click);
    Form_Load();
}

ServerSettings frmQuorvexConfigCreator::currentSettings() const
{
    ServerSettings settings;
    for (const WindowDesign::FocusStop& stop : WindowDesign::kFocusStops) {
        if (stop.setting)
            settings.*stop.setting = boxText(*findChild<QWidget*>(QLatin1String(stop.name)));
    }
    return settings;
}

void frmQuorvexConfigCreator::setBoxText(SettingsMember setting, const QString& text)
{
    const auto stop =
        std::find_if(WindowDesign::kFocusStops.begin(), WindowDesign::kFocusStops.end(),
                     [setting](const WindowDesign::FocusStop& s) { return s.setting == setting; });
    findChild<QLineEdit*>(QLatin1String(stop->name))->setText(text);
}

void frmQuorvexConfigCreator::warn(const QString& title, const QStringList& problems)
{
    QMessageBox::warning(this, title, problems.join(QStringLiteral("\n\n")));
}

void frmQuorvexConfigCreator::closeEvent(QCloseEvent* event)
{
    // Closing ends the watch of a starting server, never the server.
    qDeleteAll(findChildren<ServerWatch*>());
    Form_Unload();
    event->accept();
}

void frmQuorvexConfigCreator::Form_Load()
{
    const SavedPaths paths = loadSavedPaths();
    setBoxText(&ServerSettings::gameDir, paths.gameDir);
    setBoxText(&ServerSettings::outputPath, paths.outputPath);
}

void frmQuorvexConfigCreator::Command1_Click()
{
    QMessageBox box(QMessageBox::Information, QStringLiteral("Region Codes"),
                    RegionCodeTable::dialogText(), QMessageBox::Ok, this);
    box.exec();
}

void frmQuorvexConfigCreator::Command2_Click()
{
    if (const QStringList problems = createConfig(currentSettings(), m_script); !problems.isEmpty())
        warn(QStringLiteral("Create Config"), problems);
}

void frmQuorvexConfigCreator::Command3_Click()
{
    const ServerSettings settings = currentSettings();
    auto launched =
        launchServer(settings.gameDir, settings.outputPath, processScriptNumbers().next());
    if (const QString* error = std::get_if<QString>(&launched)) {
        warn(QStringLiteral("Run Config"), {*error});
        return;
    }
    // The start is confirmed, or its failure reported, while the window stays usable.
    auto* watch = new ServerWatch(std::move(std::get<StartedServer>(launched)), this);
    connect(watch, &ServerWatch::finished, this, [this, watch](const QStringList& problems) {
        watch->deleteLater();
        if (!problems.isEmpty())
            warn(QStringLiteral("Run Config"), problems);
    });
}

void frmQuorvexConfigCreator::Form_Unload()
{
    const ServerSettings settings = currentSettings();
    if (const std::optional<QString> error =
            storeSavedPaths({settings.gameDir, settings.outputPath}))
        warn(WindowDesign::kCaption, {*error});
}
