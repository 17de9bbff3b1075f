#pragma once

#include <QByteArrayList>
#include <QString>
#include <QStringList>

#include <vector>

// The installation check of the maintenance tool: whether every part of the program directory
// is present and works, each finding as one line of a pass/fail list.
namespace tessarin {

struct CheckItem
{
    QString name; // what was checked, as the list shows it
    bool passed = false;
    QString detail; // what was found, or why it failed
};

// The library `windowsName` ("scriptrt.dll") in the program directory loads and has every entry.
CheckItem checkModule(const QString &windowsName, const QByteArrayList &entries);
// A file the program needs beside it (relative to the program directory) is there.
CheckItem checkFile(const QString &name, const QString &relative, bool executable);
// The interpreter library evaluates a plain formula and one that uses project.h.
CheckItem checkInterpreter();
// The help page opened in the help window, with every picture it shows.
CheckItem checkHelp();
// The first of `wanted` (the faces the data sheets' 宋体 maps to) among `installed` families.
CheckItem checkCjkFont(const QStringList &wanted, const QStringList &installed);
// Test data can be written: the folder is writable, or can be made in a writable parent.
CheckItem checkExamFolder(const QString &examDir);

// The entries the engine binds in the interpreter library.
QByteArrayList interpreterEntries();

// Every check, against programDirectory() and the fonts of the running application.
std::vector<CheckItem> runInstallationCheck();

} // namespace tessarin
