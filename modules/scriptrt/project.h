// project.h - constants and helpers visible to every formula and program.
// Formulas are lower-cased before evaluation, so every name here is lower case.
// SI units unless a name says otherwise: m, s, kg, Pa, K, W; flows in m3/h where named so.
// A helper refuses an impossible argument with throw("why"): the formula then fails and the
// run logs that text, so no plausible-looking number comes out of an impossible case.

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

// True for a finite number: neither NaN nor infinite. Written with equality only, because the
// interpreter's ordered comparisons count NaN as greater than anything.
bool finite(double x) { return x == x && x - x == 0.0; }

// 1 when the check c holds (a number other than zero), else the evaluation fails with the
// reason why: a formula multiplied by require(check, "why") is computed only where the check
// holds, and its failure names the check's reason instead of a plausible number.
double require(double c, const string &in why)
{
    if (!finite(c) || c == 0.0)
        throw(why);
    return 1.0;
}

// Kelvin from degrees Celsius: T = t + 273.15 (ITS-90).
double ctok(double t) { return t + t0; }
// Degrees Celsius from degrees Fahrenheit: t = (tf - 32) * 5/9 (NIST SP 811).
double ftoc(double tf) { return (tf - 32.0) * 5.0 / 9.0; }

// Pipe cross-section area, m2, from inner diameter d in m: a = pi d^2 / 4.
double area(double d) { return pi * d * d / 4.0; }
// Mean velocity, m/s, of a flow q in m3/h through a pipe of inner diameter d in m: v = q / 3600 / a.
// A diameter that is not positive, or a negative flow, fails the evaluation.
double velocity(double q, double d)
{
    if (!finite(d) || d <= 0.0)
        throw("velocity: the inner diameter must be a positive number of metres (管内径必须为正数)");
    if (!finite(q) || q < 0.0)
        throw("velocity: the flow cannot be negative; check the flow entered here (流量不能为负)");
    return q / 3600.0 / area(d);
}
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

