#include "sweepdialog.h"

#include "atomicfile.h"
#include "csvfield.h"
#include "error.h"
#include "programdir.h"
#include "projectfile.h"
#include "qzproject.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QVBoxLayout>

namespace tessarin {

namespace {

// The ways an input takes its values: a range, or one of the distributions of the sweep.
struct Kind
{
    const char *label;
    const char *distribution; // nullptr for a range
    const char *a;
    const char *b;
    const char *c; // nullptr: two parameters
};

const Kind kKinds[] = {
    {"范围", nullptr, "从", "到", nullptr},
    {"正态", "normal", "均值", "标准差", nullptr},
    {"均匀", "uniform", "下限", "上限", nullptr},
    {"三角", "triangular", "下限", "最可能值", "上限"},
    {"对数正态", "lognormal", "μ", "σ", nullptr},
};

} // namespace

TqzSweepDialog::TqzSweepDialog(const TqzProject &project,
                               TqzWorkbook &workbook,
                               const TqzProjectFile &file,
                               QWidget *parent)
    : QDialog(parent)
    , m_workbook(workbook)
    , m_file(file)
{
    setWindowTitle(QStringLiteral("参数扫描"));
    QStringList names;
    const TqzProjectTree &tree = *project.TreeView;
    for (int i = 0; i < tree.count(); ++i)
        if (!names.contains(tree.nodeAt(i)->Name) && !tree.nodeAt(i)->Name.isEmpty())
            names << tree.nodeAt(i)->Name;

    auto *inputBox = new QGroupBox(QStringLiteral("输入 (至多两个)"));
    auto *grid = new QGridLayout(inputBox);
    for (int row = 0; row < 2; ++row) {
        InputRow &in = inputs[row];
        in.name = new QComboBox;
        in.name->setEditable(true);
        in.name->addItem(QString());
        in.name->addItems(names);
        in.kind = new QComboBox;
        for (const Kind &k : kKinds)
            in.kind->addItem(QString::fromUtf8(k.label));
        in.a = new QLineEdit;
        in.b = new QLineEdit;
        in.c = new QLineEdit;
        grid->addWidget(in.name, row, 0);
        grid->addWidget(in.kind, row, 1);
        grid->addWidget(in.a, row, 2);
        grid->addWidget(in.b, row, 3);
        grid->addWidget(in.c, row, 4);
        connect(in.kind, &QComboBox::currentIndexChanged, this, [this, row] { kindChanged(row); });
        kindChanged(row);
    }
    steps = new QSpinBox;
    steps->setRange(1, 1'000'000);
    steps->setValue(11);
    seed = new QSpinBox;
    seed->setRange(0, 2'000'000'000);
    seed->setValue(1);
    auto *countRow = new QHBoxLayout;
    countRow->addWidget(new QLabel(QStringLiteral("每个范围的点数 / 抽样工况数:")));
    countRow->addWidget(steps);
    countRow->addWidget(new QLabel(QStringLiteral("随机种子:")));
    countRow->addWidget(seed);
    countRow->addStretch();
    grid->addLayout(countRow, 2, 0, 1, 5);

    auto *outputBox = new QGroupBox(QStringLiteral("输出"));
    auto *outputLayout = new QVBoxLayout(outputBox);
    outputs = new QListWidget;
    for (const QString &name : names) {
        auto *item = new QListWidgetItem(name, outputs);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
    outputLayout->addWidget(outputs);

    table = new QTableWidget;
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setWordWrap(false);
    progress = new QProgressBar;
    status = new QLabel;
    status->setWordWrap(true);
    runButton = new QPushButton(QStringLiteral("运行"));
    cancelButton = new QPushButton(QStringLiteral("取消"));
    cancelButton->setEnabled(false);
    auto *copyButton = new QPushButton(QStringLiteral("复制"));
    auto *saveButton = new QPushButton(QStringLiteral("保存CSV..."));
    auto *closeButton = new QPushButton(QStringLiteral("关闭"));
    connect(runButton, &QPushButton::clicked, this, [this] { start(); });
    connect(cancelButton, &QPushButton::clicked, this, &TqzSweepDialog::cancel);
    connect(copyButton, &QPushButton::clicked, this, &TqzSweepDialog::copyToClipboard);
    connect(saveButton, &QPushButton::clicked, this, &TqzSweepDialog::saveCsv);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::close);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(runButton);
    buttons->addWidget(cancelButton);
    buttons->addStretch();
    buttons->addWidget(copyButton);
    buttons->addWidget(saveButton);
    buttons->addWidget(closeButton);

    auto *top = new QHBoxLayout;
    top->addWidget(inputBox, 3);
    top->addWidget(outputBox, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(progress);
    layout->addWidget(status);
    layout->addWidget(table, 1);
    layout->addLayout(buttons);
    resize(900, 600);
}

TqzSweepDialog::~TqzSweepDialog()
{
    if (m_process) {
        m_process->disconnect(this);
        m_process->kill();
        m_process->waitForFinished(3000);
    }
}

void TqzSweepDialog::kindChanged(int row)
{
    const Kind &k = kKinds[qBound(0, inputs[row].kind->currentIndex(), int(std::size(kKinds)) - 1)];
    inputs[row].a->setPlaceholderText(QString::fromUtf8(k.a));
    inputs[row].b->setPlaceholderText(QString::fromUtf8(k.b));
    inputs[row].c->setVisible(k.c != nullptr);
    inputs[row].c->setPlaceholderText(k.c ? QString::fromUtf8(k.c) : QString());
}

QStringList TqzSweepDialog::sweepArguments(QString *why) const
{
    const auto refuse = [&](const QString &text) {
        if (why)
            *why = text;
        return QStringList();
    };
    QStringList args;
    QStringList names;
    int ranges = 0;
    int sampled = 0;
    for (const InputRow &in : inputs) {
        const QString name = in.name->currentText().trimmed();
        if (name.isEmpty())
            continue;
        if (names.contains(name))
            return refuse(QStringLiteral("输入 %1 出现了两次").arg(name));
        const Kind &k = kKinds[qBound(0, in.kind->currentIndex(), int(std::size(kKinds)) - 1)];
        QStringList numbers;
        for (const auto &[edit, label] :
             {std::pair{in.a, k.a}, std::pair{in.b, k.b}, std::pair{in.c, k.c}}) {
            if (!label)
                continue;
            bool ok = false;
            edit->text().trimmed().toDouble(&ok);
            if (!ok)
                return refuse(QStringLiteral("输入 %1 的%2不是数值: \"%3\"")
                                  .arg(name, QString::fromUtf8(label), edit->text()));
            numbers << edit->text().trimmed();
        }
        names << name;
        if (!k.distribution) {
            ++ranges;
            args << QStringLiteral("--vary")
                 << QStringLiteral("%1=%2:%3:%4")
                        .arg(name, numbers[0], numbers[1])
                        .arg(steps->value());
        } else {
            ++sampled;
            args << QStringLiteral("--sample")
                 << name + QLatin1Char('=') + QString::fromLatin1(k.distribution) + QLatin1Char(':')
                        + numbers.join(QLatin1Char(':'));
        }
    }
    if (names.isEmpty())
        return refuse(QStringLiteral("请选择至少一个输入"));
    if (ranges > 0 && sampled > 0)
        return refuse(QStringLiteral("范围与抽样不能同时使用: 两个输入都取范围, 或都抽样"));
    if (sampled > 0)
        args << QStringLiteral("--cases") << QString::number(steps->value())
             << QStringLiteral("--seed") << QString::number(seed->value());
    QStringList reports;
    for (int i = 0; i < outputs->count(); ++i)
        if (outputs->item(i)->checkState() == Qt::Checked)
            reports << outputs->item(i)->text();
    if (reports.isEmpty())
        return refuse(QStringLiteral("请勾选至少一个输出"));
    return args << QStringLiteral("--report") << reports.join(QLatin1Char(','))
                << QStringLiteral("--format") << QStringLiteral("jsonl");
}

bool TqzSweepDialog::isRunning() const
{
    return m_process && m_process->state() != QProcess::NotRunning;
}

bool TqzSweepDialog::start()
{
    if (isRunning())
        return false;
    QString why;
    const QStringList args = sweepArguments(&why);
    if (args.isEmpty()) {
        status->setText(why);
        return false;
    }
    m_dir = std::make_unique<QTemporaryDir>();
    const QString path = m_dir->path() + QStringLiteral("/project.flw");
    try {
        // A copy of the document with the pages as they stand; the window's file is untouched.
        TqzProjectFile copy = m_file;
        copy.saveAs(path, m_workbook);
    } catch (const Error &e) {
        status->setText(QStringLiteral("工程无法写入临时文件: ") + e.message());
        return false;
    }
    m_inputNames.clear();
    m_outputNames.clear();
    for (qsizetype k = 0; k + 1 < args.size(); ++k) {
        if (args[k] == QLatin1String("--vary") || args[k] == QLatin1String("--sample"))
            m_inputNames << args[k + 1].left(args[k + 1].lastIndexOf(QLatin1Char('=')));
        if (args[k] == QLatin1String("--report"))
            m_outputNames = args[k + 1].split(QLatin1Char(','));
    }
    const bool sampled = args.contains(QStringLiteral("--sample"));
    m_total = sampled ? steps->value() : 1;
    if (!sampled)
        for (int k = 0; k < m_inputNames.size(); ++k)
            m_total *= steps->value();
    table->clear();
    table->setRowCount(0);
    table->setColumnCount(int(m_inputNames.size() + m_outputNames.size() + 1));
    table->setHorizontalHeaderLabels(m_inputNames + m_outputNames
                                     + QStringList{QStringLiteral("失败步数")});
    progress->setRange(0, int(std::min<qint64>(m_total, INT_MAX)));
    progress->setValue(0);
    status->setText(QStringLiteral("正在计算 %1 个工况...").arg(m_total));
    m_pending.clear();
    m_cancelled = false;

    m_process = std::make_unique<QProcess>();
    connect(m_process.get(), &QProcess::readyReadStandardOutput, this, &TqzSweepDialog::readRows);
    connect(m_process.get(), &QProcess::finished, this, &TqzSweepDialog::sweepFinished);
    connect(m_process.get(), &QProcess::errorOccurred, this, [this](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            sweepFinished(-1, QProcess::CrashExit);
    });
    m_process->start(programPath(QStringLiteral("tessarin-cli")),
                     QStringList{QStringLiteral("sweep"), path} + args);
    runButton->setEnabled(false);
    cancelButton->setEnabled(true);
    return true;
}

void TqzSweepDialog::cancel()
{
    if (!isRunning())
        return;
    m_cancelled = true;
    // The workers see their requests end with the sweep and stop after their current slice.
    m_process->kill();
}

void TqzSweepDialog::readRows()
{
    m_pending += m_process->readAllStandardOutput();
    qsizetype eol;
    while ((eol = m_pending.indexOf('\n')) >= 0) {
        const QJsonObject row = QJsonDocument::fromJson(m_pending.left(eol)).object();
        m_pending.remove(0, eol + 1);
        const QJsonObject in = row.value(QStringLiteral("inputs")).toObject();
        const QJsonObject out = row.value(QStringLiteral("values")).toObject();
        const int r = table->rowCount();
        table->insertRow(r);
        int column = 0;
        for (const QString &name : m_inputNames)
            table->setItem(r, column++, new QTableWidgetItem(in.value(name).toString()));
        for (const QString &name : m_outputNames)
            table->setItem(r, column++, new QTableWidgetItem(out.value(name).toString()));
        table->setItem(r,
                       column,
                       new QTableWidgetItem(
                           QString::number(row.value(QStringLiteral("failedSteps")).toInt())));
    }
    progress->setValue(int(std::min<qint64>(table->rowCount(), INT_MAX)));
}

void TqzSweepDialog::sweepFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    if (!m_process)
        return;
    readRows();
    QString message;
    bool completed = false;
    if (m_cancelled) {
        message = QStringLiteral("已取消: 完成 %1 / %2 个工况").arg(table->rowCount()).arg(m_total);
    } else if (exitStatus == QProcess::NormalExit && exitCode == 0) {
        completed = true;
        message = QStringLiteral("完成: %1 个工况").arg(table->rowCount());
    } else {
        const QString err = QString::fromUtf8(m_process->readAllStandardError()).trimmed();
        message = QStringLiteral("扫描失败: ") + (err.isEmpty() ? m_process->errorString() : err);
    }
    status->setText(message);
    table->resizeColumnsToContents();
    runButton->setEnabled(true);
    cancelButton->setEnabled(false);
    m_process.release()->deleteLater();
    m_dir.reset();
    emit finished(completed, message);
}

QString TqzSweepDialog::csvText() const
{
    QStringList lines;
    QStringList header;
    for (int c = 0; c < table->columnCount(); ++c)
        header << csvField(table->horizontalHeaderItem(c)->text());
    lines << header.join(QLatin1Char(','));
    for (int r = 0; r < table->rowCount(); ++r) {
        QStringList fields;
        for (int c = 0; c < table->columnCount(); ++c)
            fields << csvField(table->item(r, c) ? table->item(r, c)->text() : QString());
        lines << fields.join(QLatin1Char(','));
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

void TqzSweepDialog::copyToClipboard() const
{
    QStringList lines;
    QStringList header;
    for (int c = 0; c < table->columnCount(); ++c)
        header << table->horizontalHeaderItem(c)->text();
    lines << header.join(QLatin1Char('\t'));
    for (int r = 0; r < table->rowCount(); ++r) {
        QStringList fields;
        for (int c = 0; c < table->columnCount(); ++c)
            fields << (table->item(r, c) ? table->item(r, c)->text() : QString());
        lines << fields.join(QLatin1Char('\t'));
    }
    QApplication::clipboard()->setText(lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
}

void TqzSweepDialog::saveCsv()
{
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("保存CSV"), QString(), QStringLiteral("CSV (*.csv)"));
    if (path.isEmpty())
        return;
    try {
        writeFileAtomically(path, csvText().toUtf8());
    } catch (const Error &e) {
        QMessageBox::warning(this, QStringLiteral("保存CSV"), e.message());
    }
}

} // namespace tessarin
