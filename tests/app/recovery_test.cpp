// Recovery copies through the real main window: a program killed in the middle of an edit
// leaves a copy the next start recovers exactly; the answers, a save, a clean close, a live
// instance, a damaged copy and a folder that cannot be written.
//
// Started with "--edit-and-wait PROGRAM_DIR FILE TAG TEXT" the program is the instance that is
// killed: it opens FILE, types TEXT into the cell tagged TAG, waits for the recovery copy,
// prints "ready" and waits to be killed.

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
#include <QDialog>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>

using namespace tessarin;
using namespace tessarin::test;

using Recovery = TMainServices::RecoveryAnswer;
Q_DECLARE_METATYPE(TMainServices::RecoveryAnswer)

namespace {

const QString kSample = QStringLiteral(TESSARIN_TEST_DATA "/workbook/pump_sheets.flw");
const QString kTag = QStringLiteral("流量");

struct Frame
{
    ScriptedServices *services = nullptr; // owned by the window
    std::unique_ptr<TfmMain> main;

    TfmWinIDE *active() const { return main->activeProjectWindow(); }
    int windowCount() const { return int(main->projectWindows().size()); }
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
    // The recovery question comes right after the first window.
    QCoreApplication::processEvents();
    return frame;
}

// Types into the cell tagged `tag` on the window's first page as a user does.
bool typeInto(TfmWinIDE *window, const QString &tag, const QString &text)
{
    TqzReport *page = window->excel().Pages.value(0);
    TReportCell *cell = page ? page->CellsOfName(tag).value(0) : nullptr;
    if (!cell)
        return false;
    QTest::mouseClick(page, Qt::LeftButton, {}, page->pageToWindow(cell->FCellRect).center());
    for (const QChar ch : text)
        QTest::keyClick(QApplication::focusWidget(), ch.toLatin1());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    return true;
}

// A project read back from a file the way the program opens one.
struct Reloaded
{
    TqzProject project;
    TqzExcel excel;
    explicit Reloaded(const QString &fileName)
    {
        TqzProjectFile file;
        file.loadFile(fileName, project, excel);
    }
};

// The files in the recovery folder other than session locks.
QStringList copiesIn(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral("*.flw"), QStringLiteral("*.json")},
                                  QDir::Files | QDir::Hidden,
                                  QDir::Name);
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
    if (!window || !typeInto(window, QString::fromUtf8(argv[4]), QString::fromUtf8(argv[5])))
        return 3;
    if (!QTest::qWaitFor(
            [&] { return f.main->recoveryStore().contains(TfmMain::recoveryKey(window)); }, 30000))
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

    // A project file of the test's own, a copy of the sample.
    static QString projectCopy(const QTemporaryDir &dir)
    {
        const QString path = dir.filePath(QStringLiteral("pump.flw"));
        QFile::remove(path);
        return QFile::copy(kSample, path) ? path : QString();
    }

    // An instance that edits `file` and ends without saving or closing (its frame is simply
    // destroyed, as by a crash); a second instance alive meanwhile is not offered its copy.
    static void crashAfterEdit(const QString &folder, const QString &file, const QString &value)
    {
        Frame crashed = makeFrame(folder, 30);
        TfmWinIDE *window = crashed.main->openProjectFile(file);
        QVERIFY(window);
        window->excel().SetTagValue(kTag, value);
        QTRY_VERIFY(crashed.main->recoveryStore().contains(TfmMain::recoveryKey(window)));
        Frame live = makeFrame(folder, 30, Recovery::Recover);
        QVERIFY(live.services->recoveryQuestions.isEmpty());
        QCOMPARE(live.windowCount(), 1);
    }

