// The maintenance and guide tool "维护和指南".

#include "fonts.h"
#include "qtenvironment.h"
#include "voknewswindow.h"

#include <QApplication>

int main(int argc, char **argv)
{
    tessarin::prepareQtEnvironment(true);
    QApplication app(argc, argv);
    tessarin::installFontSubstitutions();
    tessarin::VOKNewsWindow window;
    window.show();
    return app.exec();
}
