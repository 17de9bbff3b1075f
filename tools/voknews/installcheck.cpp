#include "installcheck.h"

#include "dynlib.h"
#include "examfiles.h"
#include "helpwindow.h"
#include "programdir.h"
#include "qzcomplier.h"

#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QFontDatabase>
#include <QTemporaryFile>

#include <cmath>

namespace tessarin {

namespace {

QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

// A file can be made in `dir` and removed again.
bool canWriteIn(const QString &dir, QString &why)
{
    QTemporaryFile probe(QDir(dir).filePath(QStringLiteral(".probe-XXXXXX")));
    if (probe.open() && probe.write("x", 1) == 1 && probe.flush())
        return true;
    why = probe.errorString();
    return false;
}

} // namespace

QByteArrayList interpreterEntries()
{
    return {"_uc_init@8",
            "_uc_finis@0",
            "_uc_main@8",
            "_uc_include@4",
            "_uc_interactive_loop@0",
            "_uc_main_window@0",
            "_uc_load@4",
            "_uc_run@0",
            "_uc_exec@4",
            "_uc_result@8",
            "_uc_error@8",
            "_uc_error_pos@4",
            "_uc_eval@12",
            "_uc_set_quote@8",
            "_uc_init_ref@12",
            "_uc_compile@8",
            "uc_eval_args",
            "uc_eval_method_args",
            "_uc_eval_exp@12",
            "_uc_compile_fn@8",
            "_uc_import@8"};
}

CheckItem checkModule(const QString &windowsName, const QByteArrayList &entries)
{
    const QString file = DynamicLibrary::platformFileName(windowsName);
    CheckItem item{QFileInfo(file).fileName(), false, {}};
    DynamicLibrary library;
    if (!library.load(windowsName)) {
        item.detail = QFileInfo::exists(file)
                          ? QStringLiteral("无法加载：%1").arg(library.errorString())
                          : QStringLiteral("缺少文件 %1").arg(native(file));
        return item;
    }
    QStringList missing;
    for (const QByteArray &entry : entries)
        if (!library.resolve(entry))
            missing << QString::fromLatin1(DynamicLibrary::platformEntryName(entry));
    if (!missing.isEmpty()) {
        item.detail = QStringLiteral("缺少入口 %1").arg(missing.join(QStringLiteral(", ")));
        return item;
    }
    item.passed = true;
    item.detail = QStringLiteral("已加载，%1 个入口齐全").arg(entries.size());
    return item;
}

CheckItem checkFile(const QString &name, const QString &relative, bool executable)
{
    const QFileInfo info(programPath(relative));
    CheckItem item{name, false, {}};
    if (!info.isFile())
        item.detail = QStringLiteral("缺少文件 %1").arg(native(info.filePath()));
    else if (executable && !info.isExecutable())
        item.detail = QStringLiteral("%1 不可执行").arg(native(info.filePath()));
    else {
        item.passed = true;
        item.detail = native(info.filePath());
    }
    return item;
}

CheckItem checkInterpreter()
{
    CheckItem item{QStringLiteral("解释器计算测试公式"), false, {}};
    TqzComplier complier;
    if (!complier.isBound()) {
        item.detail = QStringLiteral("解释器库不可用：%1").arg(complier.bindError());
        return item;
    }
    // A plain expression proves the interpreter; a project.h function proves the header.
    struct Probe
    {
        const char *formula;
        double expected;
    };
    const Probe probes[] = {{"2*(3+4)-1.5", 12.5}, {"churchill(1e5, 1e-4)", 0.0184626245662801}};
    QStringList shown;
    for (const Probe &probe : probes) {
        const QString formula = QString::fromLatin1(probe.formula);
        const QString result = complier.Evaluate(formula);
        bool ok = false;
        const double value = result.toDouble(&ok);
        if (!complier.Succeeded || !ok) {
            item.detail
                = QStringLiteral("%1 计算失败：%2")
                      .arg(formula, complier.ErrorText.isEmpty() ? result : complier.ErrorText);
            return item;
        }
        if (std::fabs(value - probe.expected) > 1e-9 * std::max(1.0, std::fabs(probe.expected))) {
            item.detail = QStringLiteral("%1 = %2，应为 %3")
                              .arg(formula, result, QString::number(probe.expected, 'g', 15));
            return item;
        }
        shown << QStringLiteral("%1 = %2").arg(formula, result);
    }
    item.passed = true;
    item.detail = shown.join(QStringLiteral("；"));
    return item;
}

CheckItem checkCjkFont(const QStringList &wanted, const QStringList &installed)
{
    CheckItem item{QStringLiteral("中文字体"), false, {}};
    // Substitutes come back lower-cased; the installed spelling is the one to show.
    for (const QString &family : wanted)
        for (const QString &present : installed)
            if (present.compare(family, Qt::CaseInsensitive) == 0) {
                item.passed = true;
                item.detail = QStringLiteral("宋体 → %1").arg(present);
                return item;
            }
    item.detail = wanted.isEmpty() ? QStringLiteral("没有为宋体配置替代字体")
                                   : QStringLiteral("未安装 %1 之一（Debian：fonts-noto-cjk）")
                                         .arg(wanted.join(QStringLiteral("、")));
    return item;
}

CheckItem checkExamFolder(const QString &examDir)
{
    CheckItem item{QStringLiteral("测试数据文件夹 exam 可写"), false, {}};
    const QFileInfo info(examDir);
    QString why;
    if (info.isDir()) {
        item.passed = canWriteIn(examDir, why);
        item.detail = item.passed ? native(examDir)
                                  : QStringLiteral("%1 不可写：%2").arg(native(examDir), why);
    } else if (info.exists()) {
        item.detail = QStringLiteral("%1 是文件而不是文件夹").arg(native(examDir));
    } else {
        const QString parent = info.absolutePath();
        item.passed = canWriteIn(parent, why);
        item.detail
            = item.passed
                  ? QStringLiteral("%1 尚不存在，保存测试数据时自动创建").arg(native(examDir))
                  : QStringLiteral("%1 不存在，且 %2 不可写：%3")
                        .arg(native(examDir), native(parent), why);
    }
    return item;
}

CheckItem checkHelp()
{
    // The help is opened in the program's own help window, as F1 opens it.
    CheckItem item{QStringLiteral("帮助文件"), false, {}};
    THelpWindow window;
    if (!window.openPage()) {
        item.detail = window.errorString();
        return item;
    }
    if (const QStringList missing = window.missingImages(); !missing.isEmpty()) {
        item.detail
            = QStringLiteral("帮助窗口打不开其中的图片 %1").arg(missing.join(QStringLiteral("、")));
        return item;
    }
    item.passed = true;
    item.detail = QStringLiteral("已在帮助窗口中打开 %1").arg(native(helpPagePath()));
    return item;
}

std::vector<CheckItem> runInstallationCheck()
{
#ifdef Q_OS_WIN
    const QString exe = QStringLiteral(".exe");
#else
    const QString exe;
#endif
    std::vector<CheckItem> items;
    items.push_back(
        checkFile(QStringLiteral("主程序 Tessarin"), QStringLiteral("Tessarin") + exe, true));
    items.push_back(checkModule(QStringLiteral("scriptrt.dll"), interpreterEntries()));
    items.push_back(
        checkFile(QStringLiteral("解释器头文件 project.h"), QStringLiteral("project.h"), false));
    items.push_back(checkModule(QStringLiteral("calcpack.dll"), {"GetFLW@4"}));
    items.push_back(checkModule(QStringLiteral("svcpanel.dll"), {"ShowAbout@8", "ShowUpdate@4"}));
    items.push_back(checkInterpreter());
    items.push_back(checkHelp());
    items.push_back(
        checkFile(QStringLiteral("单位换算器 unitcalc"), QStringLiteral("unitcalc") + exe, true));
    QStringList wanted = QFont::substitutes(QStringLiteral("宋体"));
    items.push_back(checkCjkFont(wanted, QFontDatabase::families()));
    items.push_back(checkExamFolder(examDirectory()));
    return items;
}

} // namespace tessarin
