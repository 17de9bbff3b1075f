#include "error.h"
#include "unitconverter.h"

#include <gtest/gtest.h>

#include <QProcess>

#include <cmath>

using namespace tessarin;

namespace {

const UnitConverter &converter()
{
    static const UnitConverter instance;
    return instance;
}

struct Conversion
{
    double value;
    const char *from;
    const char *to;
    double expected; // worked out by hand from the units' definitions
    double atmospherePa = 101325.0;
    double density = std::nan("");
};

// udunits2 rounds a few customary units (horsepower, gallon) at the 8th digit.
constexpr double relativeTolerance = 1e-7;

void expectConversions(const std::vector<Conversion> &rows)
{
    for (const Conversion &c : rows) {
        SCOPED_TRACE(std::string(c.from) + " -> " + c.to);
        ConversionConditions conditions;
        conditions.atmospherePa = c.atmospherePa;
        conditions.densityKgM3 = c.density;
        const double got = converter().convert(
            c.value, QString::fromUtf8(c.from), QString::fromUtf8(c.to), conditions);
        EXPECT_NEAR(got, c.expected, relativeTolerance * std::max(1.0, std::fabs(c.expected)));
    }
}

} // namespace

TEST(UnitConverter, FlowsDensitiesAndGeometry)
{
    expectConversions({
        {50, "m3/h", "L/min", 50 * 1000.0 / 60},
        {1, "m³/h", "L/s", 1000.0 / 3600},
        {24, "m3/d", "m3/h", 1},
        {1, "t/h", "kg/s", 1000.0 / 3600},
        {100, "lb/h", "kg/h", 45.359237},
        {1, "g/cm3", "kg/m3", 1000},
        {1, "lb/ft3", "kg/m3", 0.45359237 / (0.3048 * 0.3048 * 0.3048)},
        {2, "in", "mm", 50.8},
        {1, "ft2", "m2", 0.3048 * 0.3048},
        {1, "hm2", "m2", 10000},
        {1500, "mL", "m3", 0.0015},
    });
}

TEST(UnitConverter, PressureGaugeAndAbsolute)
{
    expectConversions({
        {1, "kgf/cm2", "kPa", 98.0665},
        {760, "mmHg", "kPa", 760 * 133.322387415 / 1000},
        {10, "mH2O", "kPa", 98.0665},
        {1000, "mmH2O", "mH2O", 1},
        // gauge <-> absolute shift by the local atmosphere
        {0.5, "MPa(G)", "kPa(A)", 601.325},
        {200, "kPa(A)", "MPa(G)", (200 - 101.325) / 1000},
        {0, "kPa(G)", "kPa(A)", 95, 95000},
        {1, "barg", "psia", 201325 / 6894.757293168361},
        {1, "MPa（G）", "bar(a)", 11.01325},
        {3, "bar(表)", "MPa(绝)", 0.401325},
        // the same basis, or one side unmarked: no shift
        {0.5, "MPa(G)", "kPa(G)", 500},
        {0.5, "MPa(G)", "kPa", 500},
        {101.325, "kPa", "atm", 1},
    });
}

TEST(UnitConverter, TemperatureOffsets)
{
    expectConversions({
        {25, "°C", "K", 298.15},
        {100, "℃", "K", 373.15},
        {-40, "degC", "°F", -40},
        {212, "°F", "°C", 100},
        {0, "K", "°C", -273.15},
        {491.67, "degR", "°C", 0},
    });
}

TEST(UnitConverter, ViscosityDynamicAndKinematic)
{
    expectConversions({
        {1, "cP", "Pa·s", 0.001},
        {1, "mPa.s", "cP", 1},
        {1, "cSt", "m2/s", 1e-6},
        {1, "mPa·s", "mm2/s", 1, 101325, 1000},
        {1, "mm2/s", "cP", 0.85, 101325, 850},
        {2, "St", "Pa s", 2e-4 * 900, 101325, 900},
    });
}

