#include "dynlib.h"
#include "programdir.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tessarin;

TEST(DynamicLibrary, EntryDecorationIsDroppedOffWin32)
{
    EXPECT_EQ(DynamicLibrary::platformEntryName("_uc_init@8"), QByteArray("_uc_init"));
    EXPECT_EQ(DynamicLibrary::platformEntryName("GetFLW@4"), QByteArray("GetFLW"));
    EXPECT_EQ(DynamicLibrary::platformEntryName("plain"), QByteArray("plain"));
    EXPECT_EQ(DynamicLibrary::platformEntryName("odd@x"), QByteArray("odd@x"));
    EXPECT_EQ(DynamicLibrary::platformEntryName("@12"), QByteArray("@12"));
}

TEST(DynamicLibrary, MissingLibrarySaysWhereItLooked)
{
    QTemporaryDir dir;
    const QString saved = programDirectory();
    setProgramDirectory(dir.path());
    DynamicLibrary lib;
    EXPECT_FALSE(lib.load(QStringLiteral("nosuch.dll")));
    EXPECT_FALSE(lib.isLoaded());
    EXPECT_EQ(lib.resolve("anything"), nullptr);
    EXPECT_TRUE(lib.errorString().contains(dir.path())) << lib.errorString().toStdString();
    EXPECT_TRUE(DynamicLibrary::platformFileName(QStringLiteral("calcpack.dll"))
                    .startsWith(dir.path()));
    setProgramDirectory(saved);
}

TEST(ProgramDirectory, RelativePathsUseEitherSeparator)
{
    const QString saved = programDirectory();
    setProgramDirectory(QStringLiteral("/opt/tessarin"));
    EXPECT_EQ(programPath(QStringLiteral("help\\calcpack.hlp")),
              QStringLiteral("/opt/tessarin/help/calcpack.hlp"));
    EXPECT_EQ(programPath(QStringLiteral("include//project.h")),
              QStringLiteral("/opt/tessarin/include/project.h"));
    setProgramDirectory(saved);
}
