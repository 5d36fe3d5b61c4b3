#include "config/ConfigFile.h"
#include "config/ConfigScript.h"
#include "config/RegionCodeTable.h"
#include "launch/LaunchPlan.h"
#include "launch/RunConfig.h"
#include "options/SavedPaths.h"
#include "servers/ProcessControl.h"
#include "servers/ScriptNumbers.h"
#include "servers/ServerProcess.h"
#include "support/FakeGameTree.h"
#include "support/Files.h"
#include "support/Processes.h"
#include "support/ZipWriter.h"
#include "ui/ColourButton.h"
#include "ui/FormControls.h"
#include "ui/MapCompleter.h"
#include "ui/MessageBoxCatcher.h"
#include "ui/frmQuorvexConfigCreator.h"

#include <QAbstractItemView>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>
#include <algorithm>

namespace {

QRect twips(int left, int top, int width, int height)
{
    return QRect(left / 15, top / 15, width / 15, height / 15);
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_configHome;
    QTemporaryDir m_home;
    std::unique_ptr<frmQuorvexConfigCreator> m_window;

    template <typename T = QWidget> T* control(const char* name) const
    {
        T* found = m_window->findChild<T*>(QLatin1String(name));
        if (!found)
            qFatal("no control %s", name);
        return found;
    }

    void setText(const char* box, const QString& text) { control<QLineEdit>(box)->setText(text); }

    // The arena folder's files once the server has started with script: the script, and
    // where the server's console goes to a log, that log.
    static QStringList arenaAfterStart(const QString& script)
    {
        QStringList files{script + ".cfg"};
        if (serverLogsToFile())
            files << script + ".log";
        return files;
    }

    // Whether the boxes a start showed say no more than that the stand-in server stopped,
    // as it does once it has recorded its start: the watch may say so at any moment.
    static bool stoppedAtMost(const QList<SeenMessageBox>& seen)
    {
        return std::all_of(seen.begin(), seen.end(), [](const SeenMessageBox& box) {
            return box.text.startsWith(QStringLiteral("The game server stopped within"));
        });
    }

    void click(const char* button) { QTest::mouseClick(control(button), Qt::LeftButton); }

    // Clicks a button whose handler may show message boxes, and returns what they showed.
    QList<SeenMessageBox> clickAndCatch(const char* button)
    {
        MessageBoxCatcher catcher;
        click(button);
        QCoreApplication::processEvents();
        return catcher.seen();
    }

private slots:
    void cleanupTestCase() { checkNothingLeftRunning(); }

    void initTestCase()
    {
        adoptOrphans();
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_configHome.path());
        // The engine's home path, where Run Config looks for scripts that would shadow its own.
        qputenv("HOME", m_home.path().toLocal8Bit());
        qunsetenv("XDG_STATE_HOME");
    }

    void init()
    {
        // Opening a file without a name, as a watch reading a log where none is kept would.
        QTest::failOnWarning(QRegularExpression(QStringLiteral("^QFSFileEngine::open: ")));
#ifdef Q_OS_WIN
        QSettings(QStringLiteral("HKEY_CURRENT_USER\\Software\\VELDORIQUE"),
                  QSettings::NativeFormat)
            .clear();
#else
        QFile::remove(m_configHome.filePath("VELDORIQUE.conf"));
#endif
        // The servers of earlier tests, which their trees stopped, are not told of again.
        QDir(stateFolder() + QStringLiteral("/servers")).removeRecursively();
        m_window = std::make_unique<frmQuorvexConfigCreator>();
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }

    void cleanup()
    {
        m_window.reset();
    }

