#include "fonts.h"
#include "programdir.h"
#include "qtenvironment.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    tessarin::prepareQtEnvironment(false);
    QApplication app(argc, argv);
    tessarin::installFontSubstitutions();
    tessarin::setProgramDirectory(QStringLiteral(TESSARIN_BIN_DIR));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
