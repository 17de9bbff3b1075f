#include "voknewswindow.h"

#include "examfiles.h"
#include "installcheck.h"
#include "programdir.h"
#include "programupdate.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

namespace tessarin {

namespace {

const char *const guide = R"(
<h2>入门指南</h2>
<p>Tessarin 是化工工艺计算平台。计算在与打印出来的数据表一模一样的报表页里进行：
在页中填写输入数据，按 <b>F9</b>，结果写回同一页，每一步计算都记在日志中，便于校核。</p>
<ol>
<li><b>打开计算。</b>程序启动后自动打开“化工离心泵计算”。菜单 文件 → 化工离心泵计算(P)... 可再打开一份独立的计算；
文件 → 打开(O)... 打开保存过的工程文件（.flw）。</li>
<li><b>填写数据。</b>双击报表页中的单元格，输入数值后回车。输入项与计算结果用底色区分。</li>
<li><b>计算。</b>按 F9（运行工程）。状态栏显示进度，结果填入各页。</li>
<li><b>看日志。</b>窗口下方的信息栏逐步列出每个计算式、代号式和代入数值后的算式。
计算失败的公式在日志中注明原因，计算继续进行。</li>
<li><b>保存与打印。</b>文件 → 保存(S) 或 另存为(A)... 把报表页写入工程文件；
打印(P)... 打印全部页，打印当前页(C)... 只打印当前页。</li>
<li><b>测试数据。</b>工程窗口的菜单可把全部节点的数值存为编号的测试数据文件（exam 文件夹中的 VOKn.exm），
需要时再读回；本窗口的“维护”页列出这些文件，可打开所在位置或删除。</li>
<li><b>单位换算。</b>工具 → 单位换算器(U)...：压力（表压/绝压）、温度、流量、粘度等常用单位的换算。</li>
</ol>
<p>详细说明和离心泵计算的方法见帮助文件（F1）。</p>
)";

const char *const news = R"(
<h2>本版本的新内容</h2>
<ul>
<li>化工离心泵计算：吸入侧与排出侧的管路摩擦（Churchill 摩擦系数）、扬程、轴功率、电机选型
（GB/T 755 标准功率系列）、比转数和汽蚀余量校核；两页数据表“离心泵数据表”和“水力计算书”。</li>
<li>公式由沙箱化的脚本解释器计算，每一步记录公式、代号和代入数值后的算式。</li>
<li>工程文件、测试数据文件的写入都是原子的：写入失败不会损坏原有文件。</li>
<li>单位换算器基于 udunits2 单位库，可以输入任意单位写法，压力支持表压与绝压互换。</li>
<li>离线升级：在“在线升级”中选择新版本的程序文件，退出程序时自动替换。</li>
<li>本窗口：安装检查与测试数据文件管理。</li>
</ul>
)";

void openPath(const QString &path)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

} // namespace