// Darcy friction factor (-) of a line that carries flow: churchill(re, rr) once re > 0 and
// 0 <= rr <= 0.05 are checked, so a zero flow or viscosity, a negative diameter or a roughness
// no pipe has fails with its reason instead of a division by zero or a meaningless number
// (the correlation is fitted to the Moody chart, whose rough end is eps/d = 0.05).
double friction(double re, double rr)
{
    if (!finite(re) || re <= 0.0)
        throw("friction: the Reynolds number must be positive; check flow, diameter and viscosity"
              " (雷诺数必须为正数)");
    if (!finite(rr) || rr < 0.0 || rr > 0.05)
        throw("friction: the relative roughness eps/d must lie between 0 and 0.05 (the range of"
              " the Moody chart); check the wall roughness and the diameter"
              " (相对粗糙度须在 0~0.05 之间)");
    return churchill(re, rr);
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

// ---- Water properties and motor sizing for the packaged pump calculation ----
// Each refuses an argument outside its range with a failed evaluation that says why, so an
// impossible case never shows a plausible number.

// Saturation pressure of water, kPa, at t degC, 0 <= t <= 373.946 (the critical point):
// theta = T + n9/(T - n10), A = theta^2 + n1 theta + n2, B = n3 theta^2 + n4 theta + n5,
// C = n6 theta^2 + n7 theta + n8, p = [2C / (-B + sqrt(B^2 - 4AC))]^4 MPa, T in K
// (IAPWS-IF97, region 4, equation 30).
double psat_water(double t)
{
    if (!finite(t) || t < 0.0 || t > 373.946)
        throw("psat_water: the temperature must lie between 0 and 373.946 degC for liquid water"
              " (温度超出范围)");
    const double n1 = 0.11670521452767e4, n2 = -0.72421316598392e6, n3 = -0.17073846940092e2;
    const double n4 = 0.12020824702470e5, n5 = -0.32325550322333e7, n6 = 0.14915108613530e2;
    const double n7 = -0.48232657361591e4, n8 = 0.40511340542057e6, n9 = -0.23855557567849;
    const double n10 = 0.65017534844798e3;
    double tk = t + t0;
    double th = tk + n9 / (tk - n10);
    double a = th * th + n1 * th + n2;
    double b = n3 * th * th + n4 * th + n5;
    double c = n6 * th * th + n7 * th + n8;
    return pow(2.0 * c / (-b + sqrt(b * b - 4.0 * a * c)), 4.0) * 1000.0;
}

// Density of saturated liquid water, kg/m3, at t degC, 0 <= t <= 373.946:
// rho = rhoc [1 + b1 tau^(1/3) + b2 tau^(2/3) + b3 tau^(5/3) + b4 tau^(16/3) + b5 tau^(43/3)
// + b6 tau^(110/3)], tau = 1 - T/Tc, Tc = 647.096 K, rhoc = 322 kg/m3
// (IAPWS revised supplementary release on saturation properties, 1992, equation 2.6).
double rho_water(double t)
{
    if (!finite(t) || t < 0.0 || t > 373.946)
        throw("rho_water: the temperature must lie between 0 and 373.946 degC for liquid water"
              " (温度超出范围)");
    double tau = 1.0 - (t + t0) / 647.096;
    return 322.0 * (1.0 + 1.99274064 * pow(tau, 1.0 / 3.0) + 1.09965342 * pow(tau, 2.0 / 3.0)
                    - 0.510839303 * pow(tau, 5.0 / 3.0) - 1.75493479 * pow(tau, 16.0 / 3.0)
                    - 45.5170352 * pow(tau, 43.0 / 3.0) - 6.74694450e5 * pow(tau, 110.0 / 3.0));
}

// One term of the pressure derivative of the IF97 region 1 Gibbs function:
// -n i a^(i-1) b^j, a = 7.1 - pi, b = tau - 1.222 (IAPWS-IF97, table 2 and table 4).
double if97_term(double n, double i, double j, double a, double b)
{
    return -n * i * pow(a, i - 1.0) * pow(b, j);
}

// Density of liquid water, kg/m3, at t degC and absolute pressure p kPa, IAPWS-IF97 region 1:
// v = pi gamma_pi R T / p, pi = p / 16.53 MPa, tau = 1386 K / T, R = 0.461526 kJ/(kg K)
// (IAPWS-IF97, equation 7 and table 3). Region 1 holds from 0 to 350 degC and from the
// saturation pressure up to 100 MPa; outside that the water is no compressed liquid of this
// formulation and the evaluation fails.
double rho_if97(double t, double p)
{
    if (!finite(t) || t < 0.0 || t > 350.0)
        throw("rho_if97: the temperature must lie between 0 and 350 degC (IF97 region 1)"
              " (温度超出范围)");
    if (!finite(p) || p > 100000.0 || p < psat_water(t) * (1.0 - 1e-12))
        throw("rho_if97: the pressure must lie between the saturation pressure and 100 MPa;"
              " below it the water boils (压力低于饱和蒸汽压或超出范围)");
    double tk = t + t0;
    double a = 7.1 - p / 16530.0;
    double b = 1386.0 / tk - 1.222;
    double g = 0.0;
    g += if97_term(0.28319080123804e-3, 1, -9, a, b);
    g += if97_term(-0.60706301565874e-3, 1, -7, a, b);
    g += if97_term(-0.18990068218419e-1, 1, -1, a, b);
    g += if97_term(-0.32529748770505e-1, 1, 0, a, b);
    g += if97_term(-0.21841717175414e-1, 1, 1, a, b);
    g += if97_term(-0.52838357969930e-4, 1, 3, a, b);
    g += if97_term(-0.47184321073267e-3, 2, -3, a, b);
    g += if97_term(-0.30001780793026e-3, 2, 0, a, b);
    g += if97_term(0.47661393906987e-4, 2, 1, a, b);
    g += if97_term(-0.44141845330846e-5, 2, 3, a, b);
    g += if97_term(-0.72694996297594e-15, 2, 17, a, b);
    g += if97_term(-0.31679644845054e-4, 3, -4, a, b);
    g += if97_term(-0.28270797985312e-5, 3, 0, a, b);
    g += if97_term(-0.85205128120103e-9, 3, 6, a, b);
    g += if97_term(-0.22425281908000e-5, 4, -5, a, b);
    g += if97_term(-0.65171222895601e-6, 4, -2, a, b);
    g += if97_term(-0.14341729937924e-12, 4, 10, a, b);
    g += if97_term(-0.40516996860117e-6, 5, -8, a, b);
    g += if97_term(-0.12734301741641e-8, 8, -11, a, b);
    g += if97_term(-0.17424871230634e-9, 8, -6, a, b);
    g += if97_term(-0.68762131295531e-18, 21, -29, a, b);
    g += if97_term(0.14478307828521e-19, 23, -31, a, b);
    g += if97_term(0.26335781662795e-22, 29, -38, a, b);
    g += if97_term(-0.11947622640071e-22, 30, -39, a, b);
    g += if97_term(0.18228094581404e-23, 31, -40, a, b);
    g += if97_term(-0.93537087292458e-25, 32, -41, a, b);
    return p / (p / 16530.0 * g * 0.461526 * tk);
}

// Viscosity of water, mPa s, at t degC and density rho kg/m3, IAPWS 2008 formulation without
// the critical enhancement: mu = mu0(Tr) mu1(Tr, Dr) / 1000, Tr = T / 647.096 K,
// Dr = rho / 322 kg/m3, mu0 = 100 sqrt(Tr) / sum(Hi / Tr^i),
// mu1 = exp(Dr sum(Hij (1/Tr - 1)^i (Dr - 1)^j)) (IAPWS R12-08, equations 11 and 12).
// The enhancement departs from 1 only near the critical point (645.91 to 650.77 K); the
// temperature is limited to 0 to 350 degC, where the result is the formulation's own.
double mu_iapws(double t, double rho)
{
    if (!finite(t) || t < 0.0 || t > 350.0)
        throw("mu_iapws: the temperature must lie between 0 and 350 degC (IAPWS 2008 without"
              " the critical enhancement) (温度超出范围)");
    if (!finite(rho) || rho <= 0.0 || rho > 1100.0)
        throw("mu_iapws: the density must lie between 0 and 1100 kg/m3 (密度超出范围)");
    double tr = (t + t0) / 647.096;
    double dr = rho / 322.0;
    double mu0 = 100.0 * sqrt(tr)
                 / (1.67752 + 2.20462 / tr + 0.6366564 / (tr * tr) - 0.241605 / (tr * tr * tr));
    double x = 1.0 / tr - 1.0;
    double y = dr - 1.0;
    double x2 = x * x, x3 = x2 * x, x4 = x3 * x, x5 = x4 * x;
    double y2 = y * y, y3 = y2 * y, y4 = y3 * y, y5 = y4 * y, y6 = y5 * y;
    double s = 0.520094 + 0.850895e-1 * x - 0.108374e1 * x2 - 0.289555 * x3
               + (0.222531 + 0.999115 * x + 0.188797e1 * x2 + 0.126613e1 * x3 + 0.120573 * x5) * y
               + (-0.281378 - 0.906851 * x - 0.772479 * x2 - 0.489837 * x3 - 0.257040 * x4) * y2
               + (0.161913 + 0.257399 * x) * y3 + (-0.325372e-1 + 0.698452e-1 * x3) * y4
               + 0.872102e-2 * x4 * y5 + (-0.435673e-2 * x3 - 0.593264e-3 * x5) * y6;
    return mu0 * exp(dr * s) / 1000.0;
}

// Density of liquid water, kg/m3, at t degC under the higher of the pressure pa kPa(A) (the
// atmosphere over an open vessel) and its own saturation pressure, 0 <= t <= 350:
// rho_if97(t, max(pa, psat_water(t))).
double rho_liquid(double t, double pa)
{
    if (!finite(t) || t < 0.0 || t > 350.0)
        throw("rho_liquid: the temperature must lie between 0 and 350 degC (IF97 region 1)"
              " (温度超出范围)");
    if (!finite(pa) || pa <= 0.0 || pa > 100000.0)
        throw("rho_liquid: the atmospheric pressure must be a positive number of kPa(A)"
              " (大气压必须为正数)");
    return rho_if97(t, fmax(pa, psat_water(t)));
}

// Viscosity of liquid water, mPa s, at t degC under the standard atmosphere or its saturation
// pressure, whichever is higher: mu_iapws(t, rho_liquid(t, 101.325)), 0 <= t <= 350 (IAPWS
// 2008 with the IAPWS-IF97 region 1 density; the formulation's own value in that range).
double mu_water(double t)
{
    if (!finite(t) || t < 0.0 || t > 350.0)
        throw("mu_water: the temperature must lie between 0 and 350 degC for liquid water"
              " (温度超出范围)");
    return mu_iapws(t, rho_liquid(t, 101.325));
}

// Motor power factor (-) on a shaft power p kW: 1.25 up to 22 kW, 1.15 above 22 up to 55 kW,
// 1.10 above 55 kW (HG/T 20570.5 practice for centrifugal pumps with electric motors).
double motor_factor(double p)
{
    if (!finite(p) || p <= 0.0)
        throw("motor_factor: the shaft power must be positive; check flow, head and efficiency"
              " (轴功率必须为正数)");
    if (p <= 22.0)
        return 1.25;
    if (p <= 55.0)
        return 1.15;
    return 1.10;
}

// Rated motor size, kW: the smallest standard rating not below p kW (GB/T 755 and IEC 60072
// series, 0.75 to 355 kW). Above 355 kW there is no standard low-voltage size: fails.
double motor_iec(double p)
{
    if (!finite(p) || p <= 0.0)
        throw("motor_iec: the motor power must be positive; check the shaft power and the factor"
              " (电机计算功率必须为正数)");
    if (p > 355.0)
        throw("motor_iec: above 355 kW there is no standard motor size; choose the motor by hand"
              " (超过 355 kW 无标准电机)");
    if (p <= 0.75) return 0.75;
    if (p <= 1.1) return 1.1;
    if (p <= 1.5) return 1.5;
    if (p <= 2.2) return 2.2;
    if (p <= 3.0) return 3.0;
    if (p <= 4.0) return 4.0;
    if (p <= 5.5) return 5.5;
    if (p <= 7.5) return 7.5;
    if (p <= 11.0) return 11.0;
    if (p <= 15.0) return 15.0;
    if (p <= 18.5) return 18.5;
    if (p <= 22.0) return 22.0;
    if (p <= 30.0) return 30.0;
    if (p <= 37.0) return 37.0;
    if (p <= 45.0) return 45.0;
    if (p <= 55.0) return 55.0;
    if (p <= 75.0) return 75.0;
    if (p <= 90.0) return 90.0;
    if (p <= 110.0) return 110.0;
    if (p <= 132.0) return 132.0;
    if (p <= 160.0) return 160.0;
    if (p <= 185.0) return 185.0;
    if (p <= 200.0) return 200.0;
    if (p <= 220.0) return 220.0;
    if (p <= 250.0) return 250.0;
    if (p <= 280.0) return 280.0;
    if (p <= 315.0) return 315.0;
    return 355.0;
}

// Rated motor size, kW: the smallest standard output not below p kW. Low voltage (0.38 kV),
// 0.12 to 355 kW: the preferred outputs of IEC 60072-1 and GB/T 755 (0.12, 0.18, 0.25, 0.37,
// 0.55, 0.75, 1.1, ... 315, 355). Above 355 kW the motor is a 6 or 10 kV machine, sized in
// the R20 preferred numbers (ISO 3, GB/T 321) from 400 to 10000 kW, the outputs of the 6/10 kV
// squirrel-cage series. Above 10000 kW there is no series size: fails.
double motor_size(double p)
{
    if (!finite(p) || p <= 0.0)
        throw("motor_size: the motor power must be positive; check the shaft power and the factor"
              " (电机计算功率必须为正数)");
    if (p > 10000.0)
        throw("motor_size: above 10000 kW there is no motor in the series; choose the motor by"
              " hand (超过 10000 kW 无标准电机)");
    if (p <= 0.12) return 0.12;
    if (p <= 0.18) return 0.18;
    if (p <= 0.25) return 0.25;
    if (p <= 0.37) return 0.37;
    if (p <= 0.55) return 0.55;
    if (p <= 355.0) return motor_iec(p);
    // R20 preferred numbers from 400 kW.
    if (p <= 400.0) return 400.0;
    if (p <= 450.0) return 450.0;
    if (p <= 500.0) return 500.0;
    if (p <= 560.0) return 560.0;
    if (p <= 630.0) return 630.0;
    if (p <= 710.0) return 710.0;
    if (p <= 800.0) return 800.0;
    if (p <= 900.0) return 900.0;
    if (p <= 1000.0) return 1000.0;
    if (p <= 1120.0) return 1120.0;
    if (p <= 1250.0) return 1250.0;
    if (p <= 1400.0) return 1400.0;
    if (p <= 1600.0) return 1600.0;
    if (p <= 1800.0) return 1800.0;
    if (p <= 2000.0) return 2000.0;
    if (p <= 2240.0) return 2240.0;
    if (p <= 2500.0) return 2500.0;
    if (p <= 2800.0) return 2800.0;
    if (p <= 3150.0) return 3150.0;
    if (p <= 3550.0) return 3550.0;
    if (p <= 4000.0) return 4000.0;
    if (p <= 4500.0) return 4500.0;
    if (p <= 5000.0) return 5000.0;
    if (p <= 5600.0) return 5600.0;
    if (p <= 6300.0) return 6300.0;
    if (p <= 7100.0) return 7100.0;
    if (p <= 8000.0) return 8000.0;
    if (p <= 9000.0) return 9000.0;
    return 10000.0;
}

// ---- Vendor pump curves: up to seven points (q1, y1) ... (q7, y7), n of them in use ----

// The i-th of seven values (i from 1 to 7).
double curve_pick(int i, double a1, double a2, double a3, double a4, double a5, double a6,
                  double a7)
{
    if (i == 1) return a1;
    if (i == 2) return a2;
    if (i == 3) return a3;
    if (i == 4) return a4;
    if (i == 5) return a5;
    if (i == 6) return a6;
    return a7;
}

// The number of points n in use, checked: a whole number from 3 to 7, with flows that rise
// strictly from point to point and are not negative.
int curve_points(double n, double q1, double q2, double q3, double q4, double q5, double q6,
                 double q7)
{
    if (!finite(n) || n < 3.0 || n > 7.0 || n != floor(n))
        throw("curve: the number of curve points must be a whole number from 3 to 7"
              " (曲线点数须为 3~7 的整数)");
    int m = int(n);
    if (!finite(q1) || q1 < 0.0)
        throw("curve: the flows of the curve cannot be negative (曲线流量不能为负)");
    for (int i = 2; i <= m; i++) {
        double a = curve_pick(i - 1, q1, q2, q3, q4, q5, q6, q7);
        double b = curve_pick(i, q1, q2, q3, q4, q5, q6, q7);
        if (!finite(b) || !(b > a))
            throw("curve: the flows of the curve must rise from point to point"
                  " (曲线流量须逐点增大)");
    }
    return m;
}

// The value y of a vendor curve at flow q, by straight lines between its points (no value
// outside the first and the last point: a curve is not extrapolated).
double curve_at(double q, double n, double q1, double q2, double q3, double q4, double q5,
                double q6, double q7, double y1, double y2, double y3, double y4, double y5,
                double y6, double y7)
{
    int m = curve_points(n, q1, q2, q3, q4, q5, q6, q7);
    double last = curve_pick(m, q1, q2, q3, q4, q5, q6, q7);
    if (!finite(q) || q < q1 || q > last)
        throw("curve: the flow lies outside the vendor curve; the curve is not extrapolated"
              " (流量超出泵曲线范围)");
    for (int i = 2; i <= m; i++) {
        double qb = curve_pick(i, q1, q2, q3, q4, q5, q6, q7);
        if (q <= qb) {
            double qa = curve_pick(i - 1, q1, q2, q3, q4, q5, q6, q7);
            double ya = curve_pick(i - 1, y1, y2, y3, y4, y5, y6, y7);
            double yb = curve_pick(i, y1, y2, y3, y4, y5, y6, y7);
            return ya + (yb - ya) * (q - qa) / (qb - qa);
        }
    }
    return curve_pick(m, y1, y2, y3, y4, y5, y6, y7);
}

// The flow, m3/h, where the system curve h = hst + k q^2 (m, q in m3/h) meets the vendor head
// curve (straight lines between its points): on each segment the quadratic
// k q^2 - s q + (hst - ha + s qa) = 0, s the segment's slope, is solved and the first root on
// the segment is taken, from the lowest flow up. No crossing on the curve fails.
double curve_cross(double hst, double k, double n, double q1, double q2, double q3, double q4,
                   double q5, double q6, double q7, double h1, double h2, double h3, double h4,
                   double h5, double h6, double h7)
{
    int m = curve_points(n, q1, q2, q3, q4, q5, q6, q7);
    if (!finite(hst) || !finite(k) || k < 0.0)
        throw("curve_cross: the system curve needs a finite static head and a friction"
              " coefficient that is not negative (系统曲线参数无效)");
    for (int i = 2; i <= m; i++) {
        double qa = curve_pick(i - 1, q1, q2, q3, q4, q5, q6, q7);
        double qb = curve_pick(i, q1, q2, q3, q4, q5, q6, q7);
        double ha = curve_pick(i - 1, h1, h2, h3, h4, h5, h6, h7);
        double hb = curve_pick(i, h1, h2, h3, h4, h5, h6, h7);
        double s = (hb - ha) / (qb - qa);
        double c = hst - ha + s * qa; // k q^2 - s q + c = 0
        double r = -1.0;
        if (k == 0.0) {
            if (s != 0.0)
                r = c / s;
        } else {
            double disc = s * s - 4.0 * k * c;
            if (disc >= 0.0) {
                double w = sqrt(disc);
                double lo = (s - w) / (2.0 * k);
                double hi = (s + w) / (2.0 * k);
                r = lo >= qa ? lo : hi;
            }
        }
        if (r >= qa && r <= qb)
            return r;
    }
    throw("curve_cross: the system curve does not meet the pump curve within its points"
          " (系统曲线与泵曲线无交点)");
    return 0.0;
}

// 1 when n points (a whole number from 3 to 7) with flows rising from a value not below zero
// make a usable vendor curve that reaches the flow qneed m3/h, else 0 (the check behind
// curve_at and curve_cross, for showing on a sheet).
double curve_valid(double n, double q1, double q2, double q3, double q4, double q5, double q6,
                   double q7, double qneed)
{
    if (!finite(n) || n < 3.0 || n > 7.0 || n != floor(n) || !finite(q1) || q1 < 0.0)
        return 0.0;
    int m = int(n);
    for (int i = 2; i <= m; i++) {
        double b = curve_pick(i, q1, q2, q3, q4, q5, q6, q7);
        if (!finite(b) || !(b > curve_pick(i - 1, q1, q2, q3, q4, q5, q6, q7)))
            return 0.0;
    }
    return curve_pick(m, q1, q2, q3, q4, q5, q6, q7) >= qneed ? 1.0 : 0.0;
}

// ---- Pipe sizes and fittings ----

// Inside diameter, mm, of a steel pipe of nominal size dn (DN, mm: 15, 20, 25, 32, 40, 50, 65,
// 80, 90, 100, 125, 150, 200, 250, 300, 350, 400, 450, 500, 600) and schedule sch (10, 20, 30,
// 40, 60, 80, 100, 120, 140, 160): outside diameter less twice the wall of ASME B36.10M
// (schedules 10, 20 and 30 from DN 200 up). A size the standard does not list fails.
// The place (0 to 19) of a nominal size in the list of pipe_id, or -1.
int pipe_dn_index(double dn)
{
    if (dn == 15.0) return 0;
    if (dn == 20.0) return 1;
    if (dn == 25.0) return 2;
    if (dn == 32.0) return 3;
    if (dn == 40.0) return 4;
    if (dn == 50.0) return 5;
    if (dn == 65.0) return 6;
    if (dn == 80.0) return 7;
    if (dn == 90.0) return 8;
    if (dn == 100.0) return 9;
    if (dn == 125.0) return 10;
    if (dn == 150.0) return 11;
    if (dn == 200.0) return 12;
    if (dn == 250.0) return 13;
    if (dn == 300.0) return 14;
    if (dn == 350.0) return 15;
    if (dn == 400.0) return 16;
    if (dn == 450.0) return 17;
    if (dn == 500.0) return 18;
    if (dn == 600.0) return 19;
    return -1;
}

// The k-th (0 to 19) of twenty values.
double pipe_pick(int k, double a0, double a1, double a2, double a3, double a4, double a5, double a6,
              double a7, double a8, double a9, double a10, double a11, double a12, double a13,
              double a14, double a15, double a16, double a17, double a18, double a19)
{
    if (k < 10)
        return k < 5 ? (k == 0 ? a0 : k == 1 ? a1 : k == 2 ? a2 : k == 3 ? a3 : a4)
                     : (k == 5 ? a5 : k == 6 ? a6 : k == 7 ? a7 : k == 8 ? a8 : a9);
    return k < 15 ? (k == 10 ? a10 : k == 11 ? a11 : k == 12 ? a12 : k == 13 ? a13 : a14)
                  : (k == 15 ? a15 : k == 16 ? a16 : k == 17 ? a17 : k == 18 ? a18 : a19);
}

// Inside diameter, mm, as pipe_id, or 0 when the standard lists no such pipe.
double pipe_listed(double dn, double sch)
{
    int k = pipe_dn_index(dn);
    double d = 0.0; // 0: the standard lists no such pipe
    if (k >= 0) {
        if (sch == 10.0)
            d = pipe_pick(k, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 211.58, 264.62, 314.66, 342.9,
                          393.7, 444.3, 495.3, 597.3);
        if (sch == 20.0)
            d = pipe_pick(k, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 206.4, 260.3, 311.1, 339.76,
                          390.56, 441.16, 488.94, 590.94);
        if (sch == 30.0)
            d = pipe_pick(k, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 205.02, 257.4, 307.04, 336.54,
                          387.34, 434.74, 482.6, 581.46);
        if (sch == 40.0)
            d = pipe_pick(k, 15.76, 20.96, 26.64, 35.08, 40.94, 52.48, 62.68, 77.92, 90.12, 102.26,
                          128.2, 154.08, 202.74, 254.46, 303.18, 333.34, 381, 428.46, 477.82,
                          575.04);
        if (sch == 60.0)
            d = pipe_pick(k, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 198.48, 247.6, 295.26, 325.42,
                          373.08, 418.9, 466.76, 560.78);
        if (sch == 80.0)
            d = pipe_pick(k, 13.84, 18.88, 24.3, 32.5, 38.14, 49.22, 58.98, 73.66, 85.44, 97.18,
                          122.24, 146.36, 193.7, 242.82, 288.84, 317.5, 363.52, 409.34, 455.62,
                          548.08);
        if (sch == 100.0)
            d = pipe_pick(k, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 188.92, 236.48, 280.92, 307.94,
                          354.02, 398.28, 442.92, 532.22);
        if (sch == 120.0)
            d = pipe_pick(k, 0, 0, 0, 0, 0, 0, 0, 0, 0, 92.04, 115.9, 139.76, 182.58, 230.12, 273,
                          300.02, 344.48, 387.14, 431.8, 517.96);
        if (sch == 140.0)
            d = pipe_pick(k, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 177.86, 222.2, 266.64, 292.1,
                          333.34, 377.66, 419.1, 505.26);
        if (sch == 160.0)
            d = pipe_pick(k, 11.74, 15.58, 20.7, 29.5, 34.02, 42.82, 53.94, 66.64, 0, 87.32, 109.54,
                          131.78, 173.08, 215.84, 257.16, 284.18, 325.42, 366.52, 407.98, 490.92);
    }
    return d;
}

double pipe_id(double dn, double sch)
{
    double d = pipe_listed(dn, sch);
    if (d > 0.0)
        return d;
    throw("pipe_id: ASME B36.10M lists no pipe of this nominal size and schedule; type the"
          " inside diameter instead (无此公称直径与壁厚等级的管子)");
    return 0.0;
}

// True for a whole number not below zero (a count).
bool is_count(double n) { return finite(n) && n >= 0.0 && n == floor(n); }

// Nominal pipe size, inches, of the nominal size dn (DN, mm) of the list of pipe_id.
double nps_of_dn(double dn)
{
    if (dn == 15.0) return 0.5;
    if (dn == 20.0) return 0.75;
    if (dn == 25.0) return 1;
    if (dn == 32.0) return 1.25;
    if (dn == 40.0) return 1.5;
    if (dn == 50.0) return 2;
    if (dn == 65.0) return 2.5;
    if (dn == 80.0) return 3;
    if (dn == 90.0) return 3.5;
    if (dn == 100.0) return 4;
    if (dn == 125.0) return 5;
    if (dn == 150.0) return 6;
    if (dn == 200.0) return 8;
    if (dn == 250.0) return 10;
    if (dn == 300.0) return 12;
    if (dn == 350.0) return 14;
    if (dn == 400.0) return 16;
    if (dn == 450.0) return 18;
    if (dn == 500.0) return 20;
    if (dn == 600.0) return 24;
    throw("nps_of_dn: no such nominal size (无此公称直径)");
    return 0.0;
}

// Nominal pipe size, inches, of a pipe: that of its nominal size dn when dn > 0, else read from
// its inside diameter d mm on the schedule 40 sizes, by straight lines between the sizes
// (continued beyond DN 15 and DN 600).
double nps_of(double dn, double d)
{
    if (dn > 0.0)
        return nps_of_dn(dn);
    if (!finite(d) || d <= 0.0)
        throw("nps_of: the inside diameter must be positive (管内径必须为正数)");
    double da = pipe_id(15.0, 40.0), na = 0.5;
    double db = pipe_id(20.0, 40.0), nb = 0.75;
    if (d > db) { da = db; na = nb; db = pipe_id(25.0, 40.0); nb = 1; }
    if (d > db) { da = db; na = nb; db = pipe_id(32.0, 40.0); nb = 1.25; }
    if (d > db) { da = db; na = nb; db = pipe_id(40.0, 40.0); nb = 1.5; }
    if (d > db) { da = db; na = nb; db = pipe_id(50.0, 40.0); nb = 2; }
    if (d > db) { da = db; na = nb; db = pipe_id(65.0, 40.0); nb = 2.5; }
    if (d > db) { da = db; na = nb; db = pipe_id(80.0, 40.0); nb = 3; }
    if (d > db) { da = db; na = nb; db = pipe_id(90.0, 40.0); nb = 3.5; }
    if (d > db) { da = db; na = nb; db = pipe_id(100.0, 40.0); nb = 4; }
    if (d > db) { da = db; na = nb; db = pipe_id(125.0, 40.0); nb = 5; }
    if (d > db) { da = db; na = nb; db = pipe_id(150.0, 40.0); nb = 6; }
    if (d > db) { da = db; na = nb; db = pipe_id(200.0, 40.0); nb = 8; }
    if (d > db) { da = db; na = nb; db = pipe_id(250.0, 40.0); nb = 10; }
    if (d > db) { da = db; na = nb; db = pipe_id(300.0, 40.0); nb = 12; }
    if (d > db) { da = db; na = nb; db = pipe_id(350.0, 40.0); nb = 14; }
    if (d > db) { da = db; na = nb; db = pipe_id(400.0, 40.0); nb = 16; }
    if (d > db) { da = db; na = nb; db = pipe_id(450.0, 40.0); nb = 18; }
    if (d > db) { da = db; na = nb; db = pipe_id(500.0, 40.0); nb = 20; }
    if (d > db) { da = db; na = nb; db = pipe_id(600.0, 40.0); nb = 24; }
    return na + (nb - na) * (d - da) / (db - da);
}

// Resistance coefficient (-) of one fitting by the 3-K method: K = k1/re + ki (1 + kd / Dn^0.3),
// Dn the nominal pipe size in inches (Darby, Chem. Eng. 106(7), 1999 and 108(4), 2001).
double darby3k(double k1, double ki, double kd, double re, double dn)
{
    if (!finite(re) || re <= 0.0)
        throw("darby3k: the Reynolds number must be positive (雷诺数必须为正数)");
    if (!finite(dn) || dn <= 0.0)
        throw("darby3k: the nominal size must be positive (公称直径必须为正数)");
    return k1 / re + ki * (1.0 + kd / pow(dn, 0.3));
}

// Sum of the resistance coefficients (-) of the fittings of one line at Reynolds number re and
// nominal pipe size d inches (nps_of); the counts: 90 and 45 degree long-radius elbows, tees
// (run through and through the branch, flanged), gate, globe, swing check and ball valves (full
// bore), entrances (sharp-edged), exits, reducers. 3-K constants of Darby (2001); a sharp-edged
// entrance K = 0.5 and an exit K = 1.0 (Crane TP-410, A-29); a reducer of one size step
// (diameter ratio 0.8, cone 30 degrees) K = 0.8 sin(15 deg) (1 - 0.8^2) (Crane TP-410, A-26,
// formula 1).
double fittings_k(double re, double d, double e90, double e45, double trun, double tbr,
                  double gate, double globe, double check, double ball, double ent, double ext,
                  double red)
{
    if (!(is_count(e90) && is_count(e45) && is_count(trun) && is_count(tbr) && is_count(gate)
          && is_count(globe) && is_count(check) && is_count(ball) && is_count(ent)
          && is_count(ext) && is_count(red)))
        throw("fittings_k: a count of fittings must be a whole number, not negative"
              " (管件数量须为非负整数)");
    return e90 * darby3k(800.0, 0.071, 4.2, re, d) + e45 * darby3k(500.0, 0.052, 4.0, re, d)
           + trun * darby3k(150.0, 0.05, 4.0, re, d) + tbr * darby3k(800.0, 0.28, 4.0, re, d)
           + gate * darby3k(300.0, 0.037, 3.9, re, d) + globe * darby3k(1500.0, 1.7, 3.6, re, d)
           + check * darby3k(1500.0, 0.46, 4.0, re, d) + ball * darby3k(300.0, 0.017, 3.5, re, d)
           + ent * 0.5 + ext * 1.0
           + red * 0.8 * sin(pi / 12.0) * (1.0 - 0.64);
}
