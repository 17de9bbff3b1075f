// Friction loss of water in a pipe, reported through ExportDouble.
void main()
{
    double d = 0.1;           // inner diameter, m
    double q = 36.0;          // flow, m3/h
    double v = velocity(q, d);
    double re = reynolds(998.2, v, d, 1.002e-3);
    double f = churchill(re, 0.045e-3 / d);
    ExportDouble("v", v);
    ExportDouble("re", re);
    ExportDouble("dp", darcydp(f, 100.0, d, 998.2, v));
    ExportDouble("tiny", 1e-7);
}
