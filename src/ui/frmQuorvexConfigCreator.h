#pragma once

#include "FormControls.h"
#include "config/ConfigScript.h"
#include "config/ServerSettings.h"

#include <QWidget>

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

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Form_Load();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Form_Unload();

    void warn(const QString& title, const QStringList& problems);

    FormControls m_controls;
    ConfigScript m_script; // holds strCfg from one "Create Config" to the next
};