    void windowHasItsDesignSize()
    {
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Quorvex Server Config Creator"));
        QCOMPARE(m_window->objectName(), QStringLiteral("frmQuorvexConfigCreator"));
        QCOMPARE(m_window->size(), QSize(449, 506));
        QCOMPARE(m_window->minimumSize(), m_window->maximumSize());
        QCOMPARE(m_window->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly).size(),
                 30);
    }

    void boxesAndButtonsFollowTheDesign_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QRect>("place");
        QTest::addColumn<QString>("text");
        QTest::newRow("Text1") << "Text1"
                               << "QLineEdit" << twips(1560, 120, 5055, 285) << "";
        QTest::newRow("Text2") << "Text2"
                               << "QPlainTextEdit" << twips(1560, 480, 5055, 1095) << "";
        QTest::newRow("Text3") << "Text3"
                               << "QLineEdit" << twips(1560, 1680, 5055, 285) << "16";
        QTest::newRow("Text4") << "Text4"
                               << "QLineEdit" << twips(1560, 2040, 5055, 285) << "30";
        QTest::newRow("Text12") << "Text12"
                                << "QLineEdit" << twips(1800, 2640, 4815, 285) << "";
        QTest::newRow("Text5") << "Text5"
                               << "QLineEdit" << twips(1560, 3120, 5055, 285) << "0";
        QTest::newRow("Text6") << "Text6"
                               << "QLineEdit" << twips(1560, 3720, 5055, 285) << "";
        QTest::newRow("Text7") << "Text7"
                               << "QLineEdit" << twips(1560, 4320, 5055, 285) << "";
        QTest::newRow("Text8") << "Text8"
                               << "QLineEdit" << twips(1560, 4920, 5055, 285) << "";
        QTest::newRow("Text9") << "Text9"
                               << "QLineEdit" << twips(1560, 5520, 5055, 285) << "0";
        QTest::newRow("Text10") << "Text10"
                                << "QLineEdit" << twips(2520, 5880, 4095, 285) << "quorvexmap1";
        QTest::newRow("Command1") << "Command1"
                                  << "ColourButton" << twips(120, 6120, 1455, 615)
                                  << "Click here for Region Numbers";
        QTest::newRow("Command2") << "Command2"
                                  << "ColourButton" << twips(1680, 6240, 1455, 495)
                                  << "Create Config";
        QTest::newRow("Command3") << "Command3"
                                  << "ColourButton" << twips(3240, 6240, 1215, 495) << "Run Config";
        QTest::newRow("Text11") << "Text11"
                                << "QLineEdit" << twips(120, 6840, 6495, 285) << "Q3 DIR HERE";
        QTest::newRow("txtSaveCfg") << "txtSaveCfg"
                                    << "QLineEdit" << twips(120, 7200, 6495, 285)
                                    << "CONFIG OUTPUT (EXAMPLE: C:\\MYCONF.CFG)";
    }

    void boxesAndButtonsFollowTheDesign()
    {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(QRect, place);
        QFETCH(QString, text);
        QWidget* widget = control(qPrintable(name));
        QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), kind);
        QCOMPARE(widget->geometry(), place);
        QVERIFY(widget->isEnabled());
        if (auto* box = qobject_cast<QLineEdit*>(widget)) {
            QCOMPARE(box->text(), text);
            QCOMPARE(box->echoMode(), QLineEdit::Normal);
            QVERIFY(!box->isReadOnly());
            QVERIFY(box->alignment() & Qt::AlignLeft);
            QVERIFY(box->maxLength() >= 1 << 30);
        } else if (auto* multiLine = qobject_cast<QPlainTextEdit*>(widget)) {
            QCOMPARE(multiLine->toPlainText(), text);
            QCOMPARE(multiLine->lineWrapMode(), QPlainTextEdit::NoWrap);
            QCOMPARE(multiLine->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
            QCOMPARE(multiLine->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        } else {
            QCOMPARE(qobject_cast<QPushButton*>(widget)->text(), text);
        }
        // Every box ends 120 twips short of the window's right edge.
        if (kind != "ColourButton")
            QCOMPARE(widget->geometry().right() + 1, (6735 - 120) / 15);
    }

    void controlsCarryTheirColours()
    {
        QCOMPARE(control<ColourButton>("Command1")->fill(), QColor(255, 128, 128));
        QCOMPARE(control<ColourButton>("Command2")->fill(), QColor(192, 192, 0));
        QCOMPARE(control<ColourButton>("Command3")->fill(), QColor(192, 0, 192));
        QCOMPARE(control("Text11")->palette().color(QPalette::Base), QColor(192, 0, 192));
        QCOMPARE(control("txtSaveCfg")->palette().color(QPalette::Base), QColor(255, 0, 0));

        // The fill is what the operator sees, caption and all.
        const QImage face = control("Command2")->grab().toImage();
        QCOMPARE(face.pixelColor(10, 10), QColor(192, 192, 0));
    }

    void captionsStayReadableOnTheirFills_data()
    {
        QTest::addColumn<QPalette>("palette");
        QTest::addColumn<bool>("designColours");
        QPalette dark;
        dark.setColor(QPalette::Window, QColor(53, 53, 53));
        dark.setColor(QPalette::WindowText, QColor(238, 238, 238));
        dark.setColor(QPalette::Base, QColor(42, 42, 42));
        dark.setColor(QPalette::Text, QColor(238, 238, 238));
        dark.setColor(QPalette::Button, QColor(53, 53, 53));
        dark.setColor(QPalette::ButtonText, QColor(200, 200, 200));
        QTest::newRow("dark") << dark << false;
        QTest::newRow("light") << QApplication::style()->standardPalette() << true;
    }

    // In a light palette the captions take the design's colours: the theme's text colour,
    // and black on the purple game directory box. In any palette a caption's colour stands
    // at least 3:1 from its fill, and the caption is drawn in it: its strongest pixel on the
    // caption's side of the fill comes close to that colour's contrast, as close as the
    // antialiasing of the small font lets it.
    void captionsStayReadableOnTheirFills()
    {
        QCOMPARE(qRound(contrastRatio(Qt::black, Qt::white)), 21);
        QFETCH(QPalette, palette);
        QFETCH(bool, designColours);
        const QPalette before = QApplication::palette();
        QApplication::setPalette(palette);
        m_window = std::make_unique<frmQuorvexConfigCreator>();
        QApplication::setPalette(before);
        m_window->show();
        setText("Text11", "/games/quake3");
        setText("txtSaveCfg", "/games/my.cfg");
        for (const char* name : {"Command1", "Command2", "Command3", "Text11", "txtSaveCfg"}) {
            QWidget* widget = control(name);
            const auto* button = qobject_cast<ColourButton*>(widget);
            const QPalette::ColorRole role = button ? QPalette::ButtonText : QPalette::Text;
            const QColor caption = widget->palette().color(role);
            if (designColours)
                QCOMPARE(caption,
                         qstrcmp(name, "Text11") == 0 ? QColor(Qt::black) : palette.color(role));
            const QColor fill = button ? button->fill() : widget->palette().color(QPalette::Base);
            const double readable = contrastRatio(caption, fill);
            QVERIFY2(readable >= 3, qPrintable(QStringLiteral("%1: %2:1").arg(name).arg(readable)));
            // Only pixels on the caption's side of the fill, lighter or darker, count.
            const auto lighter = [&](QColor c) {
                return contrastRatio(c, Qt::black) > contrastRatio(fill, Qt::black);
            };
            const QImage image = widget->grab().toImage();
            double strongest = 1;
            for (int y = 4; y < image.height() - 4; ++y) {
                for (int x = 4; x < image.width() - 4; ++x) {
                    const QColor pixel = image.pixelColor(x, y);
                    if (lighter(pixel) == lighter(caption))
                        strongest = std::max(strongest, contrastRatio(pixel, fill));
                }
            }
            QVERIFY2(strongest >= 0.8 * readable,
                     qPrintable(QStringLiteral("%1: drawn at %2:1 of %3:1")
                                    .arg(name)
                                    .arg(strongest)
                                    .arg(readable)));
        }
    }

    void labelsFollowTheDesign_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QRect>("place"); // size empty: fits its caption
        QTest::addColumn<QString>("describes");
        QTest::newRow("Label1") << "Label1" << QStringList{"Server Name:"} << twips(120, 120, 0, 0)
                                << "Text1";
        QTest::newRow("Label2") << "Label2" << QStringList{"Server Description:"}
                                << twips(120, 480, 0, 0) << "Text2";
        QTest::newRow("Label4") << "Label4" << QStringList{"(Message of the", "Day)"}
                                << twips(120, 720, 1335, 495) << "Text2";
        QTest::newRow("Label3") << "Label3" << QStringList{"Maximum Clients:"}
                                << twips(120, 1680, 0, 0) << "Text3";
        QTest::newRow("Label5") << "Label5" << QStringList{"Time Limit in", "minutes:"}
                                << twips(120, 2040, 1335, 435) << "Text4";
        QTest::newRow("Label12") << "Label12" << QStringList{"Connection password:"}
                                 << twips(120, 2640, 0, 0) << "Text12";
        QTest::newRow("Label6") << "Label6"
                                << QStringList{"Reserved Client", "Spaces (only with", "password):"}
                                << twips(120, 3000, 1335, 615) << "Text5";
        QTest::newRow("Label7") << "Label7" << QStringList{"Reserved Client", "Password:"}
                                << twips(120, 3720, 1215, 375) << "Text6";
        QTest::newRow("Label8") << "Label8" << QStringList{"Administrator", "Password:"}
                                << twips(120, 4320, 1095, 375) << "Text7";
        QTest::newRow("Label9") << "Label9" << QStringList{"Remote Console", "Password:"}
                                << twips(120, 4920, 1335, 375) << "Text8";
        QTest::newRow("Label10") << "Label10" << QStringList{"Server", "Region/Location:"}
                                 << twips(120, 5520, 1335, 495) << "Text9";
        QTest::newRow("Label11") << "Label11" << QStringList{"Initial Map:"}
                                 << twips(1680, 5880, 0, 0) << "Text10";
    }

    void labelsFollowTheDesign()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, lines);
        QFETCH(QRect, place);
        QFETCH(QString, describes);
        auto* label = control<QLabel>(qPrintable(name));
        QCOMPARE(label->text(), lines.join(u'\n'));
        QCOMPARE(label->accessibleName(), lines.join(u' '));
        QCOMPARE(label->buddy(), control(qPrintable(describes)));
        QCOMPARE(label->geometry().topLeft(), place.topLeft());
        QCOMPARE(label->focusPolicy(), Qt::NoFocus);
        QVERIFY(!label->wordWrap());

        const QFontMetrics metrics(label->font());
        if (place.isEmpty()) {
            // One line, exactly as large as its caption, a pixel or more clear of its box.
            QCOMPARE(label->size(), metrics.size(Qt::TextSingleLine, label->text()));
            QVERIFY(label->geometry().right() + 1 < control(qPrintable(describes))->x());
        } else {
            // Its given box, holding every line down to the last one's baseline.
            QCOMPARE(label->size(), place.size());
            for (const QString& line : lines)
                QVERIFY(metrics.horizontalAdvance(line) <= label->width());
            QVERIFY((lines.size() - 1) * metrics.lineSpacing() + metrics.ascent() <=
                    label->height());
        }
    }

    void designFontKeepsTheDesignLineHeight()
    {
        QVERIFY(QFontMetrics(m_window->font()).lineSpacing() <= 13);
        QVERIFY(QFontMetrics(m_window->font()).lineSpacing() >= 10);
    }

    void linesMeetBesideTheButtons()
    {
        auto* horizontal = control<QFrame>("Line4");
        auto* vertical = control<QFrame>("Line1");
        QCOMPARE(horizontal->frameShape(), QFrame::HLine);
        QCOMPARE(vertical->frameShape(), QFrame::VLine);
        QCOMPARE(horizontal->geometry(), QRect(QPoint(312, 432), QPoint(416, 432)));
        QCOMPARE(vertical->geometry(), QRect(QPoint(416, 416), QPoint(416, 432)));
        QCOMPARE(horizontal->focusPolicy(), Qt::NoFocus);
    }

    void boxesAreNamedForScreenReaders()
    {
        QCOMPARE(control("Text1")->accessibleName(), QStringLiteral("Server Name"));
        QCOMPARE(control("Text2")->accessibleName(),
                 QStringLiteral("Server Description (Message of the Day)"));
        QCOMPARE(control("Text12")->accessibleName(), QStringLiteral("Connection password"));
        QCOMPARE(control("Text11")->accessibleName(), QStringLiteral("Game directory"));
        QCOMPARE(control("txtSaveCfg")->accessibleName(), QStringLiteral("Config output path"));
    }

    void tabVisitsTheBoxesInScreenOrder()
    {
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        const QStringList order = {"Text1",      "Text2",    "Text3",    "Text4",    "Text12",
                                   "Text5",      "Text6",    "Text7",    "Text8",    "Text9",
                                   "Text10",     "Command1", "Command2", "Command3", "Text11",
                                   "txtSaveCfg", "Text1"};
        QCOMPARE(QApplication::focusWidget()->objectName(), order.first());
        for (const QString& next : order.mid(1)) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget()->objectName(), next);
        }
        for (qsizetype i = order.size() - 2; i >= 0; --i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
            QCOMPARE(QApplication::focusWidget()->objectName(), order[i]);
        }
        QCOMPARE(control<QPlainTextEdit>("Text2")->toPlainText(), QString());
    }

    void enterInTheMessageOfTheDayStartsALine()
    {
        auto* motd = control<QPlainTextEdit>("Text2");
        motd->setFocus();
        QTest::keyClicks(motd, QStringLiteral("Welcome\u00a0to"));
        QTest::keyClick(motd, Qt::Key_Return);
        QTest::keyClicks(motd, "have fun");
        QTest::keyClick(motd, Qt::Key_Return, Qt::ShiftModifier);
        QTest::keyClicks(motd, "all");
        // The no-break space stays what was typed; either kind of line break is CR LF.
        QCOMPARE(m_window->currentSettings().motd,
                 QStringLiteral("Welcome\u00a0to\r\nhave fun\r\nall"));
    }

    void enterAndEscapeClickNothing()
    {
        QTemporaryDir dir;
        setText("txtSaveCfg", dir.filePath("server.cfg"));
        MessageBoxCatcher catcher;
        for (const char* box : {"Text1", "Text3", "Text9", "Text10", "Text11", "txtSaveCfg"}) {
            control(box)->setFocus();
            QTest::keyClick(control(box), Qt::Key_Return);
            QTest::keyClick(control(box), Qt::Key_Enter);
            QTest::keyClick(control(box), Qt::Key_Escape);
        }
        QTest::qWait(50);
        QVERIFY(catcher.seen().isEmpty());
        QVERIFY(!QFile::exists(dir.filePath("server.cfg")));
        QVERIFY(m_window->isVisible());
    }

    void regionNumbersShowInAnInformationBox()
    {
        QList<SeenMessageBox> seen = clickAndCatch("Command1");
        QCOMPARE(seen.size(), 1);
        QCOMPARE(seen[0].title, QStringLiteral("Region Codes"));
        QCOMPARE(seen[0].text, RegionCodeTable::dialogText());
        QCOMPARE(seen[0].icon, QMessageBox::Information);
        QCOMPARE(seen[0].buttons.size(), 1);
        QCOMPARE(seen[0].buttons[0].remove(u'&'), QStringLiteral("OK"));
    }

    void createConfigWritesTheTypedSettings()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("server.cfg");
        QTest::keyClicks(control("Text1"), "Grelt's Arena");
        QTest::keyClicks(control("Text8"), "rcon;pass");
        control<QLineEdit>("Text9")->clear();
        QTest::keyClicks(control("Text9"), "7");
        setText("txtSaveCfg", path);

        QCOMPARE(clickAndCatch("Command2").size(), 0);
        const QByteArray bytes = readAll(path);
        QVERIFY(bytes.contains("\r\nset sv_hostname \"Grelt's Arena\"\r\n"));
        QVERIFY(bytes.contains("\r\nset rconPassword \"rcon;pass\"\r\n"));
        QVERIFY(bytes.contains("\r\nset location 7\r\n"));
        QVERIFY(bytes.endsWith("\r\nmap quorvexmap1\r\n"));
        ConfigScript script;
        script.build(m_window->currentSettings());
        QCOMPARE(bytes, configFileBytes(script.strCfg()));
    }

    void createConfigShowsEveryProblemAndWritesNothing()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("server.cfg");
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old");
        old.close();
        setText("txtSaveCfg", path);
        setText("Text7", "x\";quit;\"");
        auto* motd = control<QPlainTextEdit>("Text2");
        QTest::keyClicks(motd, "one");
        QTest::keyClick(motd, Qt::Key_Return);

        const QList<SeenMessageBox> seen = clickAndCatch("Command2");
        QCOMPARE(seen.size(), 1);
        QCOMPARE(seen[0].title, QStringLiteral("Create Config"));
        QCOMPARE(seen[0].icon, QMessageBox::Warning);
        QVERIFY(seen[0].text.contains("Server Description (Message of the Day): remove the "
                                      "line breaks"));
        QVERIFY(seen[0].text.contains("Administrator Password: remove the double quotes"));
        QCOMPARE(readAll(path), QByteArray("old"));
    }

    void createConfigReportsAFailedWrite()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("<b>missing</b>/server.cfg");
        setText("txtSaveCfg", path);
        const QList<SeenMessageBox> seen = clickAndCatch("Command2");
        QCOMPARE(seen.size(), 1);
        QCOMPARE(seen[0].title, QStringLiteral("Create Config"));
        QCOMPARE(seen[0].format, Qt::PlainText);
        QVERIFY(seen[0].text.startsWith("Could not write the config file \"" + path + "\""));
    }

    // A script that the tool wrote, with a command the form cannot carry added, opens when
    // dropped onto a box, which would otherwise take its name as text: the boxes show its
    // settings, the game directory stays, a warning names the command by its line, and Create
    // Config writes the tool's script back with that command kept where it stood. A file that is no
    // script changes nothing; a folder dropped becomes the game directory.
    void aDroppedScriptOpensAndIsWrittenBack()
    {
        QTemporaryDir dir;
        ServerSettings s = designSettings();
        s.serverName = "Opened Arena";
        s.rconPassword = "r;c";
        s.initialMap = "q3dm17";
        s.gameDir = "/games/q3";
        s.outputPath = QDir::toNativeSeparators(dir.filePath("opened.cfg"));
        // More commands than the box names, which its details list in full.
        QStringList extras{"exec extra"};
        for (int i = 2; i <= 14; ++i)
            extras << QStringLiteral("exec extra%1").arg(i);
        const QByteArray opened = (extras.join("\r\n") + "\r\n").toLatin1() + configFileFor(s);
        writeBytes(s.outputPath, opened);
        writeBytes(dir.filePath("picture.png"), "\x89PNG\r\n\x1a\n");
        setText("Text11", s.gameDir);
        const ServerSettings before = m_window->currentSettings();
        MessageBoxCatcher catcher;
        m_window->openScript(dir.filePath("picture.png"));
        QVERIFY(m_window->currentSettings() == before);

        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(s.outputPath)});
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(control("Text1"), &enter);
        QApplication::sendEvent(control("Text1"), &drop);
        QVERIFY(enter.isAccepted() && drop.isAccepted());
        QVERIFY(m_window->currentSettings() == s);
        QTRY_COMPARE(catcher.seen().size(), 2);
        QVERIFY2(catcher.seen()[1].text.contains("carry:\nline 1: exec extra\n") &&
                     catcher.seen()[1].text.contains("line 12: exec extra12\nand 2 more, all "
                                                     "listed in the details\nWriting the settings "
                                                     "back to it keeps them as they stand."),
                 qPrintable(catcher.seen()[1].text));
        QVERIFY(catcher.seen()[1].details.endsWith("line 13: exec extra13\nline 14: exec extra14"));
        // A folder dropped is the game directory, saved only at close, as typed.
        const SavedPaths saved = loadSavedPaths();
        data.setUrls({QUrl::fromLocalFile(dir.path())});
        QDragEnterEvent enterFolder(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton,
                                    Qt::NoModifier);
        QDropEvent folder(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(control("Text1"), &enterFolder);
        QApplication::sendEvent(control("Text1"), &folder);
        s.gameDir = QDir::toNativeSeparators(dir.path());
        QVERIFY(m_window->currentSettings() == s);
        QCOMPARE(catcher.seen().size(), 2);
        QCOMPARE(loadSavedPaths().gameDir, saved.gameDir);
        setText("Text1", "Changed Arena");
        s.serverName = "Changed Arena";
        QCOMPARE(clickAndCatch("Command2").size(), 0);
        QCOMPARE(readAll(s.outputPath), QByteArray(opened).replace("Opened Arena", "Changed Arena"));
    }

    void runConfigStartsTheServerWithTheWrittenScript()
    {
        FakeGameTree tree;
        setText("Text11", tree.gameDir);
        setText("txtSaveCfg", tree.outputPath);
        QCOMPARE(clickAndCatch("Command2").size(), 0);
        MessageBoxCatcher catcher;
        click("Command3");
        QTRY_COMPARE(tree.launches().size(), 1);
        QVERIFY(stoppedAtMost(catcher.seen()));
        const QStringList launch = tree.launches().first();
        QCOMPARE(launch.first(), QDir(tree.gameDir).canonicalPath());
        QCOMPARE(tree.arena(), arenaAfterStart(launch.last()));
        QCOMPARE(readAll(tree.gameDir + "/arena/" + launch.last() + ".cfg"),
                 readAll(tree.outputPath));
    }

    // The real engine starts from the window, and a start that answers shows nothing. Under
    // Wine the server is a Unix process that the watch cannot see, let alone see stop: its
    // answer alone must count, with no false report of a stop.
    void runConfigConfirmsARealServer()
    {
        if (const char* why = FakeGameTree::withoutRealEngine())
            QSKIP(why);
        FakeGameTree tree(FakeGameTree::RealEngine);
        setText("Text11", tree.gameDir);
        setText("txtSaveCfg", tree.outputPath);
        setText("Text1", "Window Arena");
        setText("Text8", "window;rcon");
        QCOMPARE(clickAndCatch("Command2").size(), 0);
        MessageBoxCatcher catcher;
        click("Command3");
        QTRY_VERIFY_WITH_TIMEOUT(!m_window->findChild<RunConfig*>(), 15000);
        QCoreApplication::processEvents();
        QCOMPARE(catcher.seen().size(), 0);
        const std::optional<QByteArray> status = waitForAnswer("getstatus", 5000);
        QVERIFY(status);
        QCOMPARE(infoPairs(status->split('\n').value(1)).value("sv_hostname"), "Window Arena");
        QTest::qWait(1100);
        const std::optional<QByteArray> rcon = askServer("rcon window;rcon status");
        QVERIFY(rcon && rcon->startsWith("print\nmap: quorvexmap1"));
    }

    // An unknown map is reported once, by name.
    void runConfigReportsAnUnknownMap()
    {
        FakeGameTree tree;
        setText("Text11", tree.gameDir);
        setText("txtSaveCfg", tree.outputPath);
        setText("Text10", "nosuchmap");
        QCOMPARE(clickAndCatch("Command2").size(), 0);
        const QList<SeenMessageBox> seen = clickAndCatch("Command3");
        QCOMPARE(seen.size(), 1);
        QCOMPARE(seen[0].title, QStringLiteral("Run Config"));
        QVERIFY2(seen[0].text.startsWith(
                     "Initial Map: my.cfg line 53: the server cannot find the map \"nosuchmap\""),
                 qPrintable(seen[0].text));
        QVERIFY(tree.arena().isEmpty());
        QVERIFY(tree.launches().isEmpty());
    }

    // The map box offers the game tree's maps once the game directory names one, in any case.
    void theMapBoxOffersTheTreesMaps()
    {
        FakeGameTree tree;
        writeZip(tree.gameDir + "/arena/maps.pk3", {{"maps/q3dm17.bsp", smallMap()}});
        auto* completer = m_window->findChild<MapCompleter*>();
        QSignalSpy read(completer, &MapCompleter::mapsRead);
        setText("Text11", tree.gameDir);
        QVERIFY(read.wait());
        QCOMPARE(completer->maps(), (QStringList{"q3dm17", EngineTree::kMap}));
        auto* map = control<QLineEdit>("Text10");
        map->clear();
        map->setFocus();
        QTest::keyClicks(map, "Q3");
        QTRY_VERIFY(completer->popup()->isVisible());
        QCOMPARE(completer->currentCompletion(), QStringLiteral("q3dm17"));
        QCOMPARE(map->text(), QStringLiteral("Q3"));
        setText("Text11", "Q3 DIR HERE");
        QVERIFY(read.wait());
        QVERIFY(completer->maps().isEmpty());
    }

    // Clicks Run Config and returns the boxes shown by the time its watch has ended.
    QList<SeenMessageBox> runConfigAndWatch()
    {
        MessageBoxCatcher catcher;
        click("Command3");
        if (!QTest::qWaitFor([this] { return !m_window->findChild<RunConfig*>(); }, 15000))
            qFatal("the start watch did not end");
        return catcher.seen();
    }

    void runConfigReportsAServerThatStopsAtOnce()
    {
        FakeGameTree tree;
#ifndef Q_OS_WIN
        tree.writeServer(QStringLiteral("#!/bin/sh\necho 'no game data here'\nexit 1\n"));
#endif
        setText("Text11", tree.gameDir);
        setText("txtSaveCfg", tree.outputPath);
        QCOMPARE(clickAndCatch("Command2").size(), 0);
        const QList<SeenMessageBox> seen = runConfigAndWatch();
        QCOMPARE(seen.size(), 1);
        QCOMPARE(seen[0].title, QStringLiteral("Run Config"));
#ifdef Q_OS_WIN
        // The Windows stand-in ends as soon as it has recorded its start.
        QVERIFY2(seen[0].text.endsWith(" it exited with status 0."), qPrintable(seen[0].text));
#else
        QVERIFY2(seen[0].text.contains("exited with status 1") &&
                     seen[0].text.endsWith("\nno game data here"),
                 qPrintable(seen[0].text));
#endif
    }

    // A program that holds the game port makes the server take another one, and says so.
    void runConfigWarnsThatThePortIsTaken()
    {
        QUdpSocket holder;
        QVERIFY(holder.bind(QHostAddress::LocalHost, kServerPort));
        if (const char* why = FakeGameTree::withoutRealEngine())
            QSKIP(why);
        FakeGameTree tree(FakeGameTree::RealEngine);
        setText("Text11", tree.gameDir);
        setText("txtSaveCfg", tree.outputPath);
        QCOMPARE(clickAndCatch("Command2").size(), 0);
        const QList<SeenMessageBox> seen = runConfigAndWatch();
        QCOMPARE(seen.size(), 1);
        // Only the server's log tells which port it took.
        static const QRegularExpression taken(
            "^Another program(?:, .+,)? already uses UDP port 27960, so "
            "the new server (took port (\\d+)|will take "
            "another port),");
        const QRegularExpressionMatch match = taken.match(seen[0].text);
        QVERIFY2(match.hasMatch() && match.hasCaptured(2) == serverLogsToFile(),
                 qPrintable(seen[0].text));
        // A server where players do not look is no confirmed start, and is stopped where the
        // tool has a hold on it: not under Wine, which runs the engine as a Unix program.
#ifdef Q_OS_WIN
        const char* stopped = "\n\nThe tool has no hold on the new server to stop it: stop it "
                              "yourself.";
#else
        const char* stopped = "\n\nThe tool stopped the new server.";
#endif
        QVERIFY2(seen[0].text.endsWith(stopped), qPrintable(seen[0].text));
        if (serverLogsToFile())
            QVERIFY(!askServer("getstatus", quint16(match.captured(2).toUInt())));
    }

    // Scripts left in the engine's home path under the next names are passed over, so the
    // server runs the script just installed, and the start shows nothing.
    void runConfigPassesOverScriptsInTheHomePath()
    {
        if (const char* why = FakeGameTree::withoutRealEngine())
            QSKIP(why);
        FakeGameTree tree(FakeGameTree::RealEngine);
#ifdef Q_OS_WIN
        // Under Wine the engine keeps its home path where ioquake3 keeps it on Windows.
        const QString homeArena = *engineHomePath() + "/arena";
        tree.useEngineHome(*engineHomePath());
#else
        tree.useEngineHome(FakeGameTree::DefaultHome);
        const QString homeArena = m_home.path() + "/.q3a/arena";
#endif
        QVERIFY(QDir().mkpath(homeArena));
        ScriptNumberSequence next = processScriptNumbers();
        for (int i = 0; i < 2; ++i)
            writeBytes(homeArena + QStringLiteral("/conf%1.cfg").arg(next.next()),
                       "set sv_hostname \"Stale Arena\"\r\nmap quorvexmap1\r\n");
        setText("Text11", tree.gameDir);
        setText("txtSaveCfg", tree.outputPath);
        setText("Text1", "Fresh Arena");
        QCOMPARE(clickAndCatch("Command2").size(), 0);
        QCOMPARE(runConfigAndWatch().size(), 0);
        const std::optional<QByteArray> status = waitForAnswer("getstatus", 5000);
        QVERIFY(status);
        QCOMPARE(infoPairs(status->split('\n').value(1)).value("sv_hostname"), "Fresh Arena");
        QVERIFY(QDir(homeArena).removeRecursively());
    }

    // A script that shadows the installed one where the tool cannot look: the watch names
    // each value the server holds against the script's.
    void runConfigReportsAServerThatRunsAnotherScript()
    {
        if (const char* why = FakeGameTree::withoutRealEngine())
            QSKIP(why);
        FakeGameTree tree(FakeGameTree::RealEngine);
        const QString shadow = tree.root() + "/shadow";
        tree.useEngineHome(shadow);
        QVERIFY(QDir().mkpath(shadow + "/arena"));
        ScriptNumberSequence next = processScriptNumbers();
        writeBytes(shadow + QStringLiteral("/arena/conf%1.cfg").arg(next.next()),
                   "set sv_hostname \"Stale Arena\"\r\nset sv_maxclients 4\r\n"
                   "map quorvexmap1\r\n");
        setText("Text11", tree.gameDir);
        setText("txtSaveCfg", tree.outputPath);
        setText("Text1", "Fresh Arena");
        QCOMPARE(clickAndCatch("Command2").size(), 0);
        const QList<SeenMessageBox> seen = runConfigAndWatch();
        QCOMPARE(seen.size(), 1);
        QVERIFY2(seen[0].text.contains("\nServer name (sv_hostname): the server has \"Stale "
                                       "Arena\", the script \"Fresh Arena\".\nMaximum clients "
                                       "(sv_maxclients): the server has \"4\", the script "
                                       "\"16\".\n"),
                 qPrintable(seen[0].text));
        QVERIFY(!seen[0].text.contains("Map (mapname)"));
    }

    // Run Config again while the first server holds the game's port asks first. Cancel, the
    // default and Escape's, starts and installs nothing. A run that cannot work, with no game
    // directory or a mistyped map, is refused before the question, and the first server
    // keeps answering; Stop and Start leaves one server, which answers with the new values,
    // and says no more.
    void runConfigAgainAsksToReplaceTheRunningServer()
    {
        if (const char* why = FakeGameTree::withoutRealEngine())
            QSKIP(why);
#ifdef Q_OS_WIN
        QSKIP("Wine starts the engine as a Unix program, with no Windows process to remember; "
              "the zip's test replaces a Windows stand-in.");
#endif
        FakeGameTree tree(FakeGameTree::RealEngine);
        setText("Text11", tree.gameDir);
        setText("txtSaveCfg", tree.outputPath);
        setText("Text1", "First Arena");
        QCOMPARE(clickAndCatch("Command2").size(), 0);
        QCOMPARE(runConfigAndWatch().size(), 0);
        setText("Text1", "Second Arena");
        QCOMPARE(clickAndCatch("Command2").size(), 0);
        const QStringList arena = tree.arena();
        for (const QString& answer : {QStringLiteral("Escape"), QStringLiteral("Cancel")}) {
            MessageBoxCatcher catcher(answer);
            click("Command3");
            QTRY_COMPARE(catcher.seen().size(), 1);
            const SeenMessageBox& asked = catcher.seen()[0];
            QCOMPARE(asked.buttons, (QStringList{"&Stop and Start", "Cancel"}));
            QCOMPARE(asked.defaultButton, "Cancel");
            QVERIFY2(asked.text.contains("\"First Arena\" on quorvexmap1 with 0 of 16 players, "
                                         "on UDP port 27960, process "),
                     qPrintable(asked.text));
            QTRY_VERIFY(!m_window->findChild<RunConfig*>());
            QCOMPARE(tree.arena(), arena);
        }
        // With no game directory, or a mistyped map, nothing is asked or stopped.
        for (const auto& [box, text, said] :
             {std::tuple{"Text11", QString(), "Game directory: give the folder"},
              std::tuple{"Text10", QStringLiteral("quorvexmap11"),
                         "Initial Map: my.cfg line 53: the server cannot find the map"}}) {
            const QString was = control<QLineEdit>(box)->text();
            setText(box, text);
            QCOMPARE(clickAndCatch("Command2").size(), 0);
            MessageBoxCatcher bad("&Stop and Start");
            click("Command3");
            QTRY_COMPARE(bad.seen().size(), 1);
            QCOMPARE(bad.seen()[0].icon, QMessageBox::Warning);
            QVERIFY2(bad.seen()[0].text.startsWith(said), qPrintable(bad.seen()[0].text));
            const std::optional<QByteArray> status = waitForAnswer("getstatus", 5000);
            QVERIFY(status);
            QCOMPARE(infoPairs(status->split('\n').value(1)).value("sv_hostname"), "First Arena");
            setText(box, was);
        }
        QCOMPARE(clickAndCatch("Command2").size(), 0);
        MessageBoxCatcher replace("&Stop and Start");
        click("Command3");
        QTRY_VERIFY_WITH_TIMEOUT(!m_window->findChild<RunConfig*>(), 20000);
        QCOMPARE(replace.seen().size(), 1);
        const std::optional<QByteArray> status = waitForAnswer("getstatus", 5000);
        QVERIFY(status);
        QCOMPARE(infoPairs(status->split('\n').value(1)).value("sv_hostname"), "Second Arena");
#ifndef Q_OS_WIN
        int running = 0;
        for (const QString& name : QDir(tree.root() + "/records").entryList({"pid.*"}))
            running += processGone(name.mid(4).toInt()) ? 0 : 1;
        QCOMPARE(running, 1);
#endif
    }

    void closingTheWindowEndsTheWatchButNotTheServer()
    {
        if (const char* why = FakeGameTree::withoutRealEngine())
            QSKIP(why);
        FakeGameTree tree(FakeGameTree::RealEngine);
        setText("Text11", tree.gameDir);
        setText("txtSaveCfg", tree.outputPath);
        QCOMPARE(clickAndCatch("Command2").size(), 0);
        MessageBoxCatcher catcher;
        click("Command3");
        QVERIFY(m_window->findChild<RunConfig*>());
        QVERIFY(m_window->close());
        QVERIFY(!m_window->findChild<RunConfig*>());
        QVERIFY(waitForAnswer("getstatus", 10000));
        QCOMPARE(catcher.seen().size(), 0);
    }

    // Every click draws the next script number, also one that starts nothing.
    void aRefusedRunConfigStillDrawsItsNumber()
    {
        ScriptNumberSequence expected = processScriptNumbers();
        QCOMPARE(clickAndCatch("Command3").size(), 1);
        expected.next();
        FakeGameTree tree;
        setText("Text11", tree.gameDir);
        setText("txtSaveCfg", tree.outputPath);
        QCOMPARE(clickAndCatch("Command2").size(), 0);
        MessageBoxCatcher catcher;
        click("Command3");
        const QStringList arena = arenaAfterStart(QStringLiteral("conf%1").arg(expected.next()));
        QTRY_COMPARE(tree.arena(), arena);
        QVERIFY(stoppedAtMost(catcher.seen()));
    }

    void runConfigReportsWhyNothingStarted()
    {
        const QList<SeenMessageBox> seen = clickAndCatch("Command3");
        QCOMPARE(seen.size(), 1);
        QCOMPARE(seen[0].title, QStringLiteral("Run Config"));
        QCOMPARE(seen[0].icon, QMessageBox::Warning);
        QVERIFY(seen[0].text.startsWith("Game directory: give the folder"));
    }

    void savedPathsSurviveARestart()
    {
        QCOMPARE(control<QLineEdit>("Text11")->text(), QStringLiteral("Q3 DIR HERE"));
        QCOMPARE(control<QLineEdit>("txtSaveCfg")->text(),
                 QStringLiteral("CONFIG OUTPUT (EXAMPLE: C:\\MYCONF.CFG)"));
        setText("Text11", "C:\\Games\\Quake III Arena\\");
        setText("txtSaveCfg", " /srv/my server;#1.cfg ");
        setText("Text1", "not remembered");
        setText("Text3", "64");
        QVERIFY(m_window->close());

        m_window = std::make_unique<frmQuorvexConfigCreator>();
        QCOMPARE(control<QLineEdit>("Text11")->text(),
                 QStringLiteral("C:\\Games\\Quake III Arena\\"));
        QCOMPARE(control<QLineEdit>("txtSaveCfg")->text(),
                 QStringLiteral(" /srv/my server;#1.cfg "));
        QCOMPARE(control<QLineEdit>("Text1")->text(), QString());
        QCOMPARE(control<QLineEdit>("Text3")->text(), QStringLiteral("16"));
    }

    void closingWithAnUnwritableStoreWarnsAndCloses()
    {
#ifdef Q_OS_WIN
        QSKIP("The test cannot take its own user's right to write in the registry.");
#endif
        const QString store = m_configHome.filePath("VELDORIQUE.conf");
        QVERIFY(QDir().mkdir(store));
        MessageBoxCatcher catcher;
        QVERIFY(m_window->close());
        QCoreApplication::processEvents();
        QVERIFY(QDir(store).removeRecursively());
        QCOMPARE(catcher.seen().size(), 1);
        QCOMPARE(catcher.seen()[0].title, QStringLiteral("Quorvex Server Config Creator"));
        QCOMPARE(catcher.seen()[0].icon, QMessageBox::Warning);
        QVERIFY(catcher.seen()[0].text.contains(store));
        QVERIFY(!m_window->isVisible());
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