VOKNewsWindow::VOKNewsWindow(QWidget *parent)
    : QWidget(parent)
{
    setWindowTitle(QStringLiteral("维护和指南"));
    m_tabs = new QTabWidget;
    m_tabs->addTab(guidePage(), QStringLiteral("入门指南"));
    m_tabs->addTab(newsPage(), QStringLiteral("新版本说明"));
    m_tabs->addTab(maintenancePage(), QStringLiteral("维护"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    resize(680, 580);
}

QWidget *VOKNewsWindow::guidePage()
{
    auto *page = new QWidget;
    auto *text = new QTextBrowser;
    text->setHtml(QString::fromUtf8(guide));
    auto *help = new QPushButton(QStringLiteral("打开帮助文件(&H)"));
    connect(help, &QPushButton::clicked, this, [] {
        openPath(programPath(QStringLiteral("help/calcpack.html")));
    });
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(text, 1);
    layout->addWidget(help, 0, Qt::AlignRight);
    return page;
}

QWidget *VOKNewsWindow::newsPage()
{
    auto *text = new QTextBrowser;
    text->setHtml(QStringLiteral("<p>Tessarin %1</p>").arg(currentProgramVersion().toString())
                  + QString::fromUtf8(news));
    return text;
}

QWidget *VOKNewsWindow::maintenancePage()
{
    auto *page = new QWidget;

    auto *checkBox = new QGroupBox(QStringLiteral("安装检查"));
    m_checks = new QTreeWidget;
    m_checks->setHeaderLabels(
        {QStringLiteral("项目"), QStringLiteral("结果"), QStringLiteral("说明")});
    m_checks->setRootIsDecorated(false);
    m_checks->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_checks->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    m_summary = new QLabel;
    auto *again = new QPushButton(QStringLiteral("重新检查(&C)"));
    connect(again, &QPushButton::clicked, this, &VOKNewsWindow::runCheck);
    auto *checkRow = new QHBoxLayout;
    checkRow->addWidget(m_summary, 1);
    checkRow->addWidget(again);
    auto *checkLayout = new QVBoxLayout(checkBox);
    checkLayout->addWidget(m_checks, 1);
    checkLayout->addLayout(checkRow);

    auto *examBox = new QGroupBox(QStringLiteral("测试数据文件"));
    m_exam = new QTreeWidget;
    m_exam->setHeaderLabels(
        {QStringLiteral("文件"), QStringLiteral("大小"), QStringLiteral("修改时间")});
    m_exam->setRootIsDecorated(false);
    m_exam->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_examInfo = new QLabel;
    auto *open = new QPushButton(QStringLiteral("打开位置(&O)"));
    auto *remove = new QPushButton(QStringLiteral("删除(&D)"));
    auto *refresh = new QPushButton(QStringLiteral("刷新(&R)"));
    connect(open, &QPushButton::clicked, this, [] {
        const QString dir = examDirectory();
        openPath(QFileInfo(dir).isDir() ? dir : programDirectory());
    });
    connect(remove, &QPushButton::clicked, this, &VOKNewsWindow::deleteSelected);
    connect(refresh, &QPushButton::clicked, this, &VOKNewsWindow::refreshExamFiles);
    auto *examRow = new QHBoxLayout;
    examRow->addWidget(m_examInfo, 1);
    examRow->addWidget(open);
    examRow->addWidget(remove);
    examRow->addWidget(refresh);
    auto *examLayout = new QVBoxLayout(examBox);
    examLayout->addWidget(m_exam, 1);
    examLayout->addLayout(examRow);

    auto *layout = new QVBoxLayout(page);
    layout->addWidget(checkBox, 3);
    layout->addWidget(examBox, 2);
    runCheck();
    refreshExamFiles();
    return page;
}

void VOKNewsWindow::showMaintenance()
{
    m_tabs->setCurrentIndex(2);
}

void VOKNewsWindow::runCheck()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const std::vector<CheckItem> items = runInstallationCheck();
    QApplication::restoreOverrideCursor();
    m_checks->clear();
    int failed = 0;
    for (const CheckItem &item : items) {
        auto *row = new QTreeWidgetItem(
            m_checks,
            {item.name,
             item.passed ? QStringLiteral("✔ 通过") : QStringLiteral("✘ 未通过"),
             item.detail});
        row->setForeground(1, item.passed ? QColor(0, 120, 0) : QColor(190, 0, 0));
        row->setToolTip(2, item.detail);
        failed += item.passed ? 0 : 1;
    }
    m_summary->setText(
        failed == 0 ? QStringLiteral("全部 %1 项通过。").arg(items.size())
                    : QStringLiteral("%1 项中有 %2 项未通过：请按说明补齐文件，或重新安装程序。")
                          .arg(items.size())
                          .arg(failed));
}

void VOKNewsWindow::refreshExamFiles()
{
    m_exam->clear();
    const QString dir = examDirectory();
    const std::vector<ExamFile> files = listExamFiles(dir);
    const QLocale locale(QLocale::Chinese, QLocale::China);
    for (const ExamFile &f : files) {
        auto *row = new QTreeWidgetItem(m_exam,
                                        {QFileInfo(f.path).fileName(),
                                         locale.formattedDataSize(f.size),
                                         locale.toString(f.modified, QLocale::ShortFormat)});
        row->setData(0, Qt::UserRole, f.path);
        row->setData(0, Qt::UserRole + 1, f.number);
    }
    m_examInfo->setText(
        QStringLiteral("%1：%2 个文件").arg(QDir::toNativeSeparators(dir)).arg(files.size()));
}

void VOKNewsWindow::deleteSelected()
{
    std::vector<ExamFile> chosen;
    for (const QTreeWidgetItem *row : m_exam->selectedItems())
        chosen.push_back(
            {row->data(0, Qt::UserRole).toString(), row->data(0, Qt::UserRole + 1).toInt(), 0, {}});
    if (chosen.empty())
        return;
    if (QMessageBox::question(this,
                              QStringLiteral("删除测试数据"),
                              QStringLiteral("删除选中的 %1 个测试数据文件？").arg(chosen.size()))
        != QMessageBox::Yes)
        return;
    const QStringList failures = deleteExamFiles(chosen);
    refreshExamFiles();
    if (!failures.isEmpty())
        QMessageBox::warning(this, QStringLiteral("删除测试数据"), failures.join('\n'));
}

} // namespace tessarin
