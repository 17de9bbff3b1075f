// The status bar's painting, the update step at exit (run end to end on a copy of the program)
// and the start-up reachability check.

#include "application.h"
#include "apptestsupport.h"
#include "error.h"
#include "fonts.h"
#include "icmpecho.h"
#include "icons.h"
#include "mainwindow.h"
#include "programdir.h"
#include "programupdate.h"
#include "statusbar.h"
#include "support/ourbuild.h"
#include "updatebatch.h"

#include <QProcess>
#include <QTest>
#include <QTimer>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tessarin;
using namespace tessarin::test;

namespace {

bool icmpSocketsAllowed()
{
    const int fd = socket(AF_INET, SOCK_DGRAM, IPPROTO_ICMP);
    if (fd >= 0)
        close(fd);
    return fd >= 0;
}

} // namespace

class ShellTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_state;

private slots:
    void initTestCase()
    {
        installFontSubstitutions();
        useStateFolder(m_state.path());
    }

    // Rows of the bar read back against the gradient's rule: from + y * (to - from) / height,
    // truncated toward zero, over the bar's height + 50; a few rows worked out by hand.
    void gradientPixels_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<QColor>("expected");
        QTest::newRow("first panel row") << 2 << QColor(207, 213, 228);
        // Blue: 5 * -27 / 70 is -1.93; truncation gives 227 where rounding down would give 226.
        QTest::newRow("truncated toward zero") << 5 << QColor(205, 211, 227);
        QTest::newRow("middle") << 10 << QColor(202, 208, 225);
        QTest::newRow("last row") << 19 << QColor(196, 203, 221);
    }
    void gradientPixels()
    {
        QFETCH(int, row);
        QFETCH(QColor, expected);
        TMainStatusBar bar;
        bar.resize(640, 20);
        bar.setPanelText(2, QStringLiteral("x"));
        bar.setPanelIcon(mainImage(imgWeb));
        const QImage image = bar.grab().toImage();
        QCOMPARE(image.height(), 20);
        const int height = bar.height() + 50;
        const quint32 from = 0x00E4D6D0, to = 0x00C9ACA3;
        // Columns without text in each panel: the band is the same in all of them.
        for (const int x : {0, 120, 245, 260, 300, 399, 600, 639}) {
            for (int y = 2; y < image.height(); ++y) {
                const auto channel = [&](int shift) {
                    const int f = int((from >> shift) & 0xFF), t = int((to >> shift) & 0xFF);
                    return (f + y * (t - f) / height) & 0xFF;
                };
                QCOMPARE(QColor(image.pixel(x, y)), QColor(channel(0), channel(8), channel(16)));
            }
            QCOMPARE(QColor(image.pixel(x, row)), expected);
        }
        // Panel 2 carries its icon 4 pixels in and its text at 25.
        QVERIFY(QColor(image.pixel(412, 10)) != expected);
    }

    void colourTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<quint32>("value");
        QTest::newRow("0x") << "0x00E4D6D0" << quint32(0xE4D6D0);
        QTest::newRow("dollar") << "$00C9ACA3" << quint32(0xC9ACA3);
        QTest::newRow("decimal") << "13216931" << quint32(13216931);
        QTest::newRow("garbage") << "0xZZ" << quint32(0);
    }
    void colourTexts()
    {
        QFETCH(QString, text);
        QFETCH(quint32, value);
        QCOMPARE(colorFromText(text), value);
    }

    void batchFile()
    {
        QTemporaryDir dir;
        const QByteArray expected = ":try\r\n"
                                    "attrib-r Tessarin.exe\r\n"
                                    "if exist ATessarin.exe del Tessarin.exe\r\n"
                                    "if exist ATessarin.exe rename ATessarin.exe Tessarin.exe\r\n"
                                    "if exist ATessarin.exe goto try\r\n"
                                    "if exist del.bat del del.bat\r\n";
        QVERIFY(writeBytes(dir.filePath(QStringLiteral("del.bat")), "older and longer text"));
        const QString path = WriteUpdateBatch(dir.path());
        QCOMPARE(path, dir.filePath(QStringLiteral("del.bat")));
        QCOMPARE(fileBytes(path), expected);
        QVERIFY_THROWS_EXCEPTION(Error, WriteUpdateBatch(dir.filePath(QStringLiteral("none"))));
    }

    // The exit step on a copy of the program: after it ends, the replacement (if any) has taken
    // the program's name and the batch file is gone. The folders' names need quoting.
    void swapAtExit_data()
    {
        QTest::addColumn<bool>("replacement");
        QTest::newRow("replacement waiting") << true;
        QTest::newRow("nothing to update") << false;
    }
    void swapAtExit()
    {
        QFETCH(bool, replacement);
        QTemporaryDir root;
        const QString programDir = root.filePath(QStringLiteral("prog dir's"));
        const QString workDir = root.filePath(QStringLiteral("work"));
        QVERIFY(QDir().mkpath(programDir) && QDir().mkpath(workDir));
        const QString program = QDir(programDir).filePath(QStringLiteral("Tessarin"));
        const QString update = QDir(programDir).filePath(QStringLiteral("ATessarin"));
        QVERIFY(QFile::copy(QStringLiteral(TESSARIN_PROGRAM), program));
        const QByteArray newer = buildOfVersion("9.9.9");
        QVERIFY(!newer.isEmpty());
        if (replacement) {
            QVERIFY(writeBytes(update, newer));
            QVERIFY(QFile::setPermissions(update, QFile::permissions(program)));
        }
        const QByteArray older = fileBytes(program);

        QProcess run;
        run.setWorkingDirectory(workDir);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        run.setProcessEnvironment(env);
        run.start(program, {QStringLiteral("--quit-after-show")});
        QVERIFY(run.waitForFinished(60000));
        QCOMPARE(run.exitCode(), 0);
        QVERIFY(run.readAllStandardOutput().contains("first project window painted"));

        const QString batch = QDir(workDir).filePath(QStringLiteral("del.bat"));
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(batch), 20000);
        QVERIFY(!QFile::exists(update));
        QCOMPARE(fileBytes(program), replacement ? newer : older);
        QVERIFY(QFileInfo(program).isWritable());
        QFile swapped(program);
        QVERIFY(swapped.open(QIODevice::ReadOnly));
        QCOMPARE(ProgramUpdate::readBuildIdentity(swapped, program),
                 replacement ? (ProgramVersion{9, 9, 9}) : currentProgramVersion());
    }

    // The exit step against what may lie under the batch's name in the current folder and under
    // the replacement's name beside the program: a link or FIFO named del.bat is neither
    // followed nor waited on, a folder that cannot take the batch does not stop the swap, and
    // only a regular, executable build of ours takes the program's place.
    void exitStep_data()
    {
        QTest::addColumn<QString>(
            "batch"); // what the batch's name is before, or the folder's state
        QTest::addColumn<QString>("waiting"); // what the replacement's name is
        QTest::addColumn<bool>("swapped");
        QTest::newRow("nothing waiting") << ""
                                         << "" << false;
        QTest::newRow("update waiting") << "file"
                                        << "ours" << true;
        QTest::newRow("batch name is a link") << "link"
                                              << "ours" << true;
        QTest::newRow("batch name is a FIFO") << "fifo"
                                              << "ours" << true;
        QTest::newRow("batch name is a folder") << "folder"
                                                << "ours" << true;
        QTest::newRow("current folder not writable") << "unwritable"
                                                     << "ours" << true;
        QTest::newRow("current folder deleted") << "deleted"
                                                << "ours" << true;
        QTest::newRow("script claiming a version") << ""
                                                   << "script" << false;
        QTest::newRow("folder as replacement") << ""
                                               << "folder" << false;
        QTest::newRow("link to a build") << "file"
                                         << "link" << false;
        QTest::newRow("build not executable") << ""
                                              << "not executable" << false;
    }
    void exitStep()
    {
        QFETCH(QString, batch);
        QFETCH(QString, waiting);
        QFETCH(bool, swapped);
        QTemporaryDir root;
        const QDir rootDir(root.path());
        const QString programDir = rootDir.filePath(QStringLiteral("prog dir's"));
        QString workDir = rootDir.filePath(QStringLiteral("work"));
        QVERIFY(QDir().mkpath(programDir) && QDir().mkpath(workDir));
        const QString program = QDir(programDir).filePath(QStringLiteral("Tessarin"));
        const QString update = QDir(programDir).filePath(QStringLiteral("ATessarin"));
        const QString victim = rootDir.filePath(QStringLiteral("victim"));
        const QString build = rootDir.filePath(QStringLiteral("build"));
        const QByteArray older = "the program before the update";
        const QByteArray newer = buildOfVersion("9.9.9");
        const auto exe = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
        QVERIFY(writeBytes(program, older) && writeBytes(victim, "precious")
                && writeBytes(build, newer) && QFile::setPermissions(build, exe)
                && QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner));

        const QByteArray del = QFile::encodeName(QDir(workDir).filePath(QStringLiteral("del.bat")));
        if (batch == "file")
            QVERIFY(writeBytes(QString::fromLocal8Bit(del), "older and longer text"));
        else if (batch == "link")
            QVERIFY(QFile::link(victim, QString::fromLocal8Bit(del)));
        else if (batch == "fifo")
            QCOMPARE(mkfifo(del.constData(), 0644), 0);
        else if (batch == "folder")
            QVERIFY(QDir().mkpath(QString::fromLocal8Bit(del)));
        else if (batch == "unwritable")
            workDir = QStringLiteral("/proc"); // not even root may add a file there
        else if (batch == "deleted")
            QVERIFY(QDir(workDir).removeRecursively());

        if (waiting == "ours" || waiting == "not executable")
            QVERIFY(QFile::copy(build, update));
        if (waiting == "ours")
            QVERIFY(QFile::setPermissions(update, exe));
        else if (waiting == "not executable")
            QVERIFY(QFile::setPermissions(update, QFile::ReadOwner | QFile::WriteOwner));
        else if (waiting == "script")
            QVERIFY(writeBytes(update, "#!/bin/sh\necho Tessarin 9.9.9\n")
                    && QFile::setPermissions(update, exe));
        else if (waiting == "folder")
            QVERIFY(QDir().mkpath(update + QStringLiteral("/inside")));
        else if (waiting == "link")
            QVERIFY(QFile::link(build, update));

        QString why;
        qint64 helper = 0;
        QVERIFY(RunUpdateBatch(workDir, programDir, &why, &helper));
        const bool passedOver
            = (batch != "" && batch != "file") || (waiting != "" && waiting != "ours");
        QVERIFY2(why.isEmpty() != passedOver, qPrintable(why));
        ReleaseUpdateHelper();
        int status = -1;
        bool ended = false;
        const auto reap
            = [&] { return ended = ended || waitpid(pid_t(helper), &status, WNOHANG) > 0; };
        QTRY_VERIFY_WITH_TIMEOUT(reap(), 20000);
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);

        QCOMPARE(fileBytes(program), swapped ? newer : older);
        QVERIFY(QFileInfo(program).isFile() && !QFileInfo(program).isSymLink());
        // A refused replacement is left where it was, as it was.
        QCOMPARE(QFileInfo::exists(update) || QFileInfo(update).isSymLink(),
                 !swapped && waiting != "");
        if (waiting == "folder")
            QVERIFY(QFileInfo(update + QStringLiteral("/inside")).isDir());
        if (waiting == "link")
            QCOMPARE(QFileInfo(update).symLinkTarget(), build);
        // The batch is gone once written; anything else under its name is left alone.
        struct stat st;
        const bool present = lstat(del.constData(), &st) == 0;
        QCOMPARE(present, batch == "link" || batch == "fifo" || batch == "folder");
        if (batch == "link")
            QVERIFY(S_ISLNK(st.st_mode));
        if (batch == "fifo")
            QVERIFY(S_ISFIFO(st.st_mode));
        if (batch == "folder")
            QVERIFY(S_ISDIR(st.st_mode));
        QCOMPARE(fileBytes(victim), QByteArray("precious"));
        QCOMPARE(fileBytes(build), newer);
        QCOMPARE(rootDir.entryList(QDir::Hidden | QDir::AllEntries | QDir::NoDotAndDotDot).size(),
                 batch == "deleted" ? 3 : 4);
    }

    // Without a display the program answers --version, and otherwise says why it cannot start
    // instead of failing inside the window system.
    void withoutDisplay_data()
    {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("output"); // the start of standard output, else of errors
        QTest::newRow("version") << "--version" << 0 << QByteArray("Tessarin 1.");
        QTest::newRow("window") << "pump.flw" << 1 << QByteArray("Tessarin: no display");
    }
    void withoutDisplay()
    {
        QFETCH(QString, argument);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, output);
        QProcess run;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QLatin1String(name));
        run.setProcessEnvironment(env);
        run.start(QStringLiteral(TESSARIN_PROGRAM), {argument});
        QVERIFY(run.waitForFinished(10000));
        QCOMPARE(run.exitCode(), exitCode);
        const QByteArray text
            = exitCode == 0 ? run.readAllStandardOutput() : run.readAllStandardError();
        QVERIFY2(text.startsWith(output), text.constData());
    }

    // One echo to 127.0.0.1 a short while after start: where the system grants unprivileged
    // ICMP sockets the news tool starts, once; where it refuses them nothing happens. A host
    // that cannot be resolved is silent either way.
    void icmpCheck_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("reachable");
        QTest::newRow("loopback") << "127.0.0.1" << true;
        QTest::newRow("no host name") << "" << false;
    }
    void icmpCheck()
    {
        QFETCH(QString, host);
        QFETCH(bool, reachable);
        const bool allowed = icmpSocketsAllowed();
        qInfo("unprivileged ICMP sockets are %s here", allowed ? "allowed" : "refused");
        const bool expectStart = allowed && reachable;
        QString why;
        QCOMPARE(SendIcmpEcho(host, 1000, &why), expectStart);
        QCOMPARE(why.isEmpty(), expectStart);

        QTemporaryDir dir;
        QVERIFY(makeProgramDir(dir.path(), false, {QStringLiteral("VOKNews")}));
        setProgramDirectory(dir.path());
        TfmMainSettings settings;
        settings.newsHost = host;
        settings.newsIntervalMs = 20;
        settings.updateAtExit = false;
        auto *services = new ScriptedServices;
        TfmMain main(settings, std::unique_ptr<TMainServices>(services));
        QVERIFY(main.newsTimer()->isActive());
        QTRY_VERIFY(!main.newsTimer()->isActive());
        // Long enough for the timer to have fired several times, had it stayed on.
        QTest::qWait(150);
        QCOMPARE(services->programs,
                 expectStart ? QStringList{QDir(dir.path()).filePath(QStringLiteral("VOKNews"))}
                             : QStringList());
        QVERIFY(services->errors.isEmpty());
        setProgramDirectory(QString());
    }

    // An exception that escapes an event handler is shown in the error box with its message,
    // whatever its kind, and the program goes on.
    void escapedExceptions_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("message");
        QTest::newRow("project error") << 0 << "pump.flw, line 3, column 7: not a number";
        QTest::newRow("standard exception") << 1 << "bad allocation of 10 GB";
        QTest::newRow("anything else") << 2 << "an exception of an unknown kind was raised";
    }
    void escapedExceptions()
    {
        QFETCH(int, kind);
        QFETCH(QString, message);
        auto *app = static_cast<TApplication *>(qApp);
        QStringList shown;
        const auto keep = app->ShowException;
        app->ShowException = [&shown](const QString &text) { shown << text; };
        struct Thrower : QObject
        {
            int kind = 0;
            QString text;
            bool event(QEvent *event) override
            {
                if (event->type() != QEvent::User)
                    return QObject::event(event);
                if (kind == 0)
                    throw Error(text);
                if (kind == 1)
                    throw std::runtime_error(text.toStdString());
                throw 42;
            }
        } thrower;
        thrower.kind = kind;
        thrower.text = message;
        QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
        QCoreApplication::sendPostedEvents(&thrower);
        QCOMPARE(shown, QStringList{message});
        // The loop runs on: a timer still fires.
        bool fired = false;
        QTimer::singleShot(0, [&fired] { fired = true; });
        QTRY_VERIFY(fired);
        app->ShowException = keep;
    }
};

// The program's own application object, so escaped exceptions take its way.
int main(int argc, char **argv)
{
    TApplication app(argc, argv);
    ShellTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "shell_test.moc"
