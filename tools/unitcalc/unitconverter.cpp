#include "unitconverter.h"

#include "error.h"

#include <udunits2.h>

#include <QRegularExpression>

#include <cmath>

namespace tessarin {

namespace {

struct UnitDeleter
{
    void operator()(ut_unit *unit) const { ut_free(unit); }
};
using UnitPtr = std::unique_ptr<ut_unit, UnitDeleter>;

struct ConverterDeleter
{
    void operator()(cv_converter *converter) const { cv_free(converter); }
};
using ConverterPtr = std::unique_ptr<cv_converter, ConverterDeleter>;

QString quoted(const QString &text)
{
    return QStringLiteral("“%1”").arg(text);
}

// Full-width brackets and spaces as a Chinese input method types them.
QString normalised(const QString &text)
{
    QString s = text;
    s.replace(QChar(0xFF08), QLatin1Char('('));
    s.replace(QChar(0xFF09), QLatin1Char(')'));
    s.replace(QChar(0x3000), QLatin1Char(' '));
    return s.trimmed();
}

} // namespace

UnitText splitPressureBasis(const QString &text)
{
    static const QRegularExpression marked(
        QStringLiteral("^(.*\\S)\\s*\\(\\s*([GgAa]|表|绝)\\s*\\)$"));
    static const QRegularExpression suffixed(QStringLiteral("^(bar|psi)([ga])$"));
    const QString s = normalised(text);
    if (const auto m = marked.match(s); m.hasMatch()) {
        const QString mark = m.captured(2).toUpper();
        const bool gauge = mark == QLatin1String("G") || mark == QStringLiteral("表");
        return {m.captured(1), gauge ? PressureBasis::Gauge : PressureBasis::Absolute};
    }
    if (const auto m = suffixed.match(s); m.hasMatch())
        return {m.captured(1),
                m.captured(2) == QLatin1String("g") ? PressureBasis::Gauge
                                                    : PressureBasis::Absolute};
    return {s, PressureBasis::Unmarked};
}

struct UnitConverter::Impl
{
    ut_system *system = nullptr;

    ~Impl()
    {
        if (system)
            ut_free_system(system);
    }

    UnitPtr parse(const QString &text, const QString &side) const
    {
        const QString s = normalised(text);
        if (s.isEmpty())
            throw Error(QStringLiteral("%1为空：请输入单位").arg(side));
        const QByteArray utf8 = s.toUtf8();
        UnitPtr unit(ut_parse(system, utf8.constData(), UT_UTF8));
        if (!unit)
            throw Error(QStringLiteral("%1%2无法识别：udunits2 单位库中没有这个单位或写法")
                            .arg(side, quoted(s)));
        return unit;
    }

    UnitPtr parseExpression(const char *expression) const
    {
        UnitPtr unit(ut_parse(system, expression, UT_UTF8));
        if (!unit)
            throw Error(QStringLiteral("udunits2 单位库不完整：无法解析“%1”")
                            .arg(QString::fromUtf8(expression)));
        return unit;
    }

