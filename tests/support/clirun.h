#pragma once

// Runs the built tessarin-cli from the program directory as a user would, for the CLI tests.

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace tessarin::test {

struct CliRun
{
    int status = -1; // -1 when the tool did not finish within a minute
    QByteArray out;
    QString err;
};

// `env`, when given, is the tool's whole environment.
inline CliRun cli(const QStringList &args,
                  const QByteArray &input = {},
                  const QProcessEnvironment *env = nullptr)
{
    QProcess p;
    p.setProgram(QStringLiteral(TESSARIN_BIN_DIR "/tessarin-cli"));
    if (env)
        p.setProcessEnvironment(*env);
    p.setArguments(args);
    p.start();
    if (!input.isEmpty())
        p.write(input);
    p.closeWriteChannel();
    CliRun r;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

} // namespace tessarin::test
