// The main window driven through its real widgets and actions, found by object name, with a
// fixture calculation module in a program folder of the test's own.

#include "apptestsupport.h"
#include "fonts.h"
#include "helpwindow.h"
#include "mainwindow.h"
#include "nodeeditor.h"
#include "projecttree.h"
#include "programdir.h"
#include "projectfile.h"
#include "qzexcel.h"
#include "qzproject.h"
#include "qzreport.h"
#include "runprogress.h"
#include "statusbar.h"
#include "translations.h"
#include "winide.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QTemporaryDir>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusTipEvent>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUndoStack>

using namespace tessarin;
using namespace tessarin::test;

using Answer = TMainServices::SaveAnswer;
Q_DECLARE_METATYPE(TMainServices::SaveAnswer)

namespace {

struct Frame
{
    ScriptedServices *services = nullptr; // owned by the window
    std::unique_ptr<TfmMain> main;

    TfmWinIDE *active() const { return main->activeProjectWindow(); }
    int windowCount() const { return int(main->projectWindows().size()); }
};

Frame makeFrame(bool show = true)
{
    Frame frame;
    TfmMainSettings settings;
    settings.updateAtExit = false;
    settings.newsIntervalMs = 24 * 3600 * 1000;
    frame.services = new ScriptedServices;
    frame.main
        = std::make_unique<TfmMain>(settings, std::unique_ptr<TMainServices>(frame.services));
    if (show) {
        frame.main->show();
        QApplication::setActiveWindow(frame.main.get());
        [[maybe_unused]] const bool active = QTest::qWaitForWindowActive(frame.main.get());
    }
    return frame;
}

// Clicks the first cell of `page` answering to `name`, types `keys` and confirms with Enter,
// as a user does.
void typeIntoCell(TqzReport *page, const QString &name, const QByteArray &keys)
{
    TReportCell *cell = page->CellsOfName(name).value(0);
    QVERIFY(cell);
    QTest::mouseClick(page, Qt::LeftButton, {}, page->pageToWindow(cell->FCellRect).center());
    for (const char ch : keys)
        QTest::keyClick(QApplication::focusWidget(), ch);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
}

// Types `text` one character at a time, as a keyboard (or an input method) gives it; keyClicks
// cannot, as it sends characters beyond Latin-1 as NUL.
void typeText(QWidget *widget, const QString &text)
{
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, widget, c.unicode() < 0x80 ? Qt::Key(QChar(c).toUpper().unicode()) : Qt::Key_unknown, QString(c), {});
}

// Object names of a widget's actions in order, "-" for a separator.
QStringList entryNames(const QList<QAction *> &actions)
{
    QStringList names;
    for (const QAction *action : actions)
        names << (action->isSeparator() ? QStringLiteral("-") : action->objectName());
    return names;
}

QStringList menuTitles(QMenuBar *bar)
{
    QStringList titles;
    for (const QAction *action : bar->actions())
        titles << action->text();
    return titles;
}

int pdfPages(const QByteArray &pdf)
{
    return int(pdf.count("/Type /Page") - pdf.count("/Type /Pages"));
}

// A project read back from a file the way the program opens one.
struct Reloaded
{
    TqzProject project;
    TqzExcel excel;
    explicit Reloaded(const QString &fileName)
    {
        TqzProjectFile file;
        file.loadFile(fileName, project, excel.workbook());
    }
};

} // namespace

// Where pictures for people to look at go.
QString shotDir()
{
    const QString dir = qEnvironmentVariable("TESSARIN_SHOT_DIR");
    return dir.isEmpty() ? QDir::tempPath() : dir;
}

class MainWindowTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_withModule;
    QTemporaryDir m_withoutModule;
    QTemporaryDir m_state;