TEST(UnitConverter, PowerEnergyHeatTransfer)
{
    expectConversions({
        {1, "kWh", "MJ", 3.6},
        {1, "kcal", "kJ", 4.1868},
        {1, "Btu", "kJ", 1.05505585262},
        {1, "hp", "kW", 0.745699872},
        {1000, "kcal/h", "kW", 1.163},
        {1, "kcal/(m2·h·°C)", "W/(m2·K)", 1.163},
        {1, "Btu/(h·ft2·°F)", "W/(m2 K)", 1055.05585262 / (0.3048 * 0.3048) / 3600 / (5.0 / 9)},
        {1, "kcal/(m·h·°C)", "W/(m·K)", 1.163},
        {1, "Btu/(h·ft·°F)", "W/m/K", 1055.05585262 / 0.3048 / 3600 / (5.0 / 9)},
    });
}

TEST(UnitConverter, RefusalsSayWhichUnitAndWhy)
{
    struct Row
    {
        const char *from;
        const char *to;
        std::vector<const char *> said;
    };
    const std::vector<Row> rows = {
        {"wibble", "m/s", {"源单位", "“wibble”", "无法识别"}},
        {"m", "meterz", {"目标单位", "meterz", "无法识别"}},
        {"  ", "m", {"源单位", "为空"}},
        {"m", "s", {"“m”", "“s”", "量纲不同"}},
        {"m3/h", "kg/h", {"量纲不同"}},
        {"m(G)", "m", {"表压/绝压只用于压力单位"}},
        {"kPa(G)", "°C", {"表压/绝压只用于压力单位"}},
        {"cP", "mm2/s", {"需要密度"}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.from) + " -> " + row.to);
        try {
            converter().convert(1, QString::fromUtf8(row.from), QString::fromUtf8(row.to));
            ADD_FAILURE() << "converted";
        } catch (const Error &e) {
            for (const char *part : row.said)
                EXPECT_TRUE(e.message().contains(QString::fromUtf8(part)))
                    << e.message().toStdString();
        }
    }
    ConversionConditions noAtmosphere;
    noAtmosphere.atmospherePa = 0;
    EXPECT_THROW(
        converter().convert(1, QStringLiteral("kPa(G)"), QStringLiteral("kPa(A)"), noAtmosphere),
        Error);
}

TEST(UnitConverter, CategoriesHoldTheirUnitsOnly)
{
    // Every offered unit is read by udunits2 and belongs to its own category and no other
    // category of a different dimension.
    for (const UnitCategory &c : UnitConverter::categories()) {
        ASSERT_FALSE(c.units.isEmpty()) << c.name.toStdString();
        for (const QString &unit : c.units) {
            SCOPED_TRACE(c.name.toStdString() + " " + unit.toStdString());
            EXPECT_TRUE(converter().belongsTo(unit, c));
            EXPECT_NO_THROW(converter().convert(1, unit, c.units.front(), {1e5, 1000}));
        }
    }
    struct Row
    {
        const char *unit;
        const char *category;
        bool belongs;
    };
    for (const Row &r : std::vector<Row>{{"kPa(G)", "压力", true},
                                         {"psia", "压力", true},
                                         {"kPa(G)", "温度", false},
                                         {"m3/h", "质量流量", false},
                                         {"kg/h", "质量流量", true},
                                         {"cSt", "粘度", true},
                                         {"kg/m3", "粘度", false},
                                         {"kcal/h", "热负荷", true},
                                         {"kcal/h", "能量", false},
                                         {"W/(m2·K)", "导热系数", false}}) {
        SCOPED_TRACE(r.unit);
        const UnitCategory *c = UnitConverter::category(QString::fromUtf8(r.category));
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(converter().belongsTo(QString::fromUtf8(r.unit), *c), r.belongs);
    }
    EXPECT_THROW(converter().belongsTo(QStringLiteral("blorp"), UnitConverter::categories()[0]),
                 Error);
}

