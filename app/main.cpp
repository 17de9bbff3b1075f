// The program Tessarin: sets the application's title, creates the main window and runs the
// message loop; files named on the command line open in project windows.
#include "application.h"
#include "fonts.h"
#include "mainservices.h"
#include "mainwindow.h"
#include "qtenvironment.h"
#include "translations.h"
#include "winide.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>

namespace {

// Resident memory of this process in KiB, from /proc; 0 when unknown.
long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return 0;
}

// Ends the program once the first project window has painted, printing how long that took
// and the memory in use; for start-up measurements.
class FirstPaintProbe : public QObject
{
public:
    explicit FirstPaintProbe(const QElapsedTimer &sinceStart)
        : m_sinceStart(sinceStart)
    {}

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!m_done && event->type() == QEvent::Paint) {
            for (QObject *o = watched; o; o = o->parent()) {
                if (qobject_cast<tessarin::TfmWinIDE *>(o)) {
                    m_done = true;
                    const qint64 ms = m_sinceStart.elapsed();
                    QTimer::singleShot(0, qApp, [ms] {
                        std::printf("first project window painted after %lld ms; resident "
                                    "memory %ld KiB\n",
                                    static_cast<long long>(ms),
                                    residentKiB());
                        std::fflush(stdout);
                        qApp->closeAllWindows();
                        qApp->quit();
                    });
                    break;
                }
            }
        }
        return false;
    }

private:
    const QElapsedTimer &m_sinceStart;
    bool m_done = false;
};

bool hasArgument(int argc, char **argv, const char *name)
{
    for (int i = 1; i < argc; ++i)
        if (qstrcmp(argv[i], name) == 0)
            return true;
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    QElapsedTimer sinceStart;
    sinceStart.start();
    // Answered before any window system is needed, so scripts can ask on a machine without a
    // display.
    if (hasArgument(argc, argv, "--version")) {
        std::printf("Tessarin %s\n", TESSARIN_VERSION);
        return 0;
    }
    const bool measure = hasArgument(argc, argv, "--quit-after-show");
    const bool hasDisplay = !qEnvironmentVariableIsEmpty("DISPLAY")
                            || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
                            || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    if (!hasDisplay && !measure) {
        std::fprintf(stderr,
                     "Tessarin: no display to show the window on (DISPLAY and WAYLAND_DISPLAY "
                     "are unset). Start it on a desktop, or run the calculation headless with "
                     "scripts/run or tessarin-cli.\n");
        return 1;
    }
    // A measurement without a display draws offscreen.
    tessarin::prepareQtEnvironment(true);
    tessarin::TApplication app(argc, argv);
    app.setApplicationVersion(QStringLiteral(TESSARIN_VERSION));
    tessarin::installChineseTranslations(app);

    QCommandLineParser parser;
    parser.setApplicationDescription(tessarin::applicationTitle());
    parser.addHelpOption();
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Print the program's version and exit."));
    const QCommandLineOption quitAfterShow(
        QStringLiteral("quit-after-show"),
        QStringLiteral("Exit once the first project window has painted, printing the time "
                       "that took and the memory in use."));
    const QCommandLineOption autosaveInterval(
        QStringLiteral("autosave-ms"),
        QStringLiteral("Copy changed projects into the recovery folder at most MS milliseconds "
                       "after a change (1 to 60000; default 60000, or TESSARIN_AUTOSAVE_MS)."),
        QStringLiteral("MS"));
    parser.addOption(version);
    parser.addOption(quitAfterShow);
    parser.addOption(autosaveInterval);
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("Project files (.flw) to open."),
                                 QStringLiteral("[FILE...]"));
    parser.process(app);

    tessarin::installFontSubstitutions();
    FirstPaintProbe probe(sinceStart);
    if (parser.isSet(quitAfterShow))
        app.installEventFilter(&probe);

    tessarin::TfmMainSettings settings;
    if (parser.isSet(autosaveInterval)) {
        const int ms = tessarin::parseAutosaveInterval(parser.value(autosaveInterval));
        if (ms < 0) {
            std::fprintf(stderr,
                         "Tessarin: --autosave-ms takes a whole number of milliseconds from 1 "
                         "to %d, not \"%s\"\n",
                         tessarin::MaxAutosaveIntervalMs,
                         qPrintable(parser.value(autosaveInterval)));
            return 2;
        }
        settings.autosaveIntervalMs = ms;
    }

    try {
        tessarin::TfmMain fmMain(settings);
        fmMain.show();
        const QStringList files = parser.positionalArguments();
        for (const QString &file : files)
            fmMain.openProjectFile(file);
        return app.exec();
    } catch (...) {
        // The main window could not be made: nothing is left to show it in but the error box.
        QMessageBox::critical(nullptr,
                              tessarin::applicationTitle(),
                              tessarin::exceptionMessage(std::current_exception()));
        return 1;
    }
}
