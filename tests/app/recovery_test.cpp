// Recovery copies through the real main window: a program killed in the middle of an edit
// leaves a copy the next start recovers exactly; the answers, a damaged copy, a save, a clean
// close, a run, a folder that cannot be written, and the question itself.
//
// Started with "--edit-and-wait PROGRAM_DIR FILE TAG TEXT" the program is the instance that is
// killed: it opens FILE, types TEXT into the cell tagged TAG, waits for the recovery copy,
// prints "ready" and waits.

#include "apptestsupport.h"
#include "autosave.h"
#include "fonts.h"
#include "mainwindow.h"
#include "programdir.h"
#include "projectfile.h"
#include "qzexcel.h"
#include "qzproject.h"
#include "qzreport.h"
#include "runprogress.h"
#include "statusbar.h"
#include "winide.h"

#include <QApplication>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QUndoStack>

#include <cstdio>

using namespace tessarin;
using namespace tessarin::test;

using Recovery = TMainServices::RecoveryAnswer;
using Save = TMainServices::SaveAnswer;
Q_DECLARE_METATYPE(TMainServices::RecoveryAnswer)

namespace {

const QString kTag = QStringLiteral("流量");

struct Frame
{
    ScriptedServices *services = nullptr; // owned by the window
    std::unique_ptr<TfmMain> main;

    TfmWinIDE *active() const { return main->activeProjectWindow(); }
    int windowCount() const { return int(main->projectWindows().size()); }
    bool hasCopy(TfmWinIDE *w) const
    {
        return main->recoveryStore().contains(main->recoveryKey(w));
    }
};

Frame makeFrame(const QString &recoveryFolder, int intervalMs, Recovery answer = Recovery::Later)
{
    Frame frame;
    TfmMainSettings settings;
    settings.updateAtExit = false;
    settings.newsIntervalMs = 24 * 3600 * 1000;
    settings.autosaveIntervalMs = intervalMs;
    settings.recoveryFolder = recoveryFolder;
    frame.services = new ScriptedServices;
    frame.services->recoveryAnswer = answer;
    frame.main
        = std::make_unique<TfmMain>(settings, std::unique_ptr<TMainServices>(frame.services));
    frame.main->resize(1000, 720);
    frame.main->show();
    QApplication::setActiveWindow(frame.main.get());
    [[maybe_unused]] const bool active = QTest::qWaitForWindowActive(frame.main.get());
    QCoreApplication::processEvents(); // the recovery question follows the first window
    return frame;
}

QString tagValue(const QString &fileName, const QString &tag = kTag)
{
    TqzProject project;
    TqzExcel excel;
    TqzProjectFile().loadFile(fileName, project, excel.workbook());
    return excel.GetTagValue(tag);
}

// The recovery folder's copies and descriptions (session locks left out).
QStringList copiesIn(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral("*.flw"), QStringLiteral("*.json")},
                                  QDir::Files | QDir::Hidden,
                                  QDir::Name);
}

// A copy of the sample project in `dir`.
QString projectCopy(const QTemporaryDir &dir)
{
    const QString path = dir.filePath(QStringLiteral("pump.flw"));
    return QFile::copy(QStringLiteral(TESSARIN_TEST_DATA "/workbook/pump_sheets.flw"), path)
               ? path
               : QString();
}

int childMain(int argc, char **argv)
{
    QApplication app(argc, argv);
    installFontSubstitutions();
    if (argc != 6)
        return 2;
    setProgramDirectory(QString::fromLocal8Bit(argv[2]));
    Frame f = makeFrame(QString(), autosaveIntervalFromEnvironment());
    TfmWinIDE *window = f.main->openProjectFile(QString::fromLocal8Bit(argv[3]));
    TqzReport *page = window ? window->excel().Pages.value(0) : nullptr;
    TReportCell *cell = page ? page->CellsOfName(QString::fromUtf8(argv[4])).value(0) : nullptr;
    if (!cell)
        return 3;
    // Typed as a user types: a click on the cell, the keys, Enter.
    QTest::mouseClick(page, Qt::LeftButton, {}, page->pageToWindow(cell->FCellRect).center());
    for (const char ch : QByteArray(argv[5]))
        QTest::keyClick(QApplication::focusWidget(), ch); // the first key opens the edit box
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    if (!QTest::qWaitFor([&] { return f.hasCopy(window); }, 30000))
        return 4;
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}

} // namespace

class RecoveryTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_program;
    QTemporaryDir m_state;

    // An instance that edits `file` and ends without saving or closing (its frame is simply
    // destroyed, as by a crash); a second instance alive meanwhile is not offered its copy.
    static void crashAfterEdit(const QString &folder, const QString &file)
    {
        Frame crashed = makeFrame(folder, 30);
        TfmWinIDE *window = crashed.main->openProjectFile(file);
        QVERIFY(window);
        window->excel().SetTagValue(kTag, QStringLiteral("47"));
        QTRY_VERIFY(crashed.hasCopy(window));
        Frame live = makeFrame(folder, 30, Recovery::Recover);
        QVERIFY(live.services->recoveryQuestions.isEmpty());
    }

private slots:
    void initTestCase()
    {
        installFontSubstitutions();
        useStateFolder(m_state.path());
        QVERIFY(makeProgramDir(m_program.path(), true));
    }
    void init() { setProgramDirectory(m_program.path()); }

    // Killed with SIGKILL after typing; the next start recovers the typed value into a window
    // marked changed and bound to the untouched original until the user saves.
    void killedInstanceIsRecovered()
    {
        QTemporaryDir dir;
        const QString file = projectCopy(dir);
        const QByteArray original = fileBytes(file);
        const QString state = dir.filePath(QStringLiteral("state"));
        const QString folder = state + QStringLiteral("/tessarin/recovery");
        const QString typed = QStringLiteral("61.25");
        QVERIFY(tagValue(file) != typed);

        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_STATE_HOME"), state);
        env.insert(QStringLiteral("TESSARIN_AUTOSAVE_MS"), QStringLiteral("100"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--edit-and-wait"), m_program.path(), file, kTag, typed});
        QByteArray out;
        while (!out.contains("ready\n") && child.waitForReadyRead(30000))
            out += child.readAllStandardOutput();
        QVERIFY2(out.contains("ready\n"), child.readAllStandardError().constData());
        child.kill(); // SIGKILL: nothing of the program runs after it
        QVERIFY(child.waitForFinished(10000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        QCOMPARE(fileBytes(file), original);

        useStateFolder(state);
        Frame f = makeFrame(QString(), 60000, Recovery::Recover);
        useStateFolder(m_state.path());
        QCOMPARE(f.services->recoveryQuestions.size(), 1);
        const QList<TRecoveryEntry> asked = f.services->recoveryQuestions.at(0);
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked[0].documentName(), file);
        QVERIFY(qAbs(asked[0].Time.secsTo(QDateTime::currentDateTimeUtc())) < 120);
        QVERIFY(f.services->errors.isEmpty());
        TfmWinIDE *w = f.active();
        QCOMPARE(f.windowCount(), 2);
        QCOMPARE(w->excel().GetTagValue(kTag), typed);
        QCOMPARE(w->windowTitle(), QStringLiteral("pump.flw*"));
        QCOMPARE(fileBytes(file), original);
        // The copy moved into this session.
        QVERIFY(f.hasCopy(w));
        QCOMPARE(copiesIn(folder).size(), 2);
        // An edit typed and undone does not make the recovered state the saved one.
        TqzReport *page = w->excel().CellsOfName(kTag).value(0).first;
        page->SelectOnly(page->CellsOfName(kTag).value(0));
        page->PasteText(QStringLiteral("1"));
        w->undoStack()->undo();
        QCOMPARE(w->excel().GetTagValue(kTag), typed);
        QCOMPARE(w->windowTitle(), QStringLiteral("pump.flw*"));
        QVERIFY(f.hasCopy(w));

        f.main->actSave->trigger();
        QVERIFY(f.services->saveDialogs.isEmpty());
        QCOMPARE(w->windowTitle(), QStringLiteral("pump.flw"));
        QCOMPARE(copiesIn(folder), QStringList());
        QCOMPARE(tagValue(file), typed);
    }

    // What each answer does with a crashed instance's copy, whole or cut short.
    void answers_data()
    {
        QTest::addColumn<Recovery>("answer");
        QTest::addColumn<bool>("truncated");
        QTest::addColumn<int>("windows");
        QTest::addColumn<bool>("kept"); // the old copy, offered again at the next start
        QTest::newRow("recover") << Recovery::Recover << false << 2 << false;
        QTest::newRow("discard") << Recovery::Discard << false << 1 << false;
        QTest::newRow("later") << Recovery::Later << false << 1 << true;
        QTest::newRow("recover a damaged copy") << Recovery::Recover << true << 1 << true;
    }
    void answers()
    {
        QFETCH(Recovery, answer);
        QFETCH(bool, truncated);
        QFETCH(int, windows);
        QFETCH(bool, kept);
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("recovery"));
        const QString file = projectCopy(dir);
        const QByteArray original = fileBytes(file);
        crashAfterEdit(folder, file);
        if (QTest::currentTestFailed())
            return;
        const QStringList before = copiesIn(folder);
        QCOMPARE(before.size(), 2);
        const QString copy = QDir(folder).filePath(before.filter(QStringLiteral(".flw")).value(0));
        QByteArray bytes = fileBytes(copy);
        if (truncated)
            bytes.truncate(5000);
        QVERIFY(writeBytes(copy, bytes));
        {
            Frame f = makeFrame(folder, 60000, answer);
            QCOMPARE(f.services->recoveryQuestions.size(), 1);
            QCOMPARE(f.windowCount(), windows);
            if (truncated) {
                // What and where; nothing loaded half-way, the copy left as it was.
                QCOMPARE(f.services->errors.size(), 1);
                const QString error = f.services->errors.at(0);
                QVERIFY2(error.startsWith(QStringLiteral("无法恢复 ") + file), qPrintable(error));
                QVERIFY2(error.contains(QDir::toNativeSeparators(copy)), qPrintable(error));
                QCOMPARE(fileBytes(copy), bytes);
            } else {
                QVERIFY(f.services->errors.isEmpty());
            }
            if (windows == 2) {
                QCOMPARE(f.active()->excel().GetTagValue(kTag), QStringLiteral("47"));
                QVERIFY(f.hasCopy(f.active()));
            }
            QCOMPARE(copiesIn(folder) == before, kept);
            f.services->saveChangesAnswers = {Save::Discard};
            QVERIFY(f.main->close());
            // A recovered window let go takes its copy with it.
            QCOMPARE(copiesIn(folder), kept ? before : QStringList());
        }
        Frame next = makeFrame(folder, 60000);
        QCOMPARE(next.services->recoveryQuestions.size(), kept ? 1 : 0);
        QCOMPARE(fileBytes(file), original);
    }

    // A stream of changes is copied within the interval; saving, closing cleanly or returning to
    // the saved state removes the copy, a cancelled close keeps it; after a save the next change
    // copies again.
    void copyLifecycle_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::addColumn<bool>("kept");
        QTest::newRow("save") << "save" << false;
        QTest::newRow("close, discarding") << "close-discard" << false;
        QTest::newRow("close, saving") << "close-save" << false;
        QTest::newRow("close cancelled") << "close-cancel" << true;
        QTest::newRow("back in the saved state") << "clean" << false;
    }
    void copyLifecycle()
    {
        QFETCH(QString, ending);
        QFETCH(bool, kept);
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("recovery"));
        Frame f = makeFrame(folder, 300);
        TfmWinIDE *w = f.main->openProjectFile(projectCopy(dir));
        QVERIFY(w);
        // Changes more often than the interval do not put the copy off.
        for (int i = 0; i < 12 && !f.hasCopy(w); ++i) {
            w->excel().SetTagValue(kTag, QString::number(50 + i));
            QTest::qWait(60);
        }
        QVERIFY(f.hasCopy(w));
        if (ending == QLatin1String("save")) {
            f.main->actSave->trigger();
        } else if (ending == QLatin1String("clean")) {
            f.main->setModified(w, false);
        } else {
            f.services->saveChangesAnswers
                = {ending == QLatin1String("close-discard") ? Save::Discard
                   : ending == QLatin1String("close-save")  ? Save::Save
                                                            : Save::Cancel};
            w->parentWidget()->close();
        }
        QCOMPARE(copiesIn(folder).size(), kept ? 2 : 0);
        QVERIFY(f.services->errors.isEmpty());
        if (ending == QLatin1String("save")) {
            w->excel().SetTagValue(kTag, QStringLiteral("99"));
            QTRY_COMPARE(copiesIn(folder).size(), 2);
        }
        f.services->saveChangesAnswers = {Save::Discard};
    }

    // A change just before F9: no copy while the run writes, then one with its results.
    void noCopyDuringARun()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("recovery"));
        Frame f = makeFrame(folder, 1);
        TfmWinIDE *w = f.main->openProjectFile(projectCopy(dir));
        QVERIFY(w);
        struct DuringRun : QObject
        {
            QString folder;
            QList<qsizetype> copies;
            bool eventFilter(QObject *, QEvent *event) override
            {
                if (event->type() == TqzRunProgressEvent::EventType
                    && static_cast<TqzRunProgressEvent *>(event)->wParam == 1)
                    copies << copiesIn(folder).size();
                return false;
            }
        } duringRun;
        duringRun.folder = folder;
        qApp->installEventFilter(&duringRun);
        w->excel().SetTagValue(kTag, QStringLiteral("47"));
        QTest::keyClick(f.main.get(), Qt::Key_F9);
        qApp->removeEventFilter(&duringRun);
        QVERIFY(!w->isRunning() && !duringRun.copies.isEmpty());
        QCOMPARE(duringRun.copies, QList<qsizetype>(duringRun.copies.size(), 0));
        QTRY_VERIFY(f.hasCopy(w));
        const QString power = QStringLiteral("轴功率");
        QVERIFY(!w->excel().GetTagValue(power).isEmpty());
        QCOMPARE(tagValue(f.main->recoveryStore().documentPath(f.main->recoveryKey(w)), power),
                 w->excel().GetTagValue(power));
        f.services->saveChangesAnswers = {Save::Discard};
    }

    // A folder that cannot be written: one note in the status bar, no box, the user's file
    // untouched, the window as it was.
    void failingAutosaveIsNotedOnce()
    {
        QTemporaryDir dir;
        QVERIFY(writeBytes(dir.filePath(QStringLiteral("blocker")), "not a folder"));
        const QString file = projectCopy(dir);
        const QByteArray original = fileBytes(file);
        Frame f = makeFrame(dir.filePath(QStringLiteral("blocker/recovery")), 30);
        TfmWinIDE *w = f.main->openProjectFile(file);
        QVERIFY(w);
        w->excel().SetTagValue(kTag, QStringLiteral("47"));
        QTRY_VERIFY(
            f.main->statMain()->currentMessage().startsWith(QStringLiteral("自动保存失败")));
        QVERIFY(f.main->statMain()->currentMessage().contains(QStringLiteral("blocker/recovery")));
        f.main->statMain()->clearMessage();
        w->excel().SetTagValue(kTag, QStringLiteral("48"));
        QTest::qWait(200);
        QCOMPARE(f.main->statMain()->currentMessage(), QString());
        QVERIFY(f.services->errors.isEmpty());
        QCOMPARE(fileBytes(file), original);
        QCOMPARE(w->windowTitle(), QStringLiteral("pump.flw*"));
        f.services->saveChangesAnswers = {Save::Discard};
    }

    // The question as the user sees it: each copy with its time, a damaged one marked, the
    // three answers in Chinese (a picture into TESSARIN_SHOT_DIR when set).
    void questionDialog()
    {
        TRecoveryEntry saved;
        saved.FileName = QStringLiteral("/home/engineer/项目/pump.flw");
        saved.Time = QDateTime(QDate(2026, 12, 7), QTime(21, 5, 30), Qt::UTC);
        TRecoveryEntry damaged = saved;
        damaged.FileName.clear();
        damaged.Caption = QStringLiteral("流程集成开发环境");
        damaged.Problem = QStringLiteral("the description cannot be read");
        QStringList texts;
        QTimer::singleShot(0, [&] {
            QWidget *dialog = QApplication::activeModalWidget();
            const auto *list = dialog->findChild<QTreeWidget *>(QStringLiteral("lvRecovery"));
            for (int i = 0; list && i < list->topLevelItemCount(); ++i)
                texts << list->topLevelItem(i)->text(0) + QLatin1Char('|')
                             + list->topLevelItem(i)->text(1);
            for (QPushButton *button : dialog->findChildren<QPushButton *>())
                texts << button->text();
            if (!qEnvironmentVariableIsEmpty("TESSARIN_SHOT_DIR"))
                dialog->grab().save(qEnvironmentVariable("TESSARIN_SHOT_DIR")
                                    + QStringLiteral("/recovery-question.png"));
            dialog->findChildren<QPushButton *>().value(1)->click();
        });
        QCOMPARE(TMainServices().askRecovery(nullptr, {saved, damaged}), Recovery::Discard);
        const QString time
            = saved.Time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        QCOMPARE(texts,
                 (QStringList{QStringLiteral("/home/engineer/项目/pump.flw|") + time,
                              QStringLiteral("流程集成开发环境（已损坏）|") + time,
                              "恢复",
                              "放弃",
                              "以后再说"}));
    }
};

int main(int argc, char **argv)
{
    if (argc > 1 && qstrcmp(argv[1], "--edit-and-wait") == 0)
        return childMain(argc, argv);
    QApplication app(argc, argv);
    RecoveryTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "recovery_test.moc"