    static double apply(const ut_unit *from, const ut_unit *to, double value)
    {
        ConverterPtr converter(
            ut_get_converter(const_cast<ut_unit *>(from), const_cast<ut_unit *>(to)));
        if (!converter)
            throw Error(QStringLiteral("udunits2 could not build a converter"));
        return cv_convert_double(converter.get(), value);
    }
};

UnitConverter::UnitConverter()
    : d(std::make_unique<Impl>())
{
    // udunits2 reports the database's harmless overlaps on stderr; our errors say enough.
    ut_set_error_message_handler(ut_ignore);
    d->system = ut_read_xml(nullptr);
    if (!d->system) {
        const char *path = std::getenv("UDUNITS2_XML_PATH");
        throw Error(QStringLiteral("udunits2 单位库无法读取（%1，状态 %2）")
                        .arg(path ? QString::fromLocal8Bit(path) : QStringLiteral("默认位置"))
                        .arg(int(ut_get_status())));
    }
    // Symbols process engineers write that the database lacks, defined by its own units.
    static const char *const aliases[][2] = {{"cP", "centipoise"},
                                             {"P", "poise"},
                                             {"mmH2O", "mm H2O"},
                                             {"mH2O", "m H2O"},
                                             {"kWh", "kW h"}};
    for (const auto &alias : aliases) {
        const UnitPtr unit = d->parseExpression(alias[1]);
        if (ut_map_symbol_to_unit(alias[0], UT_UTF8, unit.get()) != UT_SUCCESS)
            throw Error(QStringLiteral("udunits2: symbol %1 could not be added")
                            .arg(QLatin1String(alias[0])));
    }
}

UnitConverter::~UnitConverter() = default;

const std::vector<UnitCategory> &UnitConverter::categories()
{
    static const std::vector<UnitCategory> list = [] {
        auto units = [](const char *text) {
            return QString::fromUtf8(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        };
        std::vector<UnitCategory> c;
        c.push_back({QStringLiteral("压力"),
                     QStringLiteral("Pa"),
                     units("MPa kPa Pa bar mbar kgf/cm2 atm mmHg mmH2O mH2O psi"),
                     true,
                     false});
        c.push_back(
            {QStringLiteral("温度"), QStringLiteral("K"), units("°C K °F degR"), false, false});
        c.push_back({QStringLiteral("体积流量"),
                     QStringLiteral("m3/s"),
                     units("m3/h L/min L/s m3/s m3/d L/h gallon/min ft3/min"),
                     false,
                     false});
        c.push_back({QStringLiteral("质量流量"),
                     QStringLiteral("kg/s"),
                     units("kg/h t/h kg/s kg/min t/d lb/h"),
                     false,
                     false});
        c.push_back({QStringLiteral("粘度"),
                     QStringLiteral("Pa·s"),
                     units("mPa·s cP Pa·s poise m2/s mm2/s cSt St"),
                     false,
                     true});
        c.push_back({QStringLiteral("密度"),
                     QStringLiteral("kg/m3"),
                     units("kg/m3 g/cm3 kg/L t/m3 lb/ft3"),
                     false,
                     false});
        c.push_back({QStringLiteral("长度"),
                     QStringLiteral("m"),
                     units("mm cm m km in ft yd"),
                     false,
                     false});
        c.push_back({QStringLiteral("面积"),
                     QStringLiteral("m2"),
                     units("m2 mm2 cm2 km2 hm2 in2 ft2 acre"),
                     false,
                     false});
        c.push_back({QStringLiteral("体积"),
                     QStringLiteral("m3"),
                     units("m3 L mL cm3 gallon ft3 bbl"),
                     false,
                     false});
        c.push_back(
            {QStringLiteral("功率"), QStringLiteral("W"), units("kW W MW hp"), false, false});
        c.push_back({QStringLiteral("能量"),
                     QStringLiteral("J"),
                     units("kJ J MJ kWh kcal cal Btu"),
                     false,
                     false});
        c.push_back({QStringLiteral("热负荷"),
                     QStringLiteral("W"),
                     units("kW W MW kcal/h Mcal/h kJ/h MJ/h Btu/h"),
                     false,
                     false});
        c.push_back({QStringLiteral("传热系数"),
                     QStringLiteral("W/(m2·K)"),
                     units("W/(m2·K) kW/(m2·K) kcal/(m2·h·°C) Btu/(h·ft2·°F)"),
                     false,
                     false});
        c.push_back({QStringLiteral("导热系数"),
                     QStringLiteral("W/(m·K)"),
                     units("W/(m·K) kcal/(m·h·°C) Btu/(h·ft·°F)"),
                     false,
                     false});
        return c;
    }();
    return list;
}

const UnitCategory *UnitConverter::category(const QString &name)
{
    for (const UnitCategory &c : categories())
        if (c.name == name)
            return &c;
    return nullptr;
}

double UnitConverter::convert(double value,
                              const QString &from,
                              const QString &to,
                              const ConversionConditions &conditions) const
{
    const double result = convertChecked(value, from, to, conditions);
    if (!std::isfinite(result))
        throw Error(QStringLiteral("超出范围：%1 %2 换算为 %3 得不到有限的数")
                        .arg(formatValue(value), normalised(from), normalised(to)));
    return result;
}

double UnitConverter::convertChecked(double value,
                                     const QString &from,
                                     const QString &to,
                                     const ConversionConditions &conditions) const
{
    const UnitText source = splitPressureBasis(from);
    const UnitText target = splitPressureBasis(to);
    const UnitPtr a = d->parse(source.unit, QStringLiteral("源单位"));
    const UnitPtr b = d->parse(target.unit, QStringLiteral("目标单位"));
    const QString pair
        = QStringLiteral("%1 与 %2").arg(quoted(normalised(from)), quoted(normalised(to)));
    if (!std::isfinite(value))
        throw Error(QStringLiteral("超出范围：数值 %1 不是有限的数").arg(formatValue(value)));
    // No temperature lies below absolute zero, whatever scale it is written in.
    const UnitPtr kelvin = d->parseExpression("K");
    if (ut_are_convertible(a.get(), kelvin.get()) && Impl::apply(a.get(), kelvin.get(), value) < 0)
        throw Error(QStringLiteral("超出范围：%1 %2 低于绝对零度")
                        .arg(formatValue(value), normalised(from)));

    if (source.basis != PressureBasis::Unmarked || target.basis != PressureBasis::Unmarked) {
        const UnitPtr pascal = d->parseExpression("Pa");
        for (const ut_unit *unit : {a.get(), b.get()})
            if (!ut_are_convertible(unit, pascal.get()))
                throw Error(QStringLiteral("%1：表压/绝压只用于压力单位").arg(pair));
        double pa = Impl::apply(a.get(), pascal.get(), value);
        const auto refuseBelowVacuum = [&](double absolutePa) {
            // An absolute pressure is never below vacuum.
            if (absolutePa < 0)
                throw Error(QStringLiteral("超出范围：%1 %2 低于真空（绝对压力为负）")
                                .arg(formatValue(value), normalised(from)));
        };
        if (source.basis == PressureBasis::Absolute)
            refuseBelowVacuum(pa);
        if (source.basis != PressureBasis::Unmarked && target.basis != PressureBasis::Unmarked
            && source.basis != target.basis) {
            if (!std::isfinite(conditions.atmospherePa) || conditions.atmospherePa <= 0)
                throw Error(QStringLiteral("当地大气压必须是正数"));
            pa += source.basis == PressureBasis::Gauge ? conditions.atmospherePa
                                                       : -conditions.atmospherePa;
            if (target.basis == PressureBasis::Absolute)
                refuseBelowVacuum(pa);
        }
        return Impl::apply(pascal.get(), b.get(), pa);
    }

    if (ut_are_convertible(a.get(), b.get()))
        return Impl::apply(a.get(), b.get(), value);

    // Dynamic viscosity over density is kinematic viscosity: nu = mu / rho.
    const UnitPtr dynamic = d->parseExpression("Pa s");
    const UnitPtr kinematic = d->parseExpression("m2/s");
    const bool aDyn = ut_are_convertible(a.get(), dynamic.get());
    const bool bDyn = ut_are_convertible(b.get(), dynamic.get());
    const bool aKin = ut_are_convertible(a.get(), kinematic.get());
    const bool bKin = ut_are_convertible(b.get(), kinematic.get());
    if ((aDyn && bKin) || (aKin && bDyn)) {
        const double rho = conditions.densityKgM3;
        if (!std::isfinite(rho) || rho <= 0)
            throw Error(
                QStringLiteral("%1：动力粘度与运动粘度换算需要密度（正数，kg/m3）").arg(pair));
        if (aDyn)
            return Impl::apply(
                kinematic.get(), b.get(), Impl::apply(a.get(), dynamic.get(), value) / rho);
        return Impl::apply(
            dynamic.get(), b.get(), Impl::apply(a.get(), kinematic.get(), value) * rho);
    }
    throw Error(QStringLiteral("%1 不能换算：两者量纲不同").arg(pair));
}

bool UnitConverter::belongsTo(const QString &unit, const UnitCategory &category) const
{
    const UnitText text = splitPressureBasis(unit);
    const UnitPtr u = d->parse(text.unit, QStringLiteral("单位"));
    if (text.basis != PressureBasis::Unmarked && !category.pressure)
        return false;
    const UnitPtr reference = d->parse(category.reference, QStringLiteral("单位"));
    if (ut_are_convertible(u.get(), reference.get()))
        return true;
    if (category.viscosity) {
        const UnitPtr kinematic = d->parseExpression("m2/s");
        return ut_are_convertible(u.get(), kinematic.get());
    }
    return false;
}

QString UnitConverter::canonical(const QString &unit) const
{
    const UnitPtr u = d->parse(splitPressureBasis(unit).unit, QStringLiteral("单位"));
    char buffer[256];
    const int n = ut_format(u.get(), buffer, sizeof buffer, UT_UTF8 | UT_DEFINITION);
    if (n < 0 || n >= int(sizeof buffer))
        return normalised(unit);
    return QString::fromUtf8(buffer, n);
}

QString formatValue(double value)
{
    if (value == 0)
        return QStringLiteral("0"); // no "-0"
    return QString::number(value, 'g', 10);
}

} // namespace tessarin
