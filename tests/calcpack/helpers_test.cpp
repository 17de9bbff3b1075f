// The header functions of the pump calculation, evaluated through the interpreter as formulas
// are: reference values, the motor table's edges, and refusals that reach the caller whole.

#include "qzcomplier.h"

#include <gtest/gtest.h>

#include <cmath>

namespace tessarin {
namespace {

struct Value
{
    const char *expression;
    double expected;
    double relative; // tolerance
};

TEST(PumpHelpers, ReferenceValues)
{
    const Value cases[] = {
        {"psat_water(20)", 2.339214767, 1e-8}, // IAPWS-IF97 equation 30
        {"psat_water(95)", 84.6089384, 1e-8},
        {"psat_water(100)", 101.417978, 1e-7}, // IF97 verification table: 0.101418 MPa
        {"rho_water(20)", 998.1580523, 1e-9},  // IAPWS 1992 equation 2.6
        {"rho_water(100)", 958.35, 1e-4},      // tabulated saturated liquid
        // IF97 verification table, region 1 (nine digits)
        {"rho_if97(26.85, 3000)", 1 / 0.100215168e-2, 5e-9},
        {"rho_if97(26.85, 80000)", 1 / 0.971180894e-3, 5e-9},
        {"rho_if97(226.85, 3000)", 1 / 0.120241800e-2, 5e-9},
        {"rho_liquid(20, 101.325)", 998.2060924679477, 1e-12}, // python iapws
        {"rho_liquid(150, 101.325)", 917.006584409723, 1e-12}, // at its own 476 kPa
        {"mu_iapws(25, 998)", 0.889735100, 5e-9},              // IAPWS 2008 verification table
        {"mu_iapws(100, 1000)", 0.307883622, 5e-9},
        {"mu_iapws(160, 1)", 0.014538324, 5e-8},
        {"mu_water(20)", 1.0015968546230298, 1e-12},
        {"pipe_id(100, 40)", 102.26, 1e-12}, // ASME B36.10M: 114.3 - 2 x 6.02
        {"pipe_id(80, 80)", 73.66, 1e-12},
        {"pipe_id(600, 10)", 597.3, 1e-12},
        {"nps_of(0, 102.26)", 4, 1e-12}, // nominal size read off schedule 40
        {"nps_of(0, 100)", 3.5 + 0.5 * (100 - 90.12) / (102.26 - 90.12), 1e-12},
        {"nps_of(150, 1)", 6, 0},
        {"darby3k(800, 0.071, 4.2, 1e5, 4)", 0.008 + 0.071 * (1 + 4.2 / 1.515716566510398), 1e-12},
        {"require(2, \"unused\")", 1, 0},
        {"churchill(1e5, 1e-4)", 0.0184626245662801, 1e-12},
        {"churchill(1000, 1e-4)", 0.064, 0.01}, // laminar: 64/Re
        {"colebrook(1e5, 1e-4)", 0.0185138660774716, 1e-10},
        {"swameejain(1e5, 1e-4)", 0.0184524453075664, 1e-12},
        {"velocity(55, 0.1)", 1.945227082234276, 1e-12},
    };
    TqzComplier c;
    ASSERT_TRUE(c.isBound()) << c.bindError().toStdString();
    for (const Value &v : cases) {
        SCOPED_TRACE(v.expression);
        const QString r = c.Evaluate(QString::fromUtf8(v.expression));
        ASSERT_TRUE(c.Succeeded) << c.ErrorText.toStdString();
        EXPECT_NEAR(r.toDouble(), v.expected, std::fabs(v.expected) * v.relative);
    }
}

// Every standard size maps to itself, the smallest step above it to the next size; the factor
// changes just above 22 and 55 kW.
TEST(PumpHelpers, MotorTableEdges)
{
    const double sizes[] = {0.75, 1.1, 1.5, 2.2, 3,   4,   5.5, 7.5, 11,  15,  18.5, 22,  30,  37,
                            45,   55,  75,  90,  110, 132, 160, 185, 200, 220, 250,  280, 315, 355};
    TqzComplier c;
    const auto eval = [&c](const QString &e) {
        const QString r = c.Evaluate(e);
        EXPECT_TRUE(c.Succeeded) << e.toStdString() << ": " << c.ErrorText.toStdString();
        return r.toDouble();
    };
    EXPECT_EQ(eval("motor_iec(0.01)"), 0.75);
    for (size_t i = 0; i < std::size(sizes); ++i) {
        const QString p = QString::number(sizes[i], 'g', 17);
        EXPECT_EQ(eval("motor_iec(" + p + ")"), sizes[i]) << p.toStdString();
        if (i + 1 < std::size(sizes)) {
            EXPECT_EQ(eval("motor_iec(" + p + "+1e-9)"), sizes[i + 1]) << p.toStdString();
        }
    }
    EXPECT_EQ(eval("motor_iec(27.1196)"), 30);
    // The whole series: low voltage from 0.12 kW, then the 6/10 kV outputs up to 10000 kW.
    const double series[]
        = {0.12, 0.18, 0.25, 0.37, 0.55, 0.75, 355,  400,  450,  500,  560,  630,
           710,  800,  900,  1000, 1120, 1250, 1400, 1600, 1800, 2000, 2240, 2500,
           2800, 3150, 3550, 4000, 4500, 5000, 5600, 6300, 7100, 8000, 9000, 10000};
    EXPECT_EQ(eval("motor_size(0.01)"), 0.12);
    EXPECT_EQ(eval("motor_size(0.9)"), 1.1);
    for (size_t i = 0; i < std::size(series); ++i) {
        const QString p = QString::number(series[i], 'g', 17);
        EXPECT_EQ(eval("motor_size(" + p + ")"), series[i]) << p.toStdString();
        if (i + 1 < std::size(series) && series[i] != 0.75) { // 0.75 to 355: motor_iec above
            EXPECT_EQ(eval("motor_size(" + p + "+1e-9)"), series[i + 1]) << p.toStdString();
        }
    }
    const std::pair<const char *, double> factors[] = {
        {"motor_factor(0.1)", 1.25},
        {"motor_factor(22)", 1.25},
        {"motor_factor(22.01)", 1.15},
        {"motor_factor(55)", 1.15},
        {"motor_factor(55.01)", 1.10},
        {"motor_factor(1000)", 1.10},
    };
    for (const auto &[e, k] : factors)
        EXPECT_EQ(eval(e), k) << e;
}

// Impossible arguments fail the evaluation, and the caller gets the whole reason (the
// messages are longer than the interpreter's result buffer).
TEST(PumpHelpers, ImpossibleArgumentsFailWithTheirReason)
{
    const std::pair<const char *, const char *> cases[] = {
        {"motor_iec(355.01)", "above 355 kW there is no standard motor size"},
        {"motor_iec(1e6)", "无标准电机"},
        {"motor_iec(0)", "the motor power must be positive"},
        {"motor_iec(-5)", "the motor power must be positive"},
        {"motor_iec(sqrt(-1))", "the motor power must be positive"},
        {"motor_iec(pow(10, 400))", "the motor power must be positive"},
        {"motor_size(10000.01)", "above 10000 kW there is no motor in the series"},
        {"motor_size(0)", "the motor power must be positive"},
        {"motor_factor(0)", "the shaft power must be positive"},
        {"pipe_id(100, 30)", "ASME B36.10M lists no pipe of this nominal size and schedule"},
        {"pipe_id(110, 40)", "ASME B36.10M lists no pipe"},
        {"fittings_k(1e5, 4, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, -1)", "须为非负整数"},
        {"fittings_k(1e5, 4, 1.5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0)", "须为非负整数"},
        {"curve_at(90, 3, 0, 40, 80, 0, 0, 0, 0, 100, 90, 70, 0, 0, 0, 0)",
         "outside the vendor curve"},
        {"curve_at(10, 3, 0, 40, 30, 0, 0, 0, 0, 100, 90, 70, 0, 0, 0, 0)", "must rise from point"},
        {"curve_at(10, 8, 0, 40, 80, 0, 0, 0, 0, 100, 90, 70, 0, 0, 0, 0)", "from 3 to 7"},
        {"curve_cross(120, 0.01, 3, 0, 40, 80, 0, 0, 0, 0, 100, 90, 70, 0, 0, 0, 0)",
         "does not meet the pump curve"},
        {"motor_factor(sqrt(-1))", "the shaft power must be positive"},
        {"friction(0, 1e-4)", "the Reynolds number must be positive"},
        {"friction(-2000, 1e-4)", "the Reynolds number must be positive"},
        {"friction(1e5, -1e-4)", "the relative roughness eps/d must lie between 0 and 0.05"},
        {"friction(1e5, 0.0501)", "the relative roughness eps/d must lie between 0 and 0.05"},
        {"friction(1e5, 1e308)", "the relative roughness eps/d must lie between 0 and 0.05"},
        {"velocity(55, -0.1)", "the inner diameter must be a positive number"},
        {"velocity(55, 0)", "the inner diameter must be a positive number"},
        {"velocity(-1, 0.1)", "the flow cannot be negative"},
        {"psat_water(-1)", "between 0 and 373.946 degC"},
        {"psat_water(400)", "between 0 and 373.946 degC"},
        {"rho_water(374)", "between 0 and 373.946 degC"},
        {"mu_water(-0.5)", "between 0 and 350 degC"},
        {"mu_water(373.946)", "between 0 and 350 degC"}, // the critical point: no liquid
        {"mu_water(sqrt(-1))", "between 0 and 350 degC"},
        {"rho_if97(120, 101.325)", "below it the water boils"},
        {"rho_if97(20, 1e6)", "between the saturation pressure and 100 MPa"},
        {"rho_liquid(20, 0)", "the atmospheric pressure must be a positive"},
        {"mu_iapws(351, 500)", "between 0 and 350 degC"},
        {"mu_iapws(20, -1)", "the density must lie between 0 and 1100"},
        {"require(0, \"流量须大于 0\")", "流量须大于 0"},
        {"require(sqrt(-1), \"why\")", "why"},
    };
    TqzComplier c;
    for (const auto &[e, why] : cases) {
        SCOPED_TRACE(e);
        EXPECT_TRUE(c.Evaluate(QString::fromUtf8(e)).isEmpty());
        EXPECT_FALSE(c.Succeeded);
        EXPECT_TRUE(c.ErrorText.contains(QString::fromUtf8(why))) << c.ErrorText.toStdString();
    }
    // A refusal does not disturb the next evaluation.
    EXPECT_EQ(c.Evaluate("motor_iec(1)"), "1.1");
    EXPECT_TRUE(c.Succeeded);
}

} // namespace
} // namespace tessarin