private slots:
    void initTestCase()
    {
        installFontSubstitutions();
        useStateFolder(m_state.path());
        QVERIFY(makeProgramDir(m_withModule.path(), true));
        QVERIFY(makeProgramDir(m_withoutModule.path(), false));
    }
    void init() { setProgramDirectory(m_withModule.path()); }

    void windowSettings()
    {
        Frame f = makeFrame(false);
        TfmMain &main = *f.main;
        const QString caption = QStringLiteral("Orvane化工计算平台 - 化工专业泵计算 1.1");
        QCOMPARE(main.objectName(), QStringLiteral("fmMain"));
        QCOMPARE(main.windowTitle(), caption);
        main.show();
        // The maximised project window's caption joins the frame's, as in every MDI frame.
        QTRY_COMPARE(main.windowTitle(), caption + QStringLiteral(" - [dazudozaraz]"));
        QCOMPARE(main.size(), QSize(696, 480));
        QVERIFY((main.frameGeometry().center() - main.screen()->availableGeometry().center())
                    .manhattanLength()
                <= 2);
        QCOMPARE(main.font().family(), QStringLiteral("宋体"));
        QCOMPARE(main.font().pointSize(), 9);
        QCOMPARE(main.mdiArea()->background().color(), QColor(0x9B, 0x9B, 0xB3));
        QCOMPARE(main.statMain()->panelWidths(), (QList<int>{250, 150, 50}));
        QCOMPARE(main.statMain()->panelText(2), TfmMain::webAddress());
    }

    void menus_data()
    {
        QTest::addColumn<QString>("menu");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QStringList>("entries");
        QTest::newRow("file") << "mniFile"
                              << "文件(&F)"
                              << QStringList{"actNew",
                                             "actOpen",
                                             "actVOKFLW",
                                             "-",
                                             "actSave",
                                             "actSaveAs",
                                             "-",
                                             "actCompileProject",
                                             "-",
                                             "actPrintCurrent",
                                             "actPrint",
                                             "actPrintPreview",
                                             "actExportPdf",
                                             "actExportBook",
                                             "-",
                                             "mniExit"};
        QTest::newRow("window") << "mniWindow"
                                << "窗口(&W)"
                                << QStringList{"WindowCascade",
                                               "WindowTileHorizontal",
                                               "WindowTileVertical",
                                               "-",
                                               "WindowClose",
                                               "WindowMinimizeAll",
                                               "WindowArrange",
                                               "-"};
        QTest::newRow("tools")
            << "mniTools"
            << "工具(&T)"
            << QStringList{"mniVOKUpdate", "mniVOKNews", "mniUnitConv", "-", "mniOptions"};
        QTest::newRow("help") << "mniHelp"
                              << "帮助(&H)" << QStringList{"actVOKHelp", "-", "actAbout"};
    }
    void menus()
    {
        QFETCH(QString, menu);
        QFETCH(QString, title);
        QFETCH(QStringList, entries);
        Frame f = makeFrame(false);
        auto *found = f.main->findChild<QMenu *>(menu);
        QVERIFY(found);
        QCOMPARE(found->title(), title);
        QCOMPARE(entryNames(found->actions()), entries);
        QVERIFY(!f.main->mniOptions->isEnabled());
    }

    // The menu bar, and the active project window's View and page-designer menus merged after
    // File.
    void menuBarAndToolBar()
    {
        Frame f = makeFrame(false);
        QMenuBar *bar = f.main->menuBar();
        const QStringList bare{"文件(&F)", "窗口(&W)", "工具(&T)", "帮助(&H)"};
        QCOMPARE(menuTitles(bar), bare);
        f.main->show();
        QCOMPARE(f.windowCount(), 1);
        QCOMPARE(menuTitles(bar),
                 (QStringList{"文件(&F)", "查看(&V)", "页面设计(&D)", "窗口(&W)", "工具(&T)",
                              "帮助(&H)"}));
        QCOMPARE(bar->actions().at(1), f.active()->viewMenu()->menuAction());
        f.main->actVOKFLW->trigger();
        QCOMPARE(bar->actions().at(1), f.active()->viewMenu()->menuAction());
        QCOMPARE(bar->actions().at(2), f.active()->pmDesign->menuAction());
        const auto *designButton = qobject_cast<QToolButton *>(f.main->ToolBar1->widgetForAction(
            f.main->findChild<QAction *>(QStringLiteral("tbDesign"))));
        QVERIFY(designButton);
        QCOMPARE(designButton->menu(), f.active()->pmDesign);
        QCOMPARE(bar->actions().size(), 6);
        // Another window taking the focus leaves the menus and the commands as they are.
        QWidget other;
        other.show();
        QApplication::setActiveWindow(&other);
        QTRY_COMPARE(QApplication::activeWindow(), &other);
        QCOMPARE(bar->actions().at(1), f.active()->viewMenu()->menuAction());
        QVERIFY(f.main->actPrint->isEnabled());
        f.main->mdiArea()->closeAllSubWindows();
        QCOMPARE(menuTitles(bar), bare);

        QCOMPARE(entryNames(f.main->ToolBar1->actions()),
                 (QStringList{"actNew",
                              "actOpen",
                              "actVOKFLW",
                              "-",
                              "actSave",
                              "-",
                              "EditCopy",
                              "EditCut",
                              "EditPaste",
                              "EditUndo",
                              "EditRedo",
                              "EditDelete",
                              "-",
                              "actCompileProject",
                              "-",
                              "tbDesign",
                              "-",
                              "actVOKHelp"}));
    }

    // Captions, hints (short part as tool tip, long part in status-bar panel 0) and shortcuts.
    // One row per action: "name|caption|short hint|long hint|shortcut", empty where none.
    void actions_data()
    {
        QTest::addColumn<QStringList>("row");
        const char *const rows[] = {
            "actNew|新建(&N)...|||",
            "actOpen|打开(&O)...|打开|打开Orvane工程计算的流程文件(.flw)|",
            "actVOKFLW|化工离心泵计算(&P)...|离心泵|zurivazuz|",
            "actSave|保存(&S)|||",
            "actSaveAs|另存为(&A)...|||",
            "actCompileProject|运行工程(&C)|运行|编译工程以得到计算结果|F9",
            "actPrint|打印(&P)...|打印报表|打印报表|",
            "actPrintCurrent|打印当前页(&C)...|打印当前页|打印当前页|",
            "actVOKHelp|帮助(&H)|帮助|软件使用说明|F1",
            "actAbout|关于(&A)|||",
            "mniExit|退出(&E)|||",
            "mniVOKUpdate|在线升级(&U)...|||",
            "mniVOKNews|Orvane维护和指南(&N)...|||",
            "mniUnitConv|单位换算器(&U)...|||",
            "mniOptions|选项(&O)...|||",
            "WindowCascade|重叠(&C)|重叠|把窗口重叠排列|",
            "WindowTileHorizontal|横向平铺(&H)|横向平铺|把窗口上下平铺|",
            "WindowTileVertical|纵向平铺(&V)|纵向平铺|把窗口左右平铺|",
            "WindowClose|关闭(&C)|关闭|关闭当前窗口|",
            "WindowMinimizeAll|全部最小化(&I)|全部最小化|把所有窗口最小化|",
            "WindowArrange|排列图标(A)|排列图标|排列最小化窗口的图标|",
            "EditCut|剪切(&X)|剪切|剪切所选内容并放到剪贴板上|",
            "EditCopy|复制(&C)|复制|复制所选内容并放到剪贴板上|",
            "EditPaste|粘贴(&P)|粘贴|插入剪贴板的内容|",
            "EditUndo|撤销(&U)|撤销|撤销上一次修改|Ctrl+Z",
            "EditRedo|重做(&R)|重做|重做上一次撤销的修改|Ctrl+Y",
            "EditDelete|删除(&D)|删除|删除所选内容|",
        };
        for (const char *row : rows) {
            const QStringList fields = QString::fromUtf8(row).split(QLatin1Char('|'));
            QTest::newRow(row) << fields;
        }
    }
    void actions()
    {
        QFETCH(QStringList, row);
        QCOMPARE(row.size(), 5);
        const QString name = row[0], caption = row[1], shortHint = row[2], longHint = row[3];
        const QKeySequence shortcut(row[4]);
        Frame f = makeFrame();
        auto *action = f.main->findChild<QAction *>(name);
        QVERIFY(action);
        QCOMPARE(action->text(), caption);
        QCOMPARE(action->statusTip(), longHint);
        if (!shortHint.isEmpty())
            QCOMPARE(action->toolTip(), shortHint);
        QCOMPARE(action->shortcut(), shortcut);
        // The long hint reaches panel 0 when the pointer rests on the entry, and goes again.
        action->showStatusText(f.main.get());
        QCOMPARE(f.main->statMain()->panelText(0), longHint);
        QStatusTipEvent leave{QString()};
        QApplication::sendEvent(f.main.get(), &leave);
        QCOMPARE(f.main->statMain()->panelText(0), QString());
    }

    // F9 with no project window does nothing; with one it runs that window's whole project,
    // shows the progress bar while it runs, and marks the window changed.
    void runKey()
    {
        Frame f = makeFrame();
        f.main->mdiArea()->closeAllSubWindows();
        QTest::keyClick(f.main.get(), Qt::Key_F9);
        QCOMPARE(f.windowCount(), 0);
        QVERIFY(!f.main->progressBar());

        f.main->actVOKFLW->trigger();
        f.main->actVOKFLW->trigger();
        TfmWinIDE *first = f.main->projectWindows().at(0);
        TfmWinIDE *second = f.active();
        QCOMPARE(second->excel().GetTagValue(QStringLiteral("轴功率")), QString());
        int maximum = -1;
        QObject watcher;
        connect(second->mmoMessage, &QPlainTextEdit::textChanged, &watcher, [&] {
            if (QProgressBar *bar = f.main->progressBar())
                maximum = bar->maximum();
        });
        QTest::keyClick(f.main.get(), Qt::Key_F9);
        QTRY_VERIFY(!second->isRunning());
        QVERIFY(second->excel().GetTagValue(QStringLiteral("轴功率")).startsWith("6.1"));
        QCOMPARE(first->excel().GetTagValue(QStringLiteral("轴功率")), QString());
        QVERIFY(!second->logLines().isEmpty());
        QVERIFY(maximum > 0);
        QTRY_VERIFY(!f.main->progressBar());
        QVERIFY(f.main->isModified(second));
        QVERIFY(!f.main->isModified(first));
        QCOMPARE(second->windowTitle(), QStringLiteral("dazudozaraz*"));
    }

    // Each row posts messages in order; then the bar's presence, position and maximum.
    void progress_data()
    {
        QTest::addColumn<QList<QPoint>>("messages"); // (wParam, lParam)
        QTest::addColumn<bool>("shown");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("maximum");
        QTest::newRow("start") << QList<QPoint>{{0, 10}} << true << 0 << 10;
        QTest::newRow("position") << QList<QPoint>{{0, 10}, {1, 4}} << true << 4 << 10;
        QTest::newRow("second start reuses")
            << QList<QPoint>{{0, 10}, {1, 4}, {0, 20}} << true << 0 << 20;
        QTest::newRow("end") << QList<QPoint>{{0, 10}, {1, 4}, {2, 0}} << false << 0 << 0;
        QTest::newRow("stray position") << QList<QPoint>{{1, 5}} << false << 0 << 0;
        QTest::newRow("stray end") << QList<QPoint>{{2, 0}, {2, 0}} << false << 0 << 0;
        QTest::newRow("unknown kind") << QList<QPoint>{{0, 10}, {7, 3}, {3, 1}} << true << 0 << 10;
        QTest::newRow("restart after end")
            << QList<QPoint>{{0, 10}, {2, 0}, {0, 5}, {1, 5}} << true << 5 << 5;
    }
    void progress()
    {
        QFETCH(QList<QPoint>, messages);
        QFETCH(bool, shown);
        QFETCH(int, value);
        QFETCH(int, maximum);
        Frame f = makeFrame();
        QProgressBar *firstBar = nullptr;
        for (const QPoint &m : messages) {
            QCoreApplication::postEvent(f.main.get(), new TqzRunProgressEvent(m.x(), m.y()));
            QCoreApplication::sendPostedEvents(f.main.get());
            if (!firstBar)
                firstBar = f.main->progressBar();
            if (m.x() == 0)
                QCOMPARE(f.main->progressBar(), firstBar);
            if (m.x() == 2)
                firstBar = nullptr;
        }
        QProgressBar *bar = f.main->progressBar();
        QCOMPARE(bar != nullptr, shown);
        QCOMPARE(f.main->statMain()->findChildren<QProgressBar *>().size(), shown ? 1 : 0);
        if (!bar)
            return;
        QCOMPARE(bar->parentWidget(), f.main->statMain());
        QVERIFY(bar->isVisible());
        QCOMPARE(bar->x(), 252);
        QCOMPARE(bar->y(), 3);
        QCOMPARE(bar->width(), 147);
        QCOMPARE(bar->value(), value);
        QCOMPARE(bar->maximum(), maximum);
    }

    // Every execution opens one more independent window from the same packaged project.
    void packagedWindows()
    {
        Frame f = makeFrame();
        f.main->actVOKFLW->trigger();
        QCOMPARE(f.windowCount(), 2);
        const QList<TfmWinIDE *> windows = f.main->projectWindows();
        QCOMPARE(f.active(), windows.at(1));
        for (TfmWinIDE *w : windows) {
            QCOMPARE(w->windowTitle(), QStringLiteral("dazudozaraz"));
            QVERIFY(w->isLoaded());
            QCOMPARE(w->excel().Pages.size(), 3);
            QCOMPARE(w->excel().PageNames, (QStringList{"泵性能", "电机"}));
            QCOMPARE(w->project().TreeView->count(), 5);
            QVERIFY(w->project().ProjectFileName.isEmpty());
        }
        QVERIFY(&windows[0]->excel() != &windows[1]->excel());
        windows[0]->excel().SetTagValue(QStringLiteral("扬程"), QStringLiteral("40"));
        QCOMPARE(windows[1]->excel().GetTagValue(QStringLiteral("扬程")), QStringLiteral("32.5"));
        // Changes are marked per window: by the workbook, and by a page of its own (typing).
        QVERIFY(f.main->isModified(windows[0]) && !f.main->isModified(windows[1]));
        QVERIFY(QMetaObject::invokeMethod(windows[1]->excel().Pages.at(2), "contentChanged"));
        QVERIFY(f.main->isModified(windows[1]));
        QCOMPARE(windows[1]->windowTitle(), QStringLiteral("dazudozaraz*"));
        QVERIFY(f.services->errors.isEmpty());
    }

    // Without the calculation module the window opens empty and nobody is told.
    void missingModule()
    {
        setProgramDirectory(m_withoutModule.path());
        Frame f = makeFrame();
        QVERIFY(f.main->projectStream().isEmpty());
        QCOMPARE(f.windowCount(), 1);
        QCOMPARE(f.active()->windowTitle(), QStringLiteral("dazudozaraz"));
        QCOMPARE(f.active()->excel().Pages.size(), 1);
        QCOMPARE(f.active()->excel().PageNames, QStringList{"默认页"});
        QVERIFY(f.services->errors.isEmpty());
    }

    // Save of a window without a file goes to Save As; then Save rewrites that file in place.
    void saveAndSaveAs()
    {
        QTemporaryDir dir;
        Frame f = makeFrame();
        TfmWinIDE *w = f.active();
        const QString first = dir.filePath(QStringLiteral("first.flw"));
        f.services->saveAnswers = {first};
        f.main->actSave->trigger();
        QCOMPARE(f.services->saveDialogs, QStringList{"dazudozaraz.flw"});
        QCOMPARE(w->project().ProjectFileName, first);
        QCOMPARE(w->windowTitle(), QStringLiteral("first.flw"));
        {
            Reloaded back(first);
            QCOMPARE(back.excel.Pages.size(), 3);
            QCOMPARE(back.project.TreeView->count(), 5);
        }

        w->excel().SetTagValue(QStringLiteral("扬程"), QStringLiteral("40"));
        QCOMPARE(w->windowTitle(), QStringLiteral("first.flw*"));
        f.main->actSave->trigger();
        QCOMPARE(f.services->saveDialogs.size(), 1);
        QCOMPARE(w->windowTitle(), QStringLiteral("first.flw"));
        QCOMPARE(Reloaded(first).excel.GetTagValue(QStringLiteral("扬程")), QStringLiteral("40"));

        // A save that fails says so and changes nothing of the window.
        f.services->saveAnswers = {dir.filePath(QStringLiteral("no such folder/x.flw"))};
        f.main->actSaveAs->trigger();
        QCOMPARE(f.services->errors.size(), 1);
        QVERIFY(f.services->errors.at(0).contains(QStringLiteral("x.flw")));
        QCOMPARE(w->project().ProjectFileName, first);

        const QString second = dir.filePath(QStringLiteral("second.flw"));
        f.services->saveAnswers = {second};
        f.main->actSaveAs->trigger();
        QCOMPARE(w->windowTitle(), QStringLiteral("second.flw"));
        QCOMPARE(Reloaded(second).excel.GetTagValue(QStringLiteral("扬程")), QStringLiteral("40"));

        // A new project saves as a document of its own that opens again.
        f.main->actNew->trigger();
        QCOMPARE(f.active()->excel().PageNames, QStringList{"默认页"});
        const QString fresh = dir.filePath(QStringLiteral("new.flw"));
        f.services->saveAnswers = {fresh};
        f.main->actSave->trigger();
        QCOMPARE(Reloaded(fresh).excel.Pages.size(), 1);
        QVERIFY(f.main->openProjectFile(fresh));
    }

    void openFiles_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no file at all
        QTest::addColumn<bool>("opens");
        QFile sample(QStringLiteral(TESSARIN_TEST_DATA "/workbook/pump_sheets.flw"));
        QVERIFY(sample.open(QIODevice::ReadOnly));
        const QByteArray good = sample.readAll();
        QTest::newRow("sample") << good << true;
        QTest::newRow("truncated") << good.left(good.size() / 2) << false;
        QTest::newRow("not xml") << QByteArray("PK\x03\x04 zip bytes") << false;
        QTest::newRow("empty") << QByteArray("") << false;
        QTest::newRow("missing") << QByteArray() << false;
    }
    // A file that does not load is reported once, naming it, and leaves no window behind.
    void openFiles()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, opens);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("泵 project.flw"));
        if (!content.isNull())
            QVERIFY(writeBytes(path, content));
        Frame f = makeFrame();
        TfmWinIDE *before = f.active();
        f.services->openAnswers = {path};
        f.main->actOpen->trigger();
        QCOMPARE(f.windowCount(), opens ? 2 : 1);
        if (opens) {
            QVERIFY(f.services->errors.isEmpty());
            QCOMPARE(f.active()->windowTitle(), QStringLiteral("泵 project.flw"));
            QCOMPARE(f.active()->project().ProjectFileName, path);
            QCOMPARE(f.active()->excel().Pages.size(), 3);
        } else {
            QCOMPARE(f.services->errors.size(), 1);
            QVERIFY2(f.services->errors.at(0).contains(path), qPrintable(f.services->errors[0]));
            QVERIFY(f.services->errors.at(0).contains(content.isNull() ? "文件不存在"
                                                                       : "无法打开工程文件"));
            QCOMPARE(f.active(), before);
        }
        // Cancelling the dialog opens nothing.
        f.main->actOpen->trigger();
        QCOMPARE(f.windowCount(), opens ? 2 : 1);
    }

    void dropFiles()
    {
        Frame f = makeFrame();
        QMimeData data;
        data.setUrls(
            {QUrl::fromLocalFile(QStringLiteral(TESSARIN_TEST_DATA "/workbook/pump_sheets.flw")),
             QUrl(QStringLiteral("https://example.org/x.flw"))});
        const QPoint at = f.main->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(f.main.get(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(f.main.get(), &drop);
        QCOMPARE(f.windowCount(), 2);
        QCOMPARE(f.active()->windowTitle(), QStringLiteral("pump_sheets.flw"));
    }

    // Closing a changed window asks once: save (through Save As when it has no file), discard,
    // or cancel, which keeps it open. An unchanged window closes without a question.
    void closeChanged_data()
    {
        QTest::addColumn<bool>("changed");
        QTest::addColumn<Answer>("answer");
        QTest::addColumn<bool>("closes");
        QTest::newRow("unchanged") << false << Answer::Cancel << true;
        QTest::newRow("save") << true << Answer::Save << true;
        QTest::newRow("discard") << true << Answer::Discard << true;
        QTest::newRow("cancel") << true << Answer::Cancel << false;
    }
    void closeChanged()
    {
        QFETCH(bool, changed);
        QFETCH(Answer, answer);
        QFETCH(bool, closes);
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("kept.flw"));
        Frame f = makeFrame();
        TfmWinIDE *w = f.active();
        QVERIFY(!f.main->isModified(w));
        if (changed) {
            // The workbook announces the change itself.
            w->excel().SetTagValue(QStringLiteral("扬程"), QStringLiteral("41"));
            QVERIFY(f.main->isModified(w));
        }
        f.services->saveChangesAnswers = {answer};
        f.services->saveAnswers = {target};
        w->parentWidget()->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(f.services->saveQuestions, changed ? QStringList{"dazudozaraz"} : QStringList());
        QCOMPARE(f.windowCount(), closes ? 0 : 1);
        QCOMPARE(QFile::exists(target), answer == Answer::Save && changed);
        if (QFile::exists(target))
            QCOMPARE(Reloaded(target).excel.GetTagValue(QStringLiteral("扬程")),
                     QStringLiteral("41"));
    }

    // Leaving the program asks about every changed window before any closes; a cancel keeps
    // them all and the program.
    void exitAsks()
    {
        Frame f = makeFrame();
        f.main->actVOKFLW->trigger();
        f.main->actVOKFLW->trigger();
        const QList<TfmWinIDE *> windows = f.main->projectWindows();
        f.main->setModified(windows[0], true);
        f.main->setModified(windows[2], true);
        f.services->saveChangesAnswers = {Answer::Discard, Answer::Cancel};
        f.main->mniExit->trigger();
        QCOMPARE(f.services->saveQuestions.size(), 2);
        QCOMPARE(f.windowCount(), 3);
        QVERIFY(f.main->isVisible());

        f.main->setModified(windows[0], true);
        f.services->saveChangesAnswers = {Answer::Discard, Answer::Discard};
        f.main->mniExit->trigger();
        QCOMPARE(f.services->saveQuestions.size(), 4);
        QCOMPARE(f.windowCount(), 0);
        QVERIFY(!f.main->isVisible());
    }

    // Asked to end during a run, the program neither saves nor prints half-way; the window
    // stops its run and closes, and then the program ends.
    void exitDuringRun()
    {
        QTemporaryDir dir;
        Frame f = makeFrame();
        TfmWinIDE *w = f.active();
        struct Interrupt : QObject
        {
            TfmMain *main = nullptr;
            bool done = false;
            bool eventFilter(QObject *, QEvent *event) override
            {
                if (!done && event->type() == TqzRunProgressEvent::EventType
                    && static_cast<TqzRunProgressEvent *>(event)->wParam == 1) {
                    done = true;
                    main->actSave->trigger();
                    main->actPrint->trigger();
                    main->mniExit->trigger();
                }
                return false;
            }
        } interrupt;
        interrupt.main = f.main.get();
        f.services->saveAnswers = {dir.filePath(QStringLiteral("never.flw"))};
        f.services->acceptPrint = true;
        f.services->saveChangesAnswers = {Answer::Discard};
        qApp->installEventFilter(&interrupt);
        // From the event loop, as a key press would start it.
        QTimer::singleShot(0, w->actCompileProject, &QAction::trigger);
        QTRY_VERIFY(interrupt.done);
        QTRY_COMPARE(f.windowCount(), 0);
        QTRY_VERIFY(!f.main->isVisible());
        QCOMPARE(f.services->saveDialogs, QStringList());
        QCOMPARE(f.services->printDialogs, 0);
        // The run stopped before it wrote results: the pages are as loaded, nothing to ask.
        QCOMPARE(f.services->saveQuestions, QStringList());
        qApp->removeEventFilter(&interrupt);
    }

    // A double click opens the web address only where the pointer lies more than 10 pixels
    // right of panel 1's end, measured from the main window's outer left edge.
    void webLink_data()
    {
        QTest::addColumn<int>("x"); // in the bar; past the edge when above 1000
        QTest::addColumn<bool>("opens");
        QTest::newRow("panel 0") << 100 << false;
        QTest::newRow("panel 1") << 300 << false;
        QTest::newRow("at the edge") << 1000 << false;
        QTest::newRow("one past the edge") << 1001 << true;
        QTest::newRow("panel 2") << 600 << true;
    }
    void webLink()
    {
        QFETCH(int, x);
        QFETCH(bool, opens);
        Frame f = makeFrame();
        const int border = f.main->geometry().left() - f.main->frameGeometry().left();
        if (x >= 1000)
            x = 250 + 150 + 10 - border + (x - 1000);
        QTest::mouseDClick(f.main->statMain(), Qt::LeftButton, {}, QPoint(x, 10));
        QCOMPARE(f.services->urls,
                 opens ? QList<QUrl>{QUrl(TfmMain::webAddress())} : QList<QUrl>());
    }

    // Print, print current, preview and PDF export act on the active project window only.
    void printing()
    {
        QTemporaryDir dir;
        Frame f = makeFrame();
        const QList<QAction *> printActions{f.main->actPrint,
                                            f.main->actPrintCurrent,
                                            f.main->actPrintPreview,
                                            f.main->actExportPdf};
        for (QAction *a : printActions)
            QVERIFY(a->isEnabled());

        f.main->actPrint->trigger();
        QCOMPARE(f.services->printDialogs, 1);

        f.services->acceptPrint = true;
        f.services->printTo = dir.filePath(QStringLiteral("all.pdf"));
        f.main->actPrint->trigger();
        QCOMPARE(pdfPages(fileBytes(f.services->printTo)), 3);

        // No page has been clicked yet: there is no current page to print.
        f.services->printTo = dir.filePath(QStringLiteral("current.pdf"));
        f.main->actPrintCurrent->trigger();
        QVERIFY(!QFile::exists(f.services->printTo));
        f.active()->excel().SetCurrentPage(f.active()->excel().Pages.at(1));
        f.main->actPrintCurrent->trigger();
        QCOMPARE(pdfPages(fileBytes(f.services->printTo)), 1);

        const QString exported = dir.filePath(QStringLiteral("export.pdf"));
        f.services->saveAnswers = {exported};
        f.main->actExportPdf->trigger();
        QCOMPARE(f.services->saveDialogs, QStringList{"dazudozaraz.pdf"});
        QVERIFY(fileBytes(exported).startsWith("%PDF"));
        QCOMPARE(pdfPages(fileBytes(exported)), 3);
        QCOMPARE(QDir(dir.path())
                     .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                     .size(),
                 3);

        // Printing filled the page-number fields, a change of the pages.
        QVERIFY(f.main->isModified(f.active()));
        f.services->saveChangesAnswers = {Answer::Discard};
        f.main->mdiArea()->closeAllSubWindows();
        QCOMPARE(f.windowCount(), 0);
        for (QAction *a : printActions)
            QVERIFY(!a->isEnabled());
        f.main->actPrint->trigger();
        QCOMPARE(f.services->printDialogs, 4);
    }

    void windowMenu()
    {
        Frame f = makeFrame();
        f.main->actVOKFLW->trigger();
        QMenu *menu = f.main->mniWindow;
        emit menu->aboutToShow();
        emit menu->aboutToShow();
        QList<QAction *> entries = menu->actions().mid(8);
        QCOMPARE(entries.size(), 2);
        QCOMPARE(entries[0]->text(), QStringLiteral("&1 dazudozaraz"));
        QCOMPARE(entries[1]->text(), QStringLiteral("&2 dazudozaraz"));
        QVERIFY(!entries[0]->isChecked() && entries[1]->isChecked());
        entries[0]->trigger();
        QCOMPARE(f.active(), f.main->projectWindows().at(0));

        const QList<QMdiSubWindow *> subs = f.main->mdiArea()->subWindowList();
        const QRect area = f.main->mdiArea()->viewport()->rect();
        f.main->WindowTileVertical->trigger();
        QCOMPARE(subs[0]->geometry(), QRect(0, 0, area.width() / 2, area.height()));
        QCOMPARE(subs[1]->geometry().left(), area.width() / 2);
        f.main->WindowTileHorizontal->trigger();
        QCOMPARE(subs[0]->geometry(), QRect(0, 0, area.width(), area.height() / 2));
        QCOMPARE(subs[1]->geometry().top(), area.height() / 2);
        f.main->WindowMinimizeAll->trigger();
        QVERIFY(subs[0]->isMinimized() && subs[1]->isMinimized());
        f.main->WindowArrange->trigger();
        QCOMPARE(subs[0]->geometry().bottom(), area.bottom());
        QCOMPARE(subs[1]->geometry().left(), subs[0]->geometry().right() + 1);
        f.main->WindowClose->trigger();
        QCOMPARE(f.windowCount(), 1);
    }

    // The edit actions follow and act on the focused field: the read-only message pane copies
    // only; an editable field also cuts, pastes, undoes and deletes.
    void editActions_data()
    {
        QTest::addColumn<bool>("messagePane");
        QTest::addColumn<bool>("lineEdit");
        QTest::newRow("message pane") << true << false;
        QTest::newRow("text field") << false << false;
        QTest::newRow("line field") << false << true;
    }
    void editActions()
    {
        QFETCH(bool, messagePane);
        QFETCH(bool, lineEdit);
        Frame f = makeFrame();
        QWidget *field = nullptr;
        std::function<QString()> text;
        std::function<void()> selectAll;
        if (messagePane) {
            QPlainTextEdit *pane = f.active()->mmoMessage;
            f.active()->mniViewMsg->trigger();
            pane->setPlainText(QStringLiteral("名称: 扬程"));
            field = pane;
            text = [pane] { return pane->toPlainText(); };
            selectAll = [pane] { pane->selectAll(); };
        } else if (lineEdit) {
            auto *line = new QLineEdit(QStringLiteral("名称: 扬程"), f.main->statMain());
            field = line;
            text = [line] { return line->text(); };
            selectAll = [line] { line->selectAll(); };
        } else {
            auto *edit = new QPlainTextEdit(QStringLiteral("名称: 扬程"), f.main->statMain());
            field = edit;
            text = [edit] { return edit->toPlainText(); };
            selectAll = [edit] { edit->selectAll(); };
        }
        field->show();
        field->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), field);
        QVERIFY(!f.main->EditCopy->isEnabled());
        selectAll();
        QVERIFY(f.main->EditCopy->isEnabled());
        QCOMPARE(f.main->EditCut->isEnabled(), !messagePane);
        QCOMPARE(f.main->EditDelete->isEnabled(), !messagePane);
        QCOMPARE(f.main->EditPaste->isEnabled(), !messagePane);

        QApplication::clipboard()->clear();
        f.main->EditCopy->trigger();
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("名称: 扬程"));
        f.main->EditDelete->trigger();
        f.main->EditCut->trigger();
        QCOMPARE(text(), messagePane ? QStringLiteral("名称: 扬程") : QString());
        if (messagePane)
            return;
        f.main->EditPaste->trigger();
        f.main->EditPaste->trigger();
        QCOMPARE(text(), QStringLiteral("名称: 扬程名称: 扬程"));
        QVERIFY(f.main->EditUndo->isEnabled());
        f.main->EditUndo->trigger();
        QVERIFY(text() != QStringLiteral("名称: 扬程名称: 扬程"));
    }

    // Help opens in the program's own window (back, forward, search), so it works on any
    // desktop; a help file that cannot be read is said in an error box. The companion
    // programs start; a missing companion is passed over silently, as are a missing service
    // library and its entries.
    void companions()
    {
        QTemporaryDir dir;
        QVERIFY(makeProgramDir(dir.path(), true, {QStringLiteral("unitcalc")}));
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("help")));
        QVERIFY(writeBytes(dir.filePath(QStringLiteral("help/calcpack.html")),
                           "<html><head><title>泵计算帮助</title></head><body><p>扬程</p>"
                           "<a href=\"two.html\">下一页</a></body></html>"));
        QVERIFY(writeBytes(dir.filePath(QStringLiteral("help/two.html")),
                           "<html><body><p>第二页</p></body></html>"));
        setProgramDirectory(dir.path());
        Frame f = makeFrame();
        QTest::keyClick(f.main.get(), Qt::Key_F1);
        THelpWindow *help = f.main->helpWindow();
        QVERIFY(help && help->isVisible());
        QCOMPARE(help->windowTitle(), QStringLiteral("帮助 - 泵计算帮助"));
        auto *browser = help->findChild<QTextBrowser *>(QStringLiteral("tbHelp"));
        auto *back = help->findChild<QToolButton *>(QStringLiteral("btnBack"));
        auto *forward = help->findChild<QToolButton *>(QStringLiteral("btnForward"));
        auto *search = help->findChild<QLineEdit *>(QStringLiteral("edtSearch"));
        QVERIFY(browser && back && forward && search);
        QVERIFY(!back->isEnabled());
        browser->setSource(QUrl::fromLocalFile(dir.filePath(QStringLiteral("help/two.html"))));
        QVERIFY(browser->toPlainText().contains(QStringLiteral("第二页")));
        QTest::mouseClick(back, Qt::LeftButton);
        QVERIFY(browser->toPlainText().contains(QStringLiteral("扬程")));
        QVERIFY(forward->isEnabled());
        search->setText(QStringLiteral("扬程"));
        QTest::keyClick(search, Qt::Key_Return);
        QCOMPARE(browser->textCursor().selectedText(), QStringLiteral("扬程"));
        QVERIFY(!help->findText(QStringLiteral("不在页中")));

        f.main->mniUnitConv->trigger();
        f.main->mniVOKNews->trigger();
        f.main->actAbout->trigger();
        f.main->mniVOKUpdate->trigger();
        QVERIFY(f.services->urls.isEmpty());
        QCOMPARE(f.services->programs, QStringList{dir.filePath(QStringLiteral("unitcalc"))});
        QVERIFY(f.services->errors.isEmpty());

        QFile::remove(dir.filePath(QStringLiteral("help/calcpack.html")));
        help->close();
        QTest::keyClick(f.main.get(), Qt::Key_F1);
        QCOMPARE(f.services->errors.size(), 1);
        QVERIFY(f.services->errors.first().contains(QStringLiteral("找不到帮助文件")));

        // The shipped help with all its pictures, for a person to look at.
        THelpWindow shipped;
        QVERIFY(shipped.openPage(QStringLiteral(TESSARIN_BIN_DIR "/help/calcpack.html")));
        QCOMPARE(shipped.missingImages(), QStringList());
        shipped.show();
        QVERIFY(QTest::qWaitForWindowExposed(&shipped));
        QVERIFY(shipped.grab().save(shotDir() + QStringLiteral("/help-window.png")));
    }

    // Qt's own dialogs speak Chinese once its translations are loaded.
    void standardButtonsInChinese()
    {
        QVERIFY(installChineseTranslations(*qApp));
        QMessageBox box(QMessageBox::Question,
                        applicationTitle(),
                        QStringLiteral("是否保存修改？"),
                        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        QVERIFY(box.button(QMessageBox::Save)->text().contains(QStringLiteral("保存")));
        QVERIFY(box.button(QMessageBox::Cancel)->text().contains(QStringLiteral("取消")));
        QVERIFY(box.grab().save(shotDir() + QStringLiteral("/dialog-zh.png")));
    }

    // A changed input makes the results stale: the status bar says so, and printing,
    // previewing and exporting ask first; a failed step shows in red in the status bar.
    void staleAndFailedResultsInTheStatusBar()
    {
        QTemporaryDir dir;
        Frame f = makeFrame();
        f.main->resize(1000, 720);
        TfmWinIDE *w = f.active();
        QVERIFY(w);
        TMainStatusBar *bar = f.main->statMain();
        QTest::keyClick(f.main.get(), Qt::Key_F9);
        QTRY_VERIFY(!w->isRunning());
        QCOMPARE(bar->panelText(0), QStringLiteral("计算完成"));
        TqzReport *page = w->excel().Pages.at(0);
        typeIntoCell(page, QStringLiteral("流量"), "60");
        QCOMPARE(bar->panelText(0), QStringLiteral("结果未更新，按 F9 计算"));
        QCOMPARE(bar->panelTextColor(0), QColor(Qt::black));

        int asked = 0;
        TfmWinIDE::StaleChoice answer = TfmWinIDE::StaleChoice::Cancel;
        w->setStaleQuestion([&](QWidget *) { return ++asked, answer; });
        f.services->saveAnswers = {dir.filePath(QStringLiteral("x.pdf"))};
        for (QAction *a : {f.main->actPrint, f.main->actPrintPreview, f.main->actExportPdf})
            a->trigger();
        QCOMPARE(asked, 3);
        QCOMPARE(f.services->printDialogs, 0);
        QVERIFY(f.services->saveDialogs.isEmpty());
        answer = TfmWinIDE::StaleChoice::Calculate;
        f.main->actPrint->trigger();
        QCOMPARE(f.services->printDialogs, 1);
        QVERIFY(!w->hasStaleResults());
        QCOMPARE(bar->panelText(0), QStringLiteral("计算完成"));

        typeIntoCell(page, QStringLiteral("扬程"), "3O");
        QTest::keyClick(f.main.get(), Qt::Key_F9);
        QTRY_VERIFY(!w->isRunning());
        QCOMPARE(bar->panelText(0), QStringLiteral("计算完成：1 步失败"));
        QCOMPARE(bar->panelTextColor(0), QColor(200, 0, 0));
        page->RemoveAllSelectedCell();
        QTest::qWait(50);
        QVERIFY(f.main->grab().save(shotDir() + QStringLiteral("/main-failed.png")));
        typeIntoCell(page, QStringLiteral("流量"), "70"); // the failed result is now stale as well
        QCOMPARE(bar->panelText(0), QStringLiteral("结果未更新，按 F9 计算"));
        f.services->saveChangesAnswers = {Answer::Discard};
    }

    // The calculation book of the active window: a project not run since it was loaded asks to
    // run first (cancelling writes nothing); the book holds the run's steps and the inputs.
    void calculationBook()
    {
        QTemporaryDir dir;
        Frame f = makeFrame();
        TfmWinIDE *w = f.active();
        QVERIFY(w);
        int asked = 0;
        TfmWinIDE::StaleChoice answer = TfmWinIDE::StaleChoice::Cancel;
        w->setStaleQuestion([&](QWidget *) { return ++asked, answer; });
        const QString book = dir.filePath(QStringLiteral("book.pdf"));
        f.services->saveAnswers = {book};
        f.main->actExportBook->trigger();
        QCOMPARE(asked, 1);
        QVERIFY(f.services->saveDialogs.isEmpty());

        answer = TfmWinIDE::StaleChoice::Calculate;
        f.main->actExportBook->trigger();
        QCOMPARE(asked, 2);
        QCOMPARE(f.services->saveDialogs, QStringList{"dazudozaraz 计算书.pdf"});
        QProcess text;
        text.start(QStringLiteral("pdftotext"), {book, QStringLiteral("-")});
        QVERIFY(text.waitForFinished());
        const QString printed = QString::fromUtf8(text.readAllStandardOutput());
        QVERIFY2(printed.contains(QStringLiteral("计算过程")), qPrintable(printed));
        QVERIFY(printed.contains(QStringLiteral("第1步")));
        QVERIFY(printed.contains(QStringLiteral("结果：")));
        QVERIFY(printed.contains(QStringLiteral("报表输入")));
        QVERIFY(!printed.contains(QStringLiteral("尚未计算")));

        // Run and unchanged since: no question.
        f.services->saveAnswers = {book};
        f.main->actExportBook->trigger();
        QCOMPARE(asked, 2);
        QCOMPARE(f.services->saveDialogs.size(), 2);
        f.services->saveChangesAnswers = {Answer::Discard};
    }

    // Two inputs typed and F9 are three steps: Ctrl+Z three times gives back the values of
    // cells and nodes and the status before them, and a clean caption; Ctrl+Y and
    // Ctrl+Shift+Z redo them.
    void undoAndRedoOfTypingAndRuns()
    {
        Frame f = makeFrame();
        f.main->resize(1000, 720);
        TfmWinIDE *w = f.active();
        QVERIFY(w);
        TqzReport *page = w->excel().Pages.at(0);
        const QString caption = w->windowTitle();
        // What the user and a checker see: the texts of the three cells, the node values
        // behind them, the status line and the caption.
        const auto state = [&] {
            QStringList seen;
            for (const char *name : {"流量", "扬程", "轴功率"}) {
                seen << w->excel().GetTagValue(QString::fromUtf8(name));
                const QModelIndex node = w->project().FindNodeByName(QString::fromUtf8(name));
                seen << (node.isValid()
                             ? w->project()
                                   .TreeView->nodeAt(w->project().TreeView->absoluteIndex(node))
                                   ->Value
                             : QStringLiteral("?"));
            }
            return seen << w->statusText() << w->windowTitle();
        };
        QVERIFY(!f.main->EditUndo->isEnabled());
        QList<QStringList> states{state()};
        // Typing shows the change at once; Esc takes it back, and with it the *.
        TReportCell *flow = page->CellsOfName(QStringLiteral("流量")).value(0);
        QTest::mouseClick(page, Qt::LeftButton, {}, page->pageToWindow(flow->FCellRect).center());
        QTest::keyClick(QApplication::focusWidget(), '9');
        QCOMPARE(w->windowTitle(), caption + QLatin1Char('*'));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QCOMPARE(state(), states[0]);
        QVERIFY(!f.main->EditUndo->isEnabled());
        typeIntoCell(page, QStringLiteral("流量"), "60");
        states << state();
        QCOMPARE(f.main->EditUndo->text(), QStringLiteral("撤销 输入 流量"));
        typeIntoCell(page, QStringLiteral("扬程"), "25");
        states << state();
        QCOMPARE(w->windowTitle(), caption + QLatin1Char('*'));
        QTest::keyClick(f.main.get(), Qt::Key_F9);
        QTRY_VERIFY(!w->isRunning());
        states << state();
        QCOMPARE(f.main->EditUndo->text(), QStringLiteral("撤销 计算"));
        QCOMPARE(f.main->EditUndo->toolTip(), QStringLiteral("撤销 计算"));
        QVERIFY(states[3] != states[2]);

        for (int i = 2; i >= 0; --i) {
            QTest::keyClick(f.main.get(), Qt::Key_Z, Qt::ControlModifier);
            QCOMPARE(state(), states[i]);
        }
        QCOMPARE(w->windowTitle(), caption);
        QVERIFY(!w->hasStaleResults());
        QVERIFY(!f.main->EditUndo->isEnabled());
        QCOMPARE(f.main->EditRedo->text(), QStringLiteral("重做 输入 流量"));
        QTest::keyClick(f.main.get(), Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(state(), states[1]);
        QTest::keyClick(f.main.get(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(state(), states[2]);
        QTest::keyClick(f.main.get(), Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(state(), states[3]);
        QVERIFY(!f.main->EditRedo->isEnabled());

        // A new edit after an undo drops the steps that were undone.
        QTest::keyClick(f.main.get(), Qt::Key_Z, Qt::ControlModifier);
        typeIntoCell(page, QStringLiteral("流量"), "75");
        QVERIFY(!f.main->EditRedo->isEnabled());
        QCOMPARE(w->undoStack()->count(), 3);
        f.services->saveChangesAnswers = {Answer::Discard};
    }

    // Structural and format edits of a page are one step each; undone, the page stream is byte
    // for byte what it was before, and redone what it was after.
    void undoOfPageEditsRestoresTheStream()
    {
        Frame f = makeFrame();
        TfmWinIDE *w = f.active();
        QVERIFY(w);
        TqzReport *page = w->excel().Pages.at(0);
        QVERIFY(page->lineCount() >= 3);
        const auto stream = [&] {
            QByteArray bytes;
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::WriteOnly);
            page->SaveToStream(buffer, 0);
            return bytes;
        };
        const auto select = [&](int line, int cell, int lastLine, int lastCell) {
            page->RemoveAllSelectedCell();
            page->SetCellSFocus(line, cell, lastLine, lastCell);
        };
        const QList<std::pair<QString, std::function<void()>>> edits = {
            {"插入行", [&] { select(1, 0, 1, 0), page->InsertLine(); }},
            {"追加格", [&] { select(0, 0, 0, 0), page->AddCell(); }},
            {"合并", [&] { select(1, 0, 2, 1), page->CombineCell(); }},
            {"拆分", [&] { select(0, 1, 0, 1), page->VSplitCell(3); }},
            {"框线", [&] { select(0, 0, 2, 0), page->SetCellLines(1, 0, 1, 0, 2, 1, 2, 1); }},
            {"对齐与颜色",
             [&] {
                 select(0, 0, 0, 0);
                 page->SetCellAlign(TEXT_ALIGN_RIGHT, TEXT_ALIGN_BOTTOM);
                 page->SetCellColor(0x0000FF, 0x00E0E0E0);
             }},
            {"行高", [&] { page->SetLineHegit(0, 60), page->UpdateLines(); }},
            {"页边距", [&] { page->SetMargin(25, 25, 15, 20); }},
            {"删除行", [&] { select(0, 0, 0, 0), page->DeleteLine(); }},
        };
        QList<QByteArray> streams{stream()};
        for (const auto &[name, edit] : edits) {
            w->editPage(page, name, edit);
            streams << stream();
            QVERIFY2(streams.last() != streams[streams.size() - 2], qPrintable(name));
            QCOMPARE(w->undoStack()->undoText(), name);
        }
        QCOMPARE(w->undoStack()->count(), edits.size());
        // An edit that changes nothing is no step.
        w->editPage(page, QStringLiteral("无"), [] {});
        QCOMPARE(w->undoStack()->count(), edits.size());
        for (qsizetype i = edits.size() - 1; i >= 0; --i) {
            QTest::keyClick(f.main.get(), Qt::Key_Z, Qt::ControlModifier);
            QVERIFY2(stream() == streams[i], qPrintable(edits[i].first));
        }
        QCOMPARE(w->windowTitle(), QStringLiteral("dazudozaraz"));
        for (qsizetype i = 1; i < streams.size(); ++i) {
            QTest::keyClick(f.main.get(), Qt::Key_Y, Qt::ControlModifier);
            QVERIFY2(stream() == streams[i], qPrintable(edits[i - 1].first));
        }
        f.services->saveChangesAnswers = {Answer::Discard};
    }

    // Each project window has its own steps; the actions follow the active one, and saving
    // marks the saved state clean.
    void undoFollowsTheActiveWindowAndTheSavedState()
    {
        QTemporaryDir dir;
        Frame f = makeFrame();
        TfmWinIDE *first = f.active();
        TqzReport *page = first->excel().Pages.at(0);
        TReportCell *cell = page->CellsOfName(QStringLiteral("流量")).value(0);
        QVERIFY(cell);
        page->SelectOnly(cell);
        page->PasteText(QStringLiteral("61"));
        QCOMPARE(f.main->EditUndo->text(), QStringLiteral("撤销 输入 流量"));
        f.main->actVOKFLW->trigger();
        TfmWinIDE *second = f.active();
        QVERIFY(second != first);
        QVERIFY(!f.main->EditUndo->isEnabled());
        QTest::keyClick(f.main.get(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(first->excel().GetTagValue(QStringLiteral("流量")), QStringLiteral("61"));
        f.main->mdiArea()->setActiveSubWindow(qobject_cast<QMdiSubWindow *>(first->parentWidget()));
        QCOMPARE(f.main->EditUndo->text(), QStringLiteral("撤销 输入 流量"));

        f.services->saveAnswers = {dir.filePath(QStringLiteral("saved.flw"))};
        f.main->actSave->trigger();
        QCOMPARE(first->windowTitle(), QStringLiteral("saved.flw"));
        QTest::keyClick(f.main.get(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(first->windowTitle(), QStringLiteral("saved.flw*"));
        QTest::keyClick(f.main.get(), Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(first->windowTitle(), QStringLiteral("saved.flw"));
        f.services->saveChangesAnswers = {Answer::Discard, Answer::Discard};
    }

    // Pictures of the program for people to look at, taken only when TESSARIN_SHOT_DIR names
    // a folder: the packaged project after F9, and the window caught in the middle of the run.
    void screenshots()
    {
        const QString shots = qEnvironmentVariable("TESSARIN_SHOT_DIR");
        if (shots.isEmpty())
            QSKIP("TESSARIN_SHOT_DIR is not set");
        if (QFile::exists(QStringLiteral(TESSARIN_BIN_DIR "/libcalcpack.so")))
            setProgramDirectory(QStringLiteral(TESSARIN_BIN_DIR));
        Frame f = makeFrame();
        f.main->resize(1000, 720);
        f.active()->mniViewMsg->trigger();
        QTest::qWait(200);
        // As when the pointer rests on the tool button "打开".
        f.main->actOpen->showStatusText(f.main.get());
        QVERIFY(f.main->grab().save(QDir(shots).filePath(QStringLiteral("main-loaded.png"))));
        f.main->statMain()->clearMessage();

        struct MidRun : QObject
        {
            TfmMain *main = nullptr;
            QString file;
            bool taken = false;
            bool eventFilter(QObject *, QEvent *event) override
            {
                if (!taken && event->type() == TqzRunProgressEvent::EventType) {
                    const auto *p = static_cast<TqzRunProgressEvent *>(event);
                    QProgressBar *bar = main->progressBar();
                    if (p->wParam == 1 && bar && p->lParam * 2 >= bar->maximum()) {
                        taken = true;
                        // Let the bar take the position, then draw the whole window.
                        bar->setValue(p->lParam);
                        main->grab().save(file);
                    }
                }
                return false;
            }
        } midRun;
        midRun.main = f.main.get();
        midRun.file = QDir(shots).filePath(QStringLiteral("main-running.png"));
        qApp->installEventFilter(&midRun);
        QTest::keyClick(f.main.get(), Qt::Key_F9);
        QTRY_VERIFY(!f.active()->isRunning());
        qApp->removeEventFilter(&midRun);
        QTest::qWait(200);
        QVERIFY(f.main->grab().save(QDir(shots).filePath(QStringLiteral("main-after-f9.png"))));
        f.services->saveChangesAnswers = {Answer::Discard};
    }
    // A calculation built from nothing with mouse and keyboard: three nodes in the tree, a table
    // on the page, two cells bound, F9, saved, reopened with its results.
    void authorsACalculationFromScratch()
    {
        Frame f = makeFrame();
        f.main->resize(1200, 800);
        f.main->actNew->trigger();
        TfmWinIDE *w = f.active();
        QVERIFY(w);
        QTRY_VERIFY(w->tvProject->isVisible());
        TqzNodeTreeView *tree = w->tvProject;
        TqzNodeProperties *props = w->pnlNodeProperties;
        const TqzProjectTree &nodes = *w->project().TreeView;
        const auto typeInto = [](QWidget *edit, const QString &text) {
            QTest::mouseClick(edit, Qt::LeftButton);
            QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
            typeText(edit, text);
            QTest::keyClick(edit, Qt::Key_Return);
        };
        const auto onTree = [tree](int key, Qt::KeyboardModifiers modifiers = {}) {
            tree->setFocus();
            QTest::sendKeyEvent(QTest::Click, tree, Qt::Key(key), QString(), modifiers);
        };
        const auto clickNode = [tree, &nodes](int i) {
            const QRect rect = tree->visualRect(nodes.itemAt(i));
            QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, rect.center());
        };

        onTree(Qt::Key_Insert);
        typeInto(props->edit(TqzNodeField::Name), QStringLiteral("面积"));
        typeInto(props->edit(TqzNodeField::Unit), QStringLiteral("m2"));
        typeInto(props->formula, QStringLiteral("长度*宽度"));
        onTree(Qt::Key_Insert, Qt::ControlModifier);
        typeInto(props->edit(TqzNodeField::Name), QStringLiteral("长度"));
        typeInto(props->edit(TqzNodeField::Caption), QStringLiteral("L"));
        onTree(Qt::Key_Insert);
        typeInto(props->edit(TqzNodeField::Name), QStringLiteral("宽度"));
        typeInto(props->edit(TqzNodeField::Value), QStringLiteral("3"));
        QCOMPARE(nodes.count(), 3);
        QCOMPARE(nodes.nodeAt(0)->Script, QStringLiteral("长度*宽度"));
        QCOMPARE(nodes.parentIndex(2), 0);
        // A name already taken is refused beside the field, and nothing changes.
        typeInto(props->edit(TqzNodeField::Name), QStringLiteral("长度"));
        QVERIFY(props->problem->isVisible());
        QVERIFY(props->problem->text().contains(QStringLiteral("已有节点使用")));
        QCOMPARE(nodes.nodeAt(2)->Name, QStringLiteral("宽度"));
        QCOMPARE(props->edit(TqzNodeField::Name)->text(), QStringLiteral("宽度"));
        // 检查公式 shows the numbers it would compute with.
        clickNode(0);
        QTest::mouseClick(props->checkFormula, Qt::LeftButton);
        QVERIFY(props->trialText->toPlainText().contains(QStringLiteral("错误")));
        QVERIFY(props->trialText->toPlainText().contains(QStringLiteral("*3")));

        // The page designer lays a table; two cells are bound to nodes picked in the tree.
        w->setDesignQuestion([](QWidget *, const QString &what, const QVariant &) {
            return what == QLatin1String("table") ? QVariant(QSize(2, 2)) : QVariant();
        });
        TqzReport *page = w->excel().Pages.first();
        w->findChild<QAction *>(QStringLiteral("actNewTable"))->trigger();
        QCOMPARE(page->CountFLines(), 2);
        const auto bind = [&](int line, int node, QAction *as) {
            TReportCell *cell = page->CellFromRC(line, 1);
            QTest::mouseClick(page, Qt::LeftButton, {}, page->pageToWindow(cell->FCellRect).center());
            clickNode(node);
            as->trigger();
        };
        bind(0, 1, w->actBindInput);
        bind(1, 0, w->actBindResult);
        QCOMPARE(page->CellFromRC(0, 1)->FTagID, QStringLiteral("[2][1][0][长度]"));
        QCOMPARE(page->CellFromRC(1, 1)->FTagID, QStringLiteral("[2][0][0][面积]"));
        typeIntoCell(page, QStringLiteral("长度"), "4");
        QTest::keyClick(f.main.get(), Qt::Key_F9);
        QTRY_VERIFY(!w->isRunning());
        QCOMPARE(page->CellFromRC(1, 1)->FCellText.toDouble(), 12.0);
        // A value changed in the panel leaves the result out of date until the next run.
        clickNode(2);
        typeInto(props->edit(TqzNodeField::Value), QStringLiteral("5"));
        QCOMPARE(w->staleNames(), QStringList{QStringLiteral("面积")});
        QTest::keyClick(f.main.get(), Qt::Key_F9);
        QTRY_VERIFY(!w->isRunning());
        QCOMPARE(page->CellFromRC(1, 1)->FCellText.toDouble(), 20.0);
        QVERIFY(!w->hasStaleResults());
        QVERIFY(w->grab().save(shotDir() + QStringLiteral("/authoring.png")));

        // Saved (a new project goes to Save As) and opened again: the tree, the bindings and
        // the results come back.
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("面积.flw"));
        f.services->saveAnswers = {path};
        f.main->actSave->trigger();
        QVERIFY(QFile::exists(path));
        QVERIFY(!f.active()->windowTitle().endsWith(u'*'));
        f.services->openAnswers = {path};
        f.main->actOpen->trigger();
        TfmWinIDE *again = f.active();
        QVERIFY(again != w);
        const TqzProjectTree &reread = *again->project().TreeView;
        QCOMPARE(reread.count(), 3);
        QCOMPARE(reread.nodeAt(0)->Script, QStringLiteral("长度*宽度"));
        QCOMPARE(reread.nodeAt(1)->Caption, QStringLiteral("L"));
        TqzReport *shown = again->excel().Pages.first();
        QCOMPARE(shown->CellFromRC(1, 1)->FCellText.toDouble(), 20.0);
        QCOMPARE(shown->CellFromRC(0, 1)->FCellText.toDouble(), 4.0);
        QCOMPARE(reread.nodeAt(2)->Value.toDouble(), 5.0);
        QTest::keyClick(f.main.get(), Qt::Key_F9);
        QTRY_VERIFY(!again->isRunning());
        QCOMPARE(shown->CellFromRC(1, 1)->FCellText.toDouble(), 20.0);
        f.services->saveChangesAnswers = {Answer::Discard, Answer::Discard};
    }
};

QTEST_MAIN(MainWindowTest)
#include "mainwindow_test.moc"
