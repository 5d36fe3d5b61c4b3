#pragma once

#include "DesignedControls.h"
#include "config/ConfigScript.h"
#include "config/ServerSettings.h"

#include <QWidget>

// The tool's only window: the form of server settings and its five handlers.
class frmQuorvexConfigCreator : public QWidget {
    Q_OBJECT

public:
    explicit frmQuorvexConfigCreator(QWidget* parent = nullptr);

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

    DesignedControls m_controls;
    ConfigScript m_script; // holds strCfg from one "Create Config" to the next
};
