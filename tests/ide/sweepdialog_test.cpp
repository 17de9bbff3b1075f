// The "参数扫描" dialog over a loaded project: the arguments it builds or refuses, a sweep run in
// the background into the table, its CSV, and a cancel.

#include "sweepdialog.h"

#include "projectfile.h"
#include "qzexcel.h"
#include "qzproject.h"
#include "reportgrid/gridfixture.h"

#include <QComboBox>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

using namespace tessarin;

namespace {

struct Window
{
    gridtest::ScopedPrinterLayer printer;
    QWidget area;
    TqzExcel excel{&area};
    TqzProject project;
    TqzProjectFile file;
    Window() { file.loadFile(TESSARIN_TEST_DATA "/workbook/pump_sheets.flw", project, excel.workbook()); }
};

void fill(TqzSweepDialog &d, int row, const QString &name, int kind, const QStringList &params)
{
    d.inputs[row].name->setCurrentText(name);
    d.inputs[row].kind->setCurrentIndex(kind);
    d.inputs[row].a->setText(params.value(0));
    d.inputs[row].b->setText(params.value(1));
    d.inputs[row].c->setText(params.value(2));
}

void check(TqzSweepDialog &d, const QString &output)
{
    for (int i = 0; i < d.outputs->count(); ++i)
        if (d.outputs->item(i)->text() == output)
            d.outputs->item(i)->setCheckState(Qt::Checked);
}

// Waits for the sweep to end; the message it ended with.
std::pair<bool, QString> wait(TqzSweepDialog &d)
{
    QEventLoop loop;
    std::pair<bool, QString> result{false, QStringLiteral("timeout")};
    QObject::connect(&d, &TqzSweepDialog::finished, &loop, [&](bool ok, const QString &why) {
        result = {ok, why};
        loop.quit();
    });
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    loop.exec();
    return result;
}

TEST(SweepDialog, BuildsOrRefusesTheArguments)
{
    Window w;
    TqzSweepDialog d(w.project, w.excel.workbook(), w.file);
    QString why;
    EXPECT_TRUE(d.sweepArguments(&why).isEmpty());
    EXPECT_EQ(why, "请选择至少一个输入");
    fill(d, 0, "流量", 0, {"10", "100"});
    EXPECT_TRUE(d.sweepArguments(&why).isEmpty());
    EXPECT_EQ(why, "请勾选至少一个输出");
    check(d, "轴功率");
    d.steps->setValue(4);
    EXPECT_EQ(d.sweepArguments(&why),
              (QStringList{"--vary", "流量=10:100:4", "--report", "轴功率", "--format", "jsonl"}));
    fill(d, 1, "扬程", 3, {"20", "25", "x"});
    EXPECT_TRUE(d.sweepArguments(&why).isEmpty());
    EXPECT_TRUE(why.contains("上限")) << why.toStdString();
    d.inputs[1].c->setText("30");
    EXPECT_TRUE(d.sweepArguments(&why).isEmpty());
    EXPECT_TRUE(why.contains("范围与抽样")) << why.toStdString();
    fill(d, 0, "流量", 1, {"50", "5"});
    EXPECT_EQ(d.sweepArguments(&why),
              (QStringList{"--sample",
                           "流量=normal:50:5",
                           "--sample",
                           "扬程=triangular:20:25:30",
                           "--cases",
                           "4",
                           "--seed",
                           "1",
                           "--report",
                           "轴功率",
                           "--format",
                           "jsonl"}));
}

TEST(SweepDialog, RunsInTheBackgroundIntoTheTableAndCancels)
{
    Window w;
    // A value typed into the pages and not saved counts: the dialog sweeps the window's state.
    w.excel.SetTagValue("扬程", "40");
    TqzSweepDialog d(w.project, w.excel.workbook(), w.file);
    fill(d, 0, "流量", 0, {"10", "100"});
    check(d, "轴功率");
    d.steps->setValue(4);
    ASSERT_TRUE(d.start());
    const auto [ok, message] = wait(d);
    ASSERT_TRUE(ok) << message.toStdString();
    ASSERT_EQ(d.table->rowCount(), 4);
    EXPECT_EQ(d.table->item(1, 0)->text(), "40");
    EXPECT_NEAR(d.table->item(3, 1)->text().toDouble(),
                100.0 * 40 * 998.2 * 9.81 / 3600 / 0.72 / 1000,
                1e-9);
    EXPECT_EQ(d.table->item(3, 2)->text(), "0");
    EXPECT_TRUE(d.csvText().startsWith("流量,轴功率,失败步数\n10,")) << d.csvText().toStdString();

    d.steps->setValue(1000);
    fill(d, 1, "扬程", 0, {"10", "100"});
    ASSERT_TRUE(d.start());
    d.cancel();
    const auto [completed, why] = wait(d);
    EXPECT_FALSE(completed);
    EXPECT_TRUE(why.startsWith("已取消")) << why.toStdString();
    EXPECT_LT(d.table->rowCount(), 1000000);
}

} // namespace
