// The maintenance and guide tool "维护和指南". With --maintenance it opens on the installation
// check instead of the guide.

#include "fonts.h"
#include "qtenvironment.h"
#include "translations.h"
#include "voknewswindow.h"

#include <QApplication>

int main(int argc, char **argv)
{
    tessarin::prepareQtEnvironment(true);
    QApplication app(argc, argv);
    tessarin::installChineseTranslations(app);
    tessarin::installFontSubstitutions();
    tessarin::VOKNewsWindow window;
    if (QCoreApplication::arguments().contains(QStringLiteral("--maintenance")))
        window.showMaintenance();
    window.show();
    return app.exec();
}
