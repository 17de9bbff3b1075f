#include "examcommands.h"

#include "atomicfile.h"
#include "error.h"
#include "examfile.h"
#include "filenames.h"
#include "programdir.h"
#include "qzworkbook.h"
#include "qzproject.h"
#include "qzrun.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <vector>

namespace tessarin {

namespace {

constexpr int kMaxExamFiles = 1000;

TqzExamLoadResult loadIntoProject(const TqzExamData &set,
                                  const QString &fileName,
                                  TqzProject &project,
                                  TqzWorkbook &workbook,
                                  TqzRunHost &host);

} // namespace

QString ExamFolder()
{
    return writablePath(QStringLiteral("exam"));
}

QString ExamFileName(const QString &folder, int number)
{
    return folder + QStringLiteral("/VOK%1.exm").arg(number);
}

QString NextExamFileName(const QString &folder)
{
    for (int n = 1; n < kMaxExamFiles; ++n) {
        const QString name = ExamFileName(folder, n);
        if (!QFileInfo::exists(name))
            return name;
    }
    return ExamFileName(folder, kMaxExamFiles);
}

QString SaveExamData(const TqzProject &project, TqzRunHost &host)
{
    if (project.TreeView->count() == 0) {
        host.appendLog(QStringLiteral("工程中没有节点, 未保存测试数据"));
        return QString();
    }
    TqzExamData set;
    FillExamData(set, *project.TreeView);
    const QString folder = ExamFolder();
    // The user's data folder does not exist on a fresh account: it is made first.
    if (!isBesideProgram(folder))
        QDir().mkpath(QFileInfo(folder).absolutePath());
    // Another process may create the folder at the same moment: finding it made is success.
    const QByteArray native = nativeFileName(folder);
    if (::mkdir(native.constData(), 0777) != 0) {
        const int error = errno;
        struct stat info = {};
        if (error != EEXIST)
            throw Error(QStringLiteral("%1：无法创建测试数据文件夹：%2")
                            .arg(QDir::toNativeSeparators(folder),
                                 QString::fromLocal8Bit(std::strerror(error))));
        if (::stat(native.constData(), &info) != 0 || !S_ISDIR(info.st_mode))
            throw Error(QStringLiteral("%1：无法创建测试数据文件夹：该名称已被非文件夹占用")
                            .arg(QDir::toNativeSeparators(folder)));
    }
    if (!isBesideProgram(folder))
        host.appendLog(QStringLiteral("程序文件夹不可写，测试数据保存在 %1")
                           .arg(QDir::toNativeSeparators(folder)));
    // Saves running at once each claim their own number; the lowest free one is still taken.
    QStringList names;
    names.reserve(kMaxExamFiles);
    for (int n = 1; n <= kMaxExamFiles; ++n)
        names.append(ExamFileName(folder, n));
    return writeFirstFreeFile(names, ExamDataToBytes(set));
}

TqzExamLoadResult
LoadExamData(const QString &fileName, TqzProject &project, TqzWorkbook &workbook, TqzRunHost &host)
{
    TqzExamData set;
    try {
        LoadExamDataFromFile(set, fileName);
        return loadIntoProject(set, fileName, project, workbook, host);
    } catch (const Error &e) {
        host.appendLog(QStringLiteral("加载测试数据失败: ") + e.message());
        throw;
    }
}

namespace {

TqzExamLoadResult loadIntoProject(const TqzExamData &set,
                                  const QString &fileName,
                                  TqzProject &project,
                                  TqzWorkbook &workbook,
                                  TqzRunHost &host)
{
    TqzProjectTree &tree = *project.TreeView;
    QHash<QString, std::vector<int>> itemsOfName;
    for (int i = 0; i < tree.count(); ++i)
        itemsOfName[tree.nodeAt(i)->Name].push_back(i);

    TqzExamLoadResult result;
    std::vector<std::pair<const std::vector<int> *, QString>> known;
    QHash<QString, QString> cells;
    QSet<QString> seen;
    for (const auto &entry : set.NodeDatas) {
        if (seen.contains(entry->Name))
            continue;
        seen.insert(entry->Name);
        const auto it = itemsOfName.constFind(entry->Name);
        if (it == itemsOfName.constEnd()) {
            result.unknown.append(entry->Name);
            continue;
        }
        known.emplace_back(&*it, entry->Value);
        result.names.append(entry->Name);
        cells.insert(entry->Name, entry->Value);
    }
    // The pages first, in one all-or-nothing write: a tag that cannot be parsed or a value
    // too long for a cell refuses it before any page or node has changed.
    workbook.SetTagValues(cells);
    for (const auto &[items, value] : known)
        for (int i : *items)
            tree.nodeAt(i)->Value = value;
    workbook.UpdatePageFields();
    result.loaded = static_cast<int>(known.size());

    host.appendLog(QStringLiteral("已加载测试数据 %1: %2 个名称")
                       .arg(QDir::toNativeSeparators(fileName))
                       .arg(result.loaded));
    if (!result.unknown.isEmpty())
        host.appendLog(QStringLiteral("工程中没有的名称: ")
                       + result.unknown.join(QStringLiteral(", ")));
    return result;
}

} // namespace

} // namespace tessarin
