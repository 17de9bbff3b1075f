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

// One page of the sample: a table whose first line is a title across all columns, and cells
// given as {line, cell, tag, text}.
struct SampleCell
{
    int line;
    int cell;
    const char16_t *tag;
    const char16_t *text;
};

inline TqzReport *addSamplePage(TqzExcel &workbook, int tab, int cells, int lines,
                                std::initializer_list<SampleCell> content)
{
    workbook.OwnerIndex = tab;
    TqzReport *page = workbook.AddPage();
    makeTable(*page, cells, lines);
    for (const SampleCell &c : content)
        setCell(*page, c.line, c.cell, QString::fromUtf16(c.tag), QString::fromUtf16(c.text));
    page->RemoveAllSelectedCell();
    for (int c = 0; c < cells; ++c)
        page->AddSelectedCell(page->CellFromRC(0, c));
    page->CombineCell();
    page->RemoveAllSelectedCell();
    page->CellFromRC(0, 0)->FHorzAlign = TEXT_ALIGN_CENTER;
    page->UpdateLines();
    return page;
}

// Fills an empty workbook with the three sample pages and the two tabs.
inline void buildSampleWorkbook(TqzExcel &workbook)
{
    workbook.ClearPages();
    workbook.PageNames = {QStringLiteral("泵性能"), QStringLiteral("电机")};
    addSamplePage(workbook, 0, 4, 7,
                  {{0, 0, u"", u"离心泵性能数据表"},
                   {1, 0, u"", u"参数"}, {1, 1, u"", u"代号"}, {1, 2, u"", u"数值"},
                   {1, 3, u"", u"单位"},
                   {2, 0, u"", u"流量"}, {2, 1, u"", u"Q"}, {2, 2, u"[2][1][0][流量]", u"50"},
                   {2, 3, u"", u"m3/h"},
                   {3, 0, u"", u"扬程"}, {3, 1, u"", u"H"}, {3, 2, u"扬程", u"32.5"},
                   {3, 3, u"", u"m"},
                   {4, 0, u"", u"效率"}, {4, 1, u"", u"η"}, {4, 2, u" 效率 ", u"0.72"},
                   {5, 0, u"", u"轴功率"}, {5, 1, u"", u"N"}, {5, 2, u"轴功率", u""},
                   {5, 3, u"", u"kW"},
                   {6, 0, u"RUN", u"[执行计算]"}, {6, 2, u"PageNum", u""},
                   {6, 3, u"[2][1][0][pagecount]", u""}});
    addSamplePage(workbook, 1, 4, 4,
                  {{0, 0, u"", u"电机选型"},
                   {1, 0, u"", u"轴功率"}, {1, 1, u"", u"N"}, {1, 2, u"轴功率", u""},
                   {1, 3, u"", u"kW"},
                   {2, 0, u"", u"密度"}, {2, 1, u"", u"ρ"}, {2, 2, u"密度", u"998.2"},
                   {2, 3, u"", u"kg/m3"},
                   {3, 2, u"PAGENUM", u""}, {3, 3, u"PAGECOUNT", u""}});
    addSamplePage(workbook, 0, 2, 4,
                  {{0, 0, u"", u"备注"},
                   {1, 0, u"", u"轴功率按 N = ρgQH/η 计算；数值由运行写回本表。"},
                   {3, 0, u"PAGENUM", u""}, {3, 1, u"PAGECOUNT", u""}});
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
