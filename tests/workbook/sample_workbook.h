#pragma once

// The sample project of the workbook tests (tests/data/workbook/pump_sheets.flw): a small pump
// calculation with a workbook of three data-sheet pages on two tabs, built by the program's own
// code. The file is written by SampleProject.WrittenByTheProgram when TESSARIN_WRITE_SAMPLE=1.

#include "qzexcel.h"
#include "qzproject.h"
#include "workbook_support.h"

#include <QByteArray>
#include <QString>

#include <memory>

namespace tessarin::test {

inline QString samplePath()
{
    return QStringLiteral(TESSARIN_TEST_DATA "/workbook/pump_sheets.flw");
}

// Merges cells first..last of one line into one cell.
inline void mergeAcross(TReportControl &page, int line, int first, int last)
{
    page.RemoveAllSelectedCell();
    for (int c = first; c <= last; ++c)
        page.AddSelectedCell(page.CellFromRC(line, c));
    page.CombineCell();
    page.RemoveAllSelectedCell();
}

// One row of labels and one tagged value: label, code, value cell (tag, text), unit.
inline void sheetRow(TReportControl &page, int line, const QString &label, const QString &code,
                     const QString &tag, const QString &value, const QString &unit)
{
    setCell(page, line, 0, QString(), label);
    setCell(page, line, 1, QString(), code);
    setCell(page, line, 2, tag, value);
    setCell(page, line, 3, QString(), unit);
}

// Fills an empty workbook with the three sample pages and the two tabs.
inline void buildSampleWorkbook(TqzExcel &workbook)
{
    workbook.ClearPages();
    workbook.PageNames = {QStringLiteral("泵性能"), QStringLiteral("电机")};

    TqzReport *pump = workbook.AddPage();
    makeTable(*pump, 4, 7);
    setCell(*pump, 0, 0, QString(), QStringLiteral("离心泵性能数据表"));
    mergeAcross(*pump, 0, 0, 3);
    pump->CellFromRC(0, 0)->FHorzAlign = TEXT_ALIGN_CENTER;
    sheetRow(*pump, 1, QStringLiteral("参数"), QStringLiteral("代号"), QString(),
             QStringLiteral("数值"), QStringLiteral("单位"));
    sheetRow(*pump, 2, QStringLiteral("流量"), QStringLiteral("Q"),
             QStringLiteral("[2][1][0][流量]"), QStringLiteral("50"), QStringLiteral("m3/h"));
    sheetRow(*pump, 3, QStringLiteral("扬程"), QStringLiteral("H"), QStringLiteral("扬程"),
             QStringLiteral("32.5"), QStringLiteral("m"));
    sheetRow(*pump, 4, QStringLiteral("效率"), QStringLiteral("η"), QStringLiteral(" 效率 "),
             QStringLiteral("0.72"), QString());
    sheetRow(*pump, 5, QStringLiteral("轴功率"), QStringLiteral("N"), QStringLiteral("轴功率"),
             QString(), QStringLiteral("kW"));
    setCell(*pump, 6, 0, QStringLiteral("RUN"), QStringLiteral("[执行计算]"));
    setCell(*pump, 6, 2, QStringLiteral("PageNum"));
    setCell(*pump, 6, 3, QStringLiteral("[2][1][0][pagecount]"));

    workbook.OwnerIndex = 1;
    TqzReport *motor = workbook.AddPage();
    makeTable(*motor, 4, 4);
    setCell(*motor, 0, 0, QString(), QStringLiteral("电机选型"));
    mergeAcross(*motor, 0, 0, 3);
    sheetRow(*motor, 1, QStringLiteral("轴功率"), QStringLiteral("N"), QStringLiteral("轴功率"),
             QString(), QStringLiteral("kW"));
    sheetRow(*motor, 2, QStringLiteral("密度"), QStringLiteral("ρ"), QStringLiteral("密度"),
             QStringLiteral("998.2"), QStringLiteral("kg/m3"));
    setCell(*motor, 3, 2, QStringLiteral("PAGENUM"));
    setCell(*motor, 3, 3, QStringLiteral("PAGECOUNT"));

    workbook.OwnerIndex = 0;
    TqzReport *notes = workbook.AddPage();
    makeTable(*notes, 2, 3);
    setCell(*notes, 0, 0, QString(), QStringLiteral("备注"));
    setCell(*notes, 0, 1, QString(),
            QStringLiteral("轴功率按 N = ρgQH/η 计算；数值由运行写回本表。"));
    setCell(*notes, 2, 0, QStringLiteral("PAGENUM"));
    setCell(*notes, 2, 1, QStringLiteral("PAGECOUNT"));
    for (TqzReport *page : {pump, motor, notes})
        page->UpdateLines();
    workbook.ShowOwnerPages(0);
}

// The project part of the sample: the nodes whose names the pages carry as tags.
inline QByteArray sampleProjectPart()
{
    TqzProject project;
    project.Name = QStringLiteral("离心泵");
    project.RunTimeLibrary->LibraryPath = QStringLiteral("include//");
    auto add = [&](const QString &name, const QString &caption, const QString &script,
                   const QString &value, const QString &unit, const QModelIndex &parent) {
        auto node = std::make_unique<TqzNode>();
        node->Name = name;
        node->Caption = caption;
        node->Script = script;
        node->Value = value;
        node->Unit = unit;
        return project.TreeView->appendNode(std::move(node), parent);
    };
    const QModelIndex power = add(QStringLiteral("轴功率"), QStringLiteral("N"),
                                  QStringLiteral("流量*扬程*密度*9.81/3600/效率/1000"),
                                  QString(), QStringLiteral("kW"), {});
    add(QStringLiteral("流量"), QStringLiteral("Q"), QString(), QStringLiteral("50"),
        QStringLiteral("m3/h"), power);
    add(QStringLiteral("扬程"), QStringLiteral("H"), QString(), QStringLiteral("32.5"),
        QStringLiteral("m"), power);
    add(QStringLiteral("密度"), QStringLiteral("rho"), QString(), QStringLiteral("998.2"),
        QStringLiteral("kg/m3"), power);
    add(QStringLiteral("效率"), QStringLiteral("eta"), QString(), QStringLiteral("0.72"),
        QString(), power);
    return SaveProjectToBytes(project);
}

} // namespace tessarin::test
