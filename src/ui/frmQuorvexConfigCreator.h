#pragma once

#include "FormControls.h"
#include "config/ConfigScript.h"
#include "config/ServerSettings.h"
#include "script/ScriptEdit.h"

#include <QMessageBox>
#include <QWidget>
#include <optional>

// The tool's only window: the form of server settings and its five handlers.
class frmQuorvexConfigCreator : public QWidget {
    Q_OBJECT

public:
    explicit frmQuorvexConfigCreator(QWidget* parent = nullptr);

    // Names the program to the desktop: its desktop entry and, where the window system
    // reads it from the window, its icon.
    static void identifyProgram();

    // The texts of the boxes as they stand now.
    ServerSettings currentSettings() const;

    // Fills the setting boxes from the server script at path, and the output box with its
    // path, so that Create Config writes it back; or says why it cannot, and changes nothing.
    void openScript(const QString& path);

protected:
    void closeEvent(QCloseEvent* event) override;
    // A script file dropped anywhere on the window opens, also on a box, which would
    // otherwise take its name as text; a folder becomes the game directory.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Form_Load();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Form_Unload();

    void warn(const QString& title, const QStringList& problems,
              QMessageBox::Icon icon = QMessageBox::Warning, const QString& details = {});
    // Whether the operator chooses to stop the running server to start the new one.
    bool askToReplace(const QString& running);

    FormControls m_controls;
    ConfigScript m_script; // holds strCfg from one "Create Config" to the next
    // The script that the form was last filled from: which file it is, by its identity and
    // its path, and how it read.
    struct Opened {
        QByteArray identity;
        QString path;
        OpenedScript script;
    };
    std::optional<Opened> m_opened;
};
