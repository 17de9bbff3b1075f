#pragma once

// A project document opened without a window for the run commands of tessarin-cli: the project
// file loaded once into tree and workbook with the code table filled as the project window
// does, "--set NAME=VALUE" applied as if typed, and a run host that keeps the document's log.

#include "command.h"

#include "error.h"
#include "filenames.h"
#include "projectdocument.h"
#include "projectfile.h"
#include "qzproject.h"
#include "qzrun.h"
#include "qztranslate.h"
#include "qzworkbook.h"
#include "runlog.h"

#include <QCommandLineOption>
#include <QDomElement>

#include <cstdio>
#include <memory>

namespace tessarin::cli {

// Keeps the log of a run; everything else a window would show is not needed here.
class LogHost : public TqzRunHost
{
public:
    explicit LogHost(TqzRunLog &log)
        : log(log)
    {}
    TqzRunLog &log;
    // Where the steps of a run go, when someone wants them (the calculation book).
    QList<TqzRunStep> *steps = nullptr;
    void stepDone(const TqzRunStep &step) override
    {
        if (steps)
            steps->append(step);
    }
    void clearLog() override { log.clear(); }
    void appendLog(const QString &line) override { log.append(line); }
};

struct HeadlessProject
{
    ProjectDocument document;
    TqzProject &project = document.project();
    TqzWorkbook &workbook = document.workbook();
    TqzTranslate &codes = document.codeTable();
    TqzProjectFile &file = document.file();
    LogHost host{document.log()};
    TqzRun run{project, workbook, codes, host};

    // Loads `fileName`; pages that could not be loaded are reported on standard error as
    // warnings (they stay empty, the others load).
    void load(const QString &fileName, const QString &command)
    {
        document.loadFile(fileName);
        warnPages(command);
    }
    // The same from a document read before; `where` names it in messages.
    void loadBytes(const QByteArray &bytes, const QString &where, const QString &command)
    {
        document.loadBytes(bytes, where);
        warnPages(command);
    }
    // Nodes and pages again from the document element of the file loaded before (its code
    // table stays): for running the same project many times from the same start.
    void reload(const QDomElement &root)
    {
        const QDomElement element = root.firstChildElement(QStringLiteral("TqzExcel"));
        if (!element.isNull())
            workbook.LoadFromXML(element);
        project.LoadFromXML(root);
    }

    // Writes `value` into the report cells tagged `name`, as if typed (and says so); when no
    // cell carries that tag, into the nodes named `name`. Error when neither exists.
    bool set(const QString &name, const QString &value)
    {
        // A probe text tells whether any cell answers to the name (an empty value could not).
        static const QString probe = QStringLiteral("\x01probe\x01");
        workbook.CheckTagValue(name, value);
        workbook.SetTagValue(name, probe);
        if (workbook.GetTagValue(name) == probe) {
            workbook.SetTagValue(name, value);
            return true;
        }
        bool found = false;
        TqzProjectTree &tree = *project.TreeView;
        for (int i = 0; i < tree.count(); ++i) {
            if (tree.nodeAt(i)->Name == name) {
                tree.nodeAt(i)->Value = value;
                found = true;
            }
        }
        if (!found)
            throw Error(QStringLiteral("--set %1: no report cell is tagged \"%1\" and no node is "
                                       "named so")
                            .arg(name));
        return false;
    }

    // The first item named `name`, or null.
    TqzNode *node(const QString &name) const
    {
        const TqzProjectTree &tree = *project.TreeView;
        for (int i = 0; i < tree.count(); ++i)
            if (tree.nodeAt(i)->Name == name)
                return tree.nodeAt(i);
        return nullptr;
    }

private:
    void warnPages(const QString &command)
    {
        for (const QString &error : workbook.loadErrors())
            std::fputs(QStringLiteral("tessarin-cli: %1: warning: %2\n")
                           .arg(command, error)
                           .toUtf8()
                           .constData(),
                       stderr);
    }
};

// The "--set NAME=VALUE" option and its values split at the first "=".
inline QCommandLineOption setOption()
{
    return QCommandLineOption(QStringLiteral("set"),
                              QStringLiteral("Type VALUE into the cells tagged NAME (into the "
                                             "nodes named NAME when no cell is); repeatable."),
                              QStringLiteral("NAME=VALUE"));
}

inline QList<std::pair<QString, QString>> setValues(const QCommandLineParser &parser)
{
    QList<std::pair<QString, QString>> out;
    for (const QString &given : parser.values(QStringLiteral("set"))) {
        // A value is text, not a file name: bytes that are not UTF-8 read as U+FFFD.
        const QString item = withoutRawBytes(given);
        const qsizetype eq = item.indexOf(QLatin1Char('='));
        if (eq <= 0)
            throw UsageError(QStringLiteral("--set \"%1\": expected NAME=VALUE").arg(item));
        out.append({item.left(eq), item.mid(eq + 1)});
    }
    return out;
}

} // namespace tessarin::cli