TEST(UnitConverter, PressureBasisMarks)
{
    struct Row
    {
        const char *text;
        const char *unit;
        PressureBasis basis;
    };
    for (const Row &r : std::vector<Row>{{"MPa(G)", "MPa", PressureBasis::Gauge},
                                         {" kPa ( a ) ", "kPa", PressureBasis::Absolute},
                                         {"kgf/cm2（g）", "kgf/cm2", PressureBasis::Gauge},
                                         {"barg", "bar", PressureBasis::Gauge},
                                         {"psia", "psi", PressureBasis::Absolute},
                                         {"bar", "bar", PressureBasis::Unmarked},
                                         {"(G)", "(G)", PressureBasis::Unmarked},
                                         {"kg", "kg", PressureBasis::Unmarked}}) {
        const UnitText t = splitPressureBasis(QString::fromUtf8(r.text));
        EXPECT_EQ(t.unit, QString::fromUtf8(r.unit)) << r.text;
        EXPECT_EQ(t.basis, r.basis) << r.text;
    }
    EXPECT_EQ(formatValue(50 * 1000.0 / 60), QStringLiteral("833.3333333"));
    EXPECT_EQ(formatValue(-0.0), QStringLiteral("0"));
}

TEST(UnitCalcCommandLine, PrintsTheValueOrSaysWhy)
{
    struct Row
    {
        QStringList args;
        int exitCode;
        QString out;     // exact standard output
        QString errPart; // part of standard error
    };
    const std::vector<Row> rows = {
        {{"50", "m3/h", "L/min"}, 0, "833.3333333\n", ""},
        {{"-40", "°C", "°F"}, 0, "-40\n", ""},
        {{"0.5", "MPa(G)", "kPa(A)", "--patm", "95"}, 0, "595\n", ""},
        {{"--density", "800", "2", "cP", "cSt"}, 0, "2.5\n", ""},
        {{"1", "foo", "m"}, 1, "", "foo"},
        {{"1", "m", "s"}, 1, "", "量纲不同"},
        {{"1", "m"}, 2, "", "VALUE FROM TO"},
        {{"abc", "m", "m"}, 2, "", "abc"},
        {{"1", "m", "m", "--frobnicate"}, 2, "", "--frobnicate"},
        {{"1", "kPa(G)", "kPa(A)", "--patm", "-3"}, 2, "", "--patm"},
        {{"1", "P", "cP"}, 0, "100\n", ""},
        {{"-300", "°C", "K"}, 1, "", "超出范围"},
        {{"-500", "°F", "°C"}, 1, "", "绝对零度"},
        {{"-5", "kPa(A)", "kPa(G)"}, 1, "", "超出范围"},
        {{"-200", "kPa(G)", "kPa(A)"}, 1, "", "超出范围"},
        {{"1e308", "MPa", "Pa"}, 1, "", "超出范围"},
        {{"-273.15", "°C", "K"}, 0, "0\n", ""},
        {{"-50", "kPa(G)", "kPa(A)"}, 0, "51.325\n", ""},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.args.join(' ').toStdString());
        QProcess p;
        p.start(QStringLiteral(TESSARIN_BIN_DIR "/unitcalc"), row.args);
        ASSERT_TRUE(p.waitForFinished(30000));
        EXPECT_EQ(p.exitCode(), row.exitCode);
        EXPECT_EQ(QString::fromUtf8(p.readAllStandardOutput()), row.out);
        const QString err = QString::fromUtf8(p.readAllStandardError());
        if (!row.errPart.isEmpty())
            EXPECT_TRUE(err.contains(row.errPart)) << err.toStdString();
        else
            EXPECT_TRUE(err.isEmpty()) << err.toStdString();
    }

    // Without arguments and without a display there is no window to open: the usage.
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(TESSARIN_BIN_DIR "/unitcalc"), {});
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), 2);
    EXPECT_TRUE(QString::fromUtf8(p.readAllStandardError()).contains("VALUE FROM TO"));
}