private slots:
    void initTestCase()
    {
        installFontSubstitutions();
        useStateFolder(m_state.path());
        QVERIFY(makeProgramDir(m_program.path(), true));
    }
    void init() { setProgramDirectory(m_program.path()); }

    // The program killed with SIGKILL after typing; the next start recovers the typed value
    // into a window marked changed and bound to the untouched original until it is saved.
    void killedInstanceIsRecovered()
    {
        QTemporaryDir dir;
        const QString file = projectCopy(dir);
        const QByteArray original = fileBytes(file);
        const QString state = dir.filePath(QStringLiteral("state"));
        const QString folder = state + QStringLiteral("/tessarin/recovery");
        const QString typed = QStringLiteral("61.25");
        {
            Reloaded before(file);
            QVERIFY(before.excel.GetTagValue(kTag) != typed);
        }

        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_STATE_HOME"), state);
        env.insert(QStringLiteral("TESSARIN_AUTOSAVE_MS"), QStringLiteral("100"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--edit-and-wait"), m_program.path(), file, kTag, typed});
        QVERIFY2(child.waitForStarted(), qPrintable(child.errorString()));
        QByteArray out;
        while (!out.contains("ready\n") && child.state() == QProcess::Running) {
            child.waitForReadyRead(1000);
            out += child.readAllStandardOutput();
        }
        QVERIFY2(out.contains("ready\n"),
                 qPrintable(QStringLiteral("child ended with %1: %2")
                                .arg(child.exitCode())
                                .arg(QString::fromLocal8Bit(child.readAllStandardError()))));
        child.kill(); // SIGKILL: nothing of the program runs after it
        QVERIFY(child.waitForFinished(10000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        QCOMPARE(fileBytes(file), original);
        QCOMPARE(copiesIn(folder).size(), 2);

        useStateFolder(state);
        Frame f = makeFrame(QString(), 60000, Recovery::Recover);
        useStateFolder(m_state.path());
        QCOMPARE(f.services->recoveryQuestions.size(), 1);
        const QList<TRecoveryEntry> asked = f.services->recoveryQuestions.at(0);
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked[0].FileName, file);
        QCOMPARE(asked[0].Caption, QStringLiteral("pump.flw"));
        QVERIFY(asked[0].Time.secsTo(QDateTime::currentDateTimeUtc()) < 120);
        QVERIFY(f.services->errors.isEmpty());
        QCOMPARE(f.windowCount(), 2);
        TfmWinIDE *w = f.active();
        QCOMPARE(w->excel().GetTagValue(kTag), typed);
        QCOMPARE(w->windowTitle(), QStringLiteral("pump.flw*"));
        QVERIFY(f.main->isModified(w));
        QCOMPARE(fileBytes(file), original);
        // The copy now belongs to this session; the killed one's is gone.
        QVERIFY(f.main->recoveryStore().contains(TfmMain::recoveryKey(w)));
        QCOMPARE(copiesIn(folder).size(), 2);
        QVERIFY(!copiesIn(folder).contains(asked[0].Key + QStringLiteral(".flw")));

        f.main->actSave->trigger();
        QVERIFY(f.services->saveDialogs.isEmpty());
        QCOMPARE(w->windowTitle(), QStringLiteral("pump.flw"));
        QCOMPARE(copiesIn(folder), QStringList());
        QCOMPARE(Reloaded(file).excel.GetTagValue(kTag), typed);
    }

    // What each answer does with the copy a crashed instance left.
    void answers_data()
    {
        QTest::addColumn<Recovery>("answer");
        QTest::addColumn<int>("windows");
        QTest::addColumn<bool>("oldCopyKept");
        QTest::addColumn<bool>("askedAgain");
        QTest::newRow("recover") << Recovery::Recover << 2 << false << false;
        QTest::newRow("discard") << Recovery::Discard << 1 << false << false;
        QTest::newRow("later") << Recovery::Later << 1 << true << true;
    }
    void answers()
    {
        QFETCH(Recovery, answer);
        QFETCH(int, windows);
        QFETCH(bool, oldCopyKept);
        QFETCH(bool, askedAgain);
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("recovery"));
        const QString file = projectCopy(dir);
        const QByteArray original = fileBytes(file);
        crashAfterEdit(folder, file, QStringLiteral("47"));
        if (QTest::currentTestFailed())
            return;
        const QStringList before = copiesIn(folder);
        QCOMPARE(before.size(), 2);
        {
            Frame f = makeFrame(folder, 60000, answer);
            QCOMPARE(f.services->recoveryQuestions.size(), 1);
            QCOMPARE(f.windowCount(), windows);
            QVERIFY(f.services->errors.isEmpty());
            const QStringList after = copiesIn(folder);
            QCOMPARE(after == before, oldCopyKept);
            if (windows == 2) {
                QCOMPARE(f.active()->excel().GetTagValue(kTag), QStringLiteral("47"));
                QCOMPARE(after.size(), 2); // this session's copy of the recovered window
            } else if (!oldCopyKept) {
                QCOMPARE(after, QStringList());
            }
            f.services->saveChangesAnswers = {TMainServices::SaveAnswer::Discard};
            QVERIFY(f.main->close());
            // Letting the recovered window go removes its copy as well.
            QCOMPARE(copiesIn(folder), oldCopyKept ? before : QStringList());
        }
        Frame next = makeFrame(folder, 60000);
        QCOMPARE(next.services->recoveryQuestions.size(), askedAgain ? 1 : 0);
        QCOMPARE(fileBytes(file), original);
    }

    // A copy is taken within the interval of a stream of changes; saving or closing cleanly
    // removes it, closing with "cancel" keeps it.
    void copyLifecycle_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::addColumn<bool>("kept");
        QTest::newRow("save") << "save" << false;
        QTest::newRow("close, discarding the changes") << "close-discard" << false;
        QTest::newRow("close, saving the changes") << "close-save" << false;
        QTest::newRow("close cancelled") << "close-cancel" << true;
    }
    void copyLifecycle()
    {
        QFETCH(QString, ending);
        QFETCH(bool, kept);
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("recovery"));
        const QString file = projectCopy(dir);
        Frame f = makeFrame(folder, 300);
        TfmWinIDE *w = f.main->openProjectFile(file);
        QVERIFY(w);
        const QString key = TfmMain::recoveryKey(w);
        // Changes more often than the interval do not put the copy off.
        for (int i = 0; i < 12 && !f.main->recoveryStore().contains(TfmMain::recoveryKey(w)); ++i) {
            w->excel().SetTagValue(kTag, QString::number(50 + i));
            QTest::qWait(60);
        }
        QVERIFY(key.isEmpty());
        QVERIFY(f.main->recoveryStore().contains(TfmMain::recoveryKey(w)));
        QVERIFY(f.main->isModified(w));

        if (ending == QLatin1String("save")) {
            f.main->actSave->trigger();
        } else {
            f.services->saveChangesAnswers
                = {ending == QLatin1String("close-discard") ? TMainServices::SaveAnswer::Discard
                   : ending == QLatin1String("close-save")  ? TMainServices::SaveAnswer::Save
                                                            : TMainServices::SaveAnswer::Cancel};
            w->parentWidget()->close();
        }
        QCOMPARE(copiesIn(folder).size(), kept ? 2 : 0);
        QVERIFY(f.services->errors.isEmpty());
        // A change after the copy went starts a new one.
        if (ending == QLatin1String("save")) {
            w->excel().SetTagValue(kTag, QStringLiteral("99"));
            QTRY_COMPARE(copiesIn(folder).size(), 2);
        }
        f.services->saveChangesAnswers = {TMainServices::SaveAnswer::Discard};
    }

    // A change just before F9: the copy waits for the run to end and then holds its results.
    void noCopyDuringARun()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("recovery"));
        const QString file = projectCopy(dir);
        Frame f = makeFrame(folder, 1);
        TfmWinIDE *w = f.main->openProjectFile(file);
        QVERIFY(w);
        struct DuringRun : QObject
        {
            QString folder;
            QList<int> copies;
            bool eventFilter(QObject *, QEvent *event) override
            {
                if (event->type() == TqzRunProgressEvent::EventType
                    && static_cast<TqzRunProgressEvent *>(event)->wParam == 1)
                    copies << int(copiesIn(folder).size());
                return false;
            }
        } duringRun;
        duringRun.folder = folder;
        qApp->installEventFilter(&duringRun);
        w->excel().SetTagValue(kTag, QStringLiteral("47"));
        QTest::keyClick(f.main.get(), Qt::Key_F9);
        qApp->removeEventFilter(&duringRun);
        QVERIFY(!w->isRunning());
        QVERIFY(!duringRun.copies.isEmpty());
        QCOMPARE(duringRun.copies, QList<int>(duringRun.copies.size(), 0));
        QTRY_COMPARE(copiesIn(folder).size(), 2);
        const QString result = w->excel().GetTagValue(QStringLiteral("轴功率"));
        QVERIFY(!result.isEmpty());
        QCOMPARE(Reloaded(f.main->recoveryStore().documentPath(TfmMain::recoveryKey(w)))
                     .excel.GetTagValue(QStringLiteral("轴功率")),
                 result);
        f.services->saveChangesAnswers = {TMainServices::SaveAnswer::Discard};
    }

    // A copy cut short is refused with what and where, opens no window and stays for later.
    void damagedCopyIsReported()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("recovery"));
        const QString file = projectCopy(dir);
        crashAfterEdit(folder, file, QStringLiteral("47"));
        if (QTest::currentTestFailed())
            return;
        const QString copy
            = QDir(folder).filePath(copiesIn(folder).filter(QStringLiteral(".flw")).value(0));
        const QByteArray whole = fileBytes(copy);
        QVERIFY(writeBytes(copy, whole.left(whole.size() / 2)));
        Frame f = makeFrame(folder, 60000, Recovery::Recover);
        QCOMPARE(f.windowCount(), 1);
        QCOMPARE(f.services->errors.size(), 1);
        const QString error = f.services->errors.at(0);
        QVERIFY2(error.startsWith(QStringLiteral("无法恢复 ") + file), qPrintable(error));
        QVERIFY2(error.contains(QDir::toNativeSeparators(copy)), qPrintable(error));
        QCOMPARE(fileBytes(copy), whole.left(whole.size() / 2));
    }

    // A folder that cannot be written: one note in the status bar, no box, the user's file
    // untouched, and the window goes on as before.
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
        QVERIFY(f.main->statMain()->currentMessage().contains(QStringLiteral("blocker")));
        f.main->statMain()->clearMessage();
        w->excel().SetTagValue(kTag, QStringLiteral("48"));
        QTest::qWait(200);
        QCOMPARE(f.main->statMain()->currentMessage(), QString());
        QVERIFY(f.services->errors.isEmpty());
        QCOMPARE(fileBytes(file), original);
        QCOMPARE(w->windowTitle(), QStringLiteral("pump.flw*"));
        f.services->saveChangesAnswers = {TMainServices::SaveAnswer::Discard};
    }

    // The program's option that shortens the interval takes 1 to 60000 milliseconds only.
    void intervalOption_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("shorter") << "500" << 0;
        QTest::newRow("zero") << "0" << 2;
        QTest::newRow("over a minute") << "60001" << 2;
        QTest::newRow("no number") << "soon" << 2;
    }
    void intervalOption()
    {
        QFETCH(QString, value);
        QFETCH(int, exitCode);
        QTemporaryDir dir;
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_STATE_HOME"), dir.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        program.setProcessEnvironment(env);
        // The exit step writes into the current folder.
        program.setWorkingDirectory(dir.path());
        program.start(
            QStringLiteral(TESSARIN_PROGRAM),
            {QStringLiteral("--autosave-ms"), value, QStringLiteral("--quit-after-show")});
        QVERIFY(program.waitForFinished(60000));
        QCOMPARE(program.exitCode(), exitCode);
        const QString errors = QString::fromLocal8Bit(program.readAllStandardError());
        QCOMPARE(errors.contains(QStringLiteral("--autosave-ms takes a whole number of "
                                                "milliseconds from 1 to 60000, not \"")
                                 + value + QLatin1Char('"')),
                 exitCode == 2);
    }

    // The question as the user sees it; the picture goes to TESSARIN_SHOT_DIR when set.
    void questionDialog()
    {
        TRecoveryEntry saved;
        saved.Key = QStringLiteral("1_a-1");
        saved.FileName = QStringLiteral("/home/engineer/项目/pump.flw");
        saved.Time = QDateTime(QDate(2026, 12, 7), QTime(21, 5, 30), Qt::UTC);
        TRecoveryEntry unsaved = saved;
        unsaved.FileName.clear();
        unsaved.Caption = QStringLiteral("流程集成开发环境");
        TRecoveryEntry damaged = unsaved;
        damaged.Caption = QStringLiteral("1_a-3");
        damaged.Problem = QStringLiteral("the description cannot be read");
        TMainServices services;
        QStringList texts;
        QTimer::singleShot(0, [&] {
            auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            auto *list = dialog->findChild<QTreeWidget *>(QStringLiteral("lvRecovery"));
            QVERIFY(list);
            for (int i = 0; i < list->topLevelItemCount(); ++i)
                texts << list->topLevelItem(i)->text(0) + QLatin1Char('|')
                             + list->topLevelItem(i)->text(1);
            QStringList buttons;
            for (QPushButton *button : dialog->findChildren<QPushButton *>())
                buttons << button->text();
            QCOMPARE(buttons, (QStringList{"恢复", "放弃", "以后再说"}));
            const QString shots = qEnvironmentVariable("TESSARIN_SHOT_DIR");
            if (!shots.isEmpty())
                dialog->grab().save(QDir(shots).filePath(QStringLiteral("recovery-question.png")));
            for (QPushButton *button : dialog->findChildren<QPushButton *>())
                if (button->text() == QStringLiteral("放弃"))
                    button->click();
        });
        QCOMPARE(services.askRecovery(nullptr, {saved, unsaved, damaged}), Recovery::Discard);
        const QString time
            = saved.Time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        QCOMPARE(texts,
                 (QStringList{QStringLiteral("/home/engineer/项目/pump.flw|") + time,
                              QStringLiteral("流程集成开发环境|") + time,
                              QStringLiteral("1_a-3（已损坏）|") + time}));
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
