#!/usr/bin/env python3
"""Independent calculation of the pump sheet as first packaged (33 formulas; pump33.tree).

Written from the method (mechanical-energy balance, Churchill friction, Darcy-Weisbach), not from
the program's formulas: water properties from IAPWS-IF97 equation 30, the IAPWS 1992 saturated
liquid density and the Vogel viscosity fit; the motor from the factor table and the standard
sizes. Run: python3 tests/calcpack/pump_check.py
"""
import math

G = 9.80665
MOTORS = [0.75, 1.1, 1.5, 2.2, 3, 4, 5.5, 7.5, 11, 15, 18.5, 22, 30, 37, 45, 55, 75, 90, 110,
          132, 160, 185, 200, 220, 250, 280, 315, 355]


def psat_water(t):
    n = [0, 0.11670521452767e4, -0.72421316598392e6, -0.17073846940092e2, 0.12020824702470e5,
         -0.32325550322333e7, 0.14915108613530e2, -0.48232657361591e4, 0.40511340542057e6,
         -0.23855557567849, 0.65017534844798e3]
    T = t + 273.15
    th = T + n[9] / (T - n[10])
    A = th * th + n[1] * th + n[2]
    B = n[3] * th * th + n[4] * th + n[5]
    C = n[6] * th * th + n[7] * th + n[8]
    return (2 * C / (-B + math.sqrt(B * B - 4 * A * C))) ** 4 * 1000


def rho_water(t):
    tau = 1 - (t + 273.15) / 647.096
    b = [1.99274064, 1.09965342, -0.510839303, -1.75493479, -45.5170352, -6.74694450e5]
    e = [1 / 3, 2 / 3, 5 / 3, 16 / 3, 43 / 3, 110 / 3]
    return 322 * (1 + sum(bi * tau ** ei for bi, ei in zip(b, e)))


def mu_water(t):
    return 0.02414 * 10 ** (247.8 / (t + 273.15 - 140))


def churchill(re, rr):
    a = (2.457 * math.log(1 / ((7 / re) ** 0.9 + 0.27 * rr))) ** 16
    b = (37530 / re) ** 16
    return 8 * ((8 / re) ** 12 + (a + b) ** -1.5) ** (1 / 12)


DEFAULTS = dict(QNOR=50, KQ=1.10, TOP=20, RHO=998.2, VIS=1.002, PVAP=2.339, PATM=101.325,
                GRAV=G, EPS=0.046, ZPUMP=0.5, P1=0, ZS=3.0, DS=100, LS=10, LES=8, DPSE=2,
                P2=0.5, ZD=15, DD=81, LD=80, LED=30, DPCV=70, DPEQ=50, DPFM=20,
                NPSHR=3.0, NPSHM=0.6, EFF=65, KH=1.05, NRPM=2950, NSTG=1)


def line(q, rho, mu, eps, d, length, le):
    v = q / 3600 / (math.pi / 4 * (d / 1000) ** 2)
    re = rho * v * (d / 1000) / (mu / 1000)
    f = churchill(re, eps / d)
    dp = f * (length + le) / (d / 1000) * rho * v * v / 2 / 1000  # kPa
    return v, re, f, dp


def pump(**over):
    c = dict(DEFAULTS, **over)
    rho, g = c["RHO"], c["GRAV"]
    q = c["QNOR"] * c["KQ"]
    vs, res, fs, dps = line(q, rho, c["VIS"], c["EPS"], c["DS"], c["LS"], c["LES"])
    vd, red, fd, dpd = line(q, rho, c["VIS"], c["EPS"], c["DD"], c["LD"], c["LED"])
    ps = c["P1"] + (rho * g * (c["ZS"] - c["ZPUMP"]) / 1000 - dps - c["DPSE"]) / 1000
    pd = c["P2"] + (rho * g * (c["ZD"] - c["ZPUMP"]) / 1000 + dpd + c["DPCV"] + c["DPEQ"]
                    + c["DPFM"]) / 1000
    dp = (pd - ps) * 1000
    h = dp * 1000 / (rho * g)
    hr = h * c["KH"]
    dpr = hr * rho * g / 1000
    psh = q / 3600 * dpr / (c["EFF"] / 100)
    k = 1.25 if psh <= 22 else 1.15 if psh <= 55 else 1.10
    pm = k * psh
    motor = next((m for m in MOTORS if m >= pm), None)
    ns = 3.65 * c["NRPM"] * math.sqrt(q / 3600) / (hr / c["NSTG"]) ** 0.75
    npsha = ((ps * 1000 + c["PATM"]) - c["PVAP"]) * 1000 / (rho * g)
    ok = 1 if npsha >= c["NPSHR"] + c["NPSHM"] else 0
    return dict(额定流量=q, 吸入流速=vs, 吸入雷诺数=res, 吸入摩擦系数=fs, 吸入管摩擦压降=dps,
                排出流速=vd, 排出雷诺数=red, 排出摩擦系数=fd, 排出管摩擦压降=dpd,
                泵吸入压力=ps, 泵排出压力=pd, 计算扬程=h, 额定扬程=hr, 轴功率=psh,
                电机功率系数=k, 电机计算功率=pm, 电机额定功率=motor, 比转数=ns,
                有效汽蚀余量=npsha, 汽蚀校核=ok)


CASES = {
    "defaults (water at 20 degC)": {},
    # A viscous oil in laminar flow on both lines.
    "viscous oil": dict(QNOR=30, RHO=880, VIS=120, PVAP=1.0, DS=100, DD=80, EFF=45),
    # Hot water from an open tank barely above the pump: NPSH fails.
    "hot water 95 degC": dict(TOP=95, RHO=rho_water(95), VIS=mu_water(95),
                              PVAP=psat_water(95), ZS=1.0),
}

if __name__ == "__main__":
    for name, over in CASES.items():
        print(name, over)
        for k, v in pump(**over).items():
            print(f"    {k} {v!r}")
