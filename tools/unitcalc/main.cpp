// The unit converter: a window, or with arguments a one-line conversion on the command line.

#include "error.h"
#include "fonts.h"
#include "qtenvironment.h"
#include "translations.h"
#include "unitcalcwindow.h"
#include "unitconverter.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>
#include <QStringList>

#include <cmath>
#include <cstdio>

namespace {

const char *const usage
    = "usage: unitcalc [VALUE FROM TO [--patm KPA] [--density KG_M3]]\n"
      "  Without arguments the converter's window opens.\n"
      "  VALUE FROM TO  prints VALUE in unit FROM converted to unit TO, for example\n"
      "                 unitcalc 50 \"m3/h\" \"L/min\"   or   unitcalc 0.5 \"MPa(G)\" \"kPa(A)\"\n"
      "  Units are read by udunits2; a pressure unit may end in (G) gauge or (A) absolute.\n"
      "  --patm KPA     local atmospheric pressure, kPa(A), for gauge/absolute (default 101.325)\n"
      "  --density KG_M3  density for dynamic/kinematic viscosity (kg/m3)\n";

void printErr(const QString &text)
{
    const QByteArray bytes = (QStringLiteral("unitcalc: ") + text + QLatin1Char('\n')).toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
}

bool number(const QString &text, double &value)
{
    bool ok = false;
    value = text.trimmed().toDouble(&ok);
    return ok && std::isfinite(value);
}

int commandLine(const QStringList &args)
{
    QStringList positional;
    tessarin::ConversionConditions conditions;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        if (a == QLatin1String("-h") || a == QLatin1String("--help")) {
            std::fputs(usage, stdout);
            return 0;
        }
        if (a == QLatin1String("--patm") || a == QLatin1String("--density")) {
            double v = 0;
            if (i + 1 >= args.size() || !number(args[i + 1], v) || v <= 0) {
                printErr(QStringLiteral("%1 needs a positive number").arg(a));
                return 2;
            }
            if (a == QLatin1String("--patm"))
                conditions.atmospherePa = v * 1000.0;
            else
                conditions.densityKgM3 = v;
            ++i;
            continue;
        }
        if (a.startsWith(QLatin1String("--"))) {
            printErr(QStringLiteral("unknown option %1").arg(a));
            std::fputs(usage, stderr);
            return 2;
        }
        positional << a;
    }
    if (positional.size() != 3) {
        printErr(
            QStringLiteral("expected VALUE FROM TO, got %1 argument(s)").arg(positional.size()));
        std::fputs(usage, stderr);
        return 2;
    }
    double value = 0;
    if (!number(positional[0], value)) {
        printErr(QStringLiteral("value “%1” is not a number").arg(positional[0]));
        return 2;
    }
    try {
        const tessarin::UnitConverter converter;
        const double result = converter.convert(value, positional[1], positional[2], conditions);
        const QByteArray line = (tessarin::formatValue(result) + QLatin1Char('\n')).toUtf8();
        std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
        return 0;
    } catch (const tessarin::Error &e) {
        printErr(e.message());
        return 1;
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc <= 1 && qEnvironmentVariableIsEmpty("DISPLAY")
        && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        // No window can open here: say how to use the command line instead.
        std::fputs("unitcalc: no display for the window (DISPLAY is unset)\n", stderr);
        std::fputs(usage, stderr);
        return 2;
    }
    if (argc > 1) {
        QCoreApplication app(argc, argv);
        QStringList args = QCoreApplication::arguments();
        args.removeFirst();
        return commandLine(args);
    }
    tessarin::prepareQtEnvironment(true);
    QApplication app(argc, argv);
    tessarin::installChineseTranslations(app);
    tessarin::installFontSubstitutions();
    try {
        const tessarin::UnitConverter converter;
        tessarin::UnitCalcWindow window(converter);
        window.show();
        return app.exec();
    } catch (const tessarin::Error &e) {
        QMessageBox::critical(nullptr, QStringLiteral("单位换算器"), e.message());
        return 1;
    }
}
