// project.h - constants and helpers visible to every formula and program.
// Formulas are lower-cased before evaluation, so every name here is lower case.
// SI units unless a name says otherwise: m, s, kg, Pa, K, W; flows in m3/h where named so.

// Standard acceleration of gravity, m/s2 (CGPM 1901, ISO 80000-3).
const double gn = 9.80665;
// Standard atmosphere, Pa (ISO 2533; CGPM 1954).
const double atm = 101325.0;
// Absolute zero offset: T[K] = t[degC] + 273.15 (ITS-90).
const double t0 = 273.15;
// Universal gas constant, J/(mol K) (CODATA 2018, exact).
const double rgas = 8.314462618;

// Unit factors: multiply a value in the named unit to get SI (NIST SP 811, appendix B).
const double bar = 1.0e5;             // Pa per bar
const double kpa = 1.0e3;             // Pa per kPa
const double mpa = 1.0e6;             // Pa per MPa
const double psi = 6894.757293168;    // Pa per lbf/in2
const double mmhg = 133.322387415;    // Pa per mmHg (conventional)
const double mh2o = 9806.65;          // Pa per metre of water (conventional, 1000 kg/m3 * gn)
const double inch = 0.0254;           // m per inch
const double ft = 0.3048;             // m per foot
const double mm = 0.001;              // m per mm
const double usgpm = 0.22712470704;   // m3/h per US gallon per minute (3.785411784 L/min)
const double cp = 0.001;              // Pa s per centipoise
const double hp = 745.69987158227022; // W per mechanical horsepower (550 ft lbf/s)

// Kelvin from degrees Celsius: T = t + 273.15 (ITS-90).
double ctok(double t) { return t + t0; }
// Degrees Celsius from degrees Fahrenheit: t = (tf - 32) * 5/9 (NIST SP 811).
double ftoc(double tf) { return (tf - 32.0) * 5.0 / 9.0; }

// Pipe cross-section area, m2, from inner diameter d in m: a = pi d^2 / 4.
double area(double d) { return pi * d * d / 4.0; }
// Mean velocity, m/s, of a flow q in m3/h through a pipe of inner diameter d in m: v = q / 3600 / a.
double velocity(double q, double d) { return q / 3600.0 / area(d); }
// Reynolds number (-) from density rho kg/m3, velocity v m/s, diameter d m, viscosity mu Pa s:
// re = rho v d / mu (Reynolds 1883).
double reynolds(double rho, double v, double d, double mu) { return rho * v * d / mu; }

// Darcy friction factor (-) for Reynolds number re and relative roughness rr = eps/d,
// laminar through transition to fully rough flow, explicit:
// f = 8 [(8/re)^12 + (a + b)^-1.5]^(1/12), a = [2.457 ln(1/((7/re)^0.9 + 0.27 rr))]^16,
// b = (37530/re)^16 (Churchill, Chem. Eng. 84(24), 91-92, 1977).
double churchill(double re, double rr)
{
    double a = pow(2.457 * log(1.0 / (pow(7.0 / re, 0.9) + 0.27 * rr)), 16.0);
    double b = pow(37530.0 / re, 16.0);
    return 8.0 * pow(pow(8.0 / re, 12.0) + 1.0 / pow(a + b, 1.5), 1.0 / 12.0);
}

// Darcy friction factor (-) for turbulent flow, explicit:
// f = 0.25 / [log10(rr/3.7 + 5.74/re^0.9)]^2, 5e3 < re < 1e8, 1e-6 < rr < 1e-2
// (Swamee and Jain, J. Hydraul. Div. ASCE 102(5), 657-664, 1976).
double swameejain(double re, double rr)
{
    double l = log10(rr / 3.7 + 5.74 / pow(re, 0.9));
    return 0.25 / (l * l);
}

// Darcy friction factor (-) for turbulent flow solving
// 1/sqrt(f) = -2 log10(rr/3.7 + 2.51/(re sqrt(f))) by fixed-point iteration to 1e-12
// (Colebrook, J. ICE 11(4), 133-156, 1939).
double colebrook(double re, double rr)
{
    double x = -2.0 * log10(rr / 3.7 + 5.74 / pow(re, 0.9)); // x = 1/sqrt(f), Swamee-Jain start
    for (int i = 0; i < 100; i++) {
        double next = -2.0 * log10(rr / 3.7 + 2.51 * x / re);
        if (fabs(next - x) < 1e-12) { x = next; break; }
        x = next;
    }
    return 1.0 / (x * x);
}

// Frictional pressure drop, Pa, over a pipe of length l m and inner diameter d m:
// dp = f (l/d) rho v^2 / 2 (Darcy-Weisbach).
double darcydp(double f, double l, double d, double rho, double v) { return f * l / d * rho * v * v / 2.0; }
// Head, m of liquid, from a pressure difference dp Pa and density rho kg/m3: h = dp / (rho gn).
double head(double dp, double rho) { return dp / (rho * gn); }
// Hydraulic power, kW, of a flow q m3/h raised by head h m at density rho kg/m3:
// p = rho gn q h / 3600 / 1000.
double hydpower(double q, double h, double rho) { return rho * gn * q * h / 3600.0 / 1000.0; }
