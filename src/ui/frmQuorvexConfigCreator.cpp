#include "frmQuorvexConfigCreator.h"

#include "ColourButton.h"
#include "config/CreateConfig.h"
#include "config/RegionCodeTable.h"
#include "launch/ScriptNumbers.h"
#include "launch/ServerLaunch.h"
#include "launch/ServerWatch.h"
#include "options/SavedPaths.h"

#include <QApplication>
#include <QCloseEvent>
#include <QIcon>
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
    m_controls = createFormControls(*this);

    connect(m_controls.Command1, &QPushButton::clicked, this,
            &frmQuorvexConfigCreator::Command1_Click);
    connect(m_controls.Command2, &QPushButton::clicked, this,
            &frmQuorvexConfigCreator::Command2_Click);
    connect(m_controls.Command3, &QPushButton::clicked, this,
            &frmQuorvexConfigCreator::Command3_Click);
    Form_Load();
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

void frmQuorvexConfigCreator::warn(const QString& title, const QStringList& problems)
{
    // Typed paths and values are shown as they are, never read as markup.
    QMessageBox box(QMessageBox::Warning, title, problems.join(QStringLiteral("\n\n")),
                    QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
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
    if (const QStringList problems = createConfig(currentSettings(), m_script); !problems.isEmpty())
        warn(QStringLiteral("Create Config"), problems);
}

void frmQuorvexConfigCreator::Command3_Click()
{
    const ServerSettings settings = currentSettings();
    const std::variant<int, QString> number =
        drawScriptNumber(processScriptNumbers(), settings.gameDir, engineHomePath());
    if (const QString* error = std::get_if<QString>(&number)) {
        warn(QStringLiteral("Run Config"), {*error});
        return;
    }
    auto launched = launchServer(settings.gameDir, settings.outputPath, std::get<int>(number));
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
