#include "checkpanel.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace tessarin {

namespace {

QString kindText(const QString &kind)
{
    static const QHash<QString, QString> texts{
        {findingkind::UnknownName, QStringLiteral("未知名称")},
        {findingkind::UsedBeforeComputed, QStringLiteral("先用后算")},
        {findingkind::CompileError, QStringLiteral("公式不能编译")},
        {findingkind::DuplicateName, QStringLiteral("名称重复")},
        {findingkind::DuplicateCode, QStringLiteral("编码重复")},
        {findingkind::InputNotShown, QStringLiteral("输入无单元格")},
        {findingkind::TagWithoutNode, QStringLiteral("标记无节点")},
        {findingkind::ResultCellWithoutFormula, QStringLiteral("结果格无公式")},
        {findingkind::UnusedInput, QStringLiteral("输入未被使用")},
    };
    return texts.value(kind, kind);
}

} // namespace

TqzCheckPanel::TqzCheckPanel(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("checkPanel"));
    setWindowTitle(QStringLiteral("检查工程"));
    setModal(false);
    resize(760, 360);

    summary = new QLabel(this);
    summary->setObjectName(QStringLiteral("lblCheckSummary"));
    summary->setWordWrap(true);

    list = new QTreeWidget(this);
    list->setObjectName(QStringLiteral("tvFindings"));
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setAlternatingRowColors(true);
    list->setHeaderLabels({QStringLiteral("级别"),
                           QStringLiteral("类型"),
                           QStringLiteral("节点"),
                           QStringLiteral("页"),
                           QStringLiteral("单元格"),
                           QStringLiteral("说明")});
    list->header()->setStretchLastSection(true);

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *close = buttons->addButton(QStringLiteral("关闭"), QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("btnCheckClose"));
    again = buttons->addButton(QStringLiteral("重新检查(&A)"), QDialogButtonBox::ActionRole);
    again->setObjectName(QStringLiteral("btnCheckAgain"));

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(summary);
    layout->addWidget(list, 1);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::hide);
    connect(again, &QPushButton::clicked, this, &TqzCheckPanel::recheckRequested);
    // A double click activates an item on every platform; Enter does too.
    connect(list, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem *item) {
        const int row = list->indexOfTopLevelItem(item);
        if (row >= 0 && row < m_findings.size())
            Q_EMIT findingActivated(m_findings.at(row));
    });
}

void TqzCheckPanel::setResult(const ProjectCheckResult &result)
{
    m_findings = result.findings;
    list->clear();
    int errors = 0;
    QList<QTreeWidgetItem *> items;
    items.reserve(m_findings.size());
    for (const ProjectFinding &f : std::as_const(m_findings)) {
        const bool error = f.severity == QLatin1String("error");
        errors += error ? 1 : 0;
        auto *item = new QTreeWidgetItem({error ? QStringLiteral("错误") : QStringLiteral("警告"),
                                          kindText(f.kind),
                                          f.node,
                                          f.page,
                                          f.cell,
                                          f.message});
        item->setToolTip(5, f.message);
        item->setToolTip(1, f.kind);
        if (error)
            item->setForeground(0, QColor(0xC0, 0, 0));
        items.append(item);
    }
    list->addTopLevelItems(items);
    for (int c = 0; c < 5; ++c)
        list->resizeColumnToContents(c);

    QString text
        = m_findings.isEmpty()
              ? QStringLiteral("没有发现问题。")
              : QStringLiteral("发现 %1 个错误、%2 个警告；双击一项可转到对应的节点或单元格。")
                    .arg(errors)
                    .arg(m_findings.size() - errors);
    for (const QString &why : result.notChecked)
        text += QLatin1Char('\n') + QStringLiteral("未检查: ") + why;
    summary->setText(text);
}

} // namespace tessarin
