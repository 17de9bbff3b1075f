// The project file unit: one load into project and workbook, all or nothing, and one atomic
// save that keeps the project part as loaded.

#include "ide_support.h"
#include "projectfile.h"

#include "atomicfile.h"
#include "error.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tessarin;
using namespace tessarin::test;

namespace {

const QString kSample = QStringLiteral(TESSARIN_TEST_DATA "/workbook/pump_sheets.flw");

QByteArray projectPart(const QByteArray &document)
{
    const qsizetype from = document.indexOf("<TVariables");
    const qsizetype to = document.indexOf("</TVariables>");
    return document.mid(from, to - from);
}

TEST(ProjectFile, LoadsOnceAndSavesThePagesIntoTheDocumentAsLoaded)
{
    RunFixture f;
    TqzProjectFile file;
    file.loadFile(kSample, f.project, f.excel.workbook());
    EXPECT_EQ(file.FileName, kSample);
    EXPECT_EQ(file.Document, readWholeFile(kSample));
    EXPECT_EQ(f.project.TreeView->count(), 5);
    ASSERT_GE(f.excel.Pages.size(), 1);
    EXPECT_GE(f.excel.PageNames.size(), 2);

    QTemporaryDir dir;
    const QString out = dir.path() + "/saved.flw";
    f.excel.SetTagValue(f.node(1)->Name, "77.5");
    // The bytes a save would write, taken without writing or rebinding the file.
    const QByteArray unsaved = file.documentBytes(f.excel.workbook());
    EXPECT_EQ(file.FileName, kSample);
    EXPECT_EQ(file.Document, readWholeFile(kSample));
    file.saveAs(out, f.excel.workbook());
    EXPECT_EQ(file.FileName, out);
    EXPECT_EQ(readWholeFile(out), unsaved);
    EXPECT_EQ(projectPart(readWholeFile(out)), projectPart(readWholeFile(kSample)));

    RunFixture g;
    TqzProjectFile reread;
    reread.loadFile(out, g.project, g.excel.workbook());
    EXPECT_EQ(g.excel.GetTagValue(f.node(1)->Name), "77.5");
    EXPECT_EQ(g.excel.Pages.size(), f.excel.Pages.size());

    // A new project gets a document of its own.
    RunFixture h;
    h.addPage({{"X", "1"}});
    TqzProjectFile fresh;
    EXPECT_THROW(fresh.save(h.excel.workbook()), Error);
    fresh.saveAs(dir.path() + "/new.flw", h.excel.workbook());
    RunFixture k;
    TqzProjectFile().loadFile(dir.path() + "/new.flw", k.project, k.excel.workbook());
    EXPECT_EQ(k.excel.GetTagValue("X"), "1");
}

TEST(ProjectFile, DamagedDocumentChangesNeitherHalf)
{
    const QByteArray sample = readWholeFile(kSample);
    QByteArray badNode = sample;
    badNode.replace("NodeID=\"2\"", "NodeID=\"two\"");
    QByteArray badPage = sample;
    badPage.replace("<TqzReport ", "<TqzReport OwnerIndex=\"x\" ");
    const std::vector<std::pair<QByteArray, QString>> cases = {
        {badNode, "NodeID"},
        {badPage, "OwnerIndex"},
        {sample.left(sample.size() / 2), "line"},
    };
    for (const auto &[bytes, why] : cases) {
        SCOPED_TRACE(why.toStdString());
        RunFixture f;
        f.setNodes({{0, "keep", "", "1"}});
        f.addPage({{"KEEP", "k"}});
        TqzProjectFile file;
        try {
            file.loadBytes(bytes, "damaged.flw", f.project, f.excel.workbook());
            ADD_FAILURE() << "no error";
        } catch (const Error &e) {
            EXPECT_TRUE(e.message().startsWith("damaged.flw")) << e.message().toStdString();
            EXPECT_TRUE(e.message().contains(why)) << e.message().toStdString();
        }
        EXPECT_EQ(f.project.TreeView->count(), 1);
        EXPECT_EQ(f.excel.Pages.size(), 1);
        EXPECT_EQ(f.excel.GetTagValue("KEEP"), "k");
        EXPECT_TRUE(file.Document.isEmpty());
    }
}

TEST(ProjectFile, FailedSaveLeavesTargetAndDocument)
{
    RunFixture f;
    TqzProjectFile file;
    file.loadFile(kSample, f.project, f.excel.workbook());
    const QByteArray loaded = file.Document;
    EXPECT_THROW(file.saveAs("/nonexistent-folder/x.flw", f.excel.workbook()), Error);
    EXPECT_EQ(file.Document, loaded);
    EXPECT_EQ(file.FileName, kSample);
}

} // namespace
