#pragma once

#include <QString>
#include <QStringList>

#include <limits>
#include <memory>
#include <vector>

// Unit conversion for process engineers on the udunits2 unit database, with gauge and absolute
// pressure and the change between dynamic and kinematic viscosity.
namespace tessarin {

// One category of the converter: its Chinese name, a unit of its dimension that decides which
// units belong to it, and the units offered first in its lists (any other unit of the same
// dimension may be typed).
struct UnitCategory
{
    QString name;
    QString reference;
    QStringList units;
    // Pressure units take a gauge or absolute basis and the local atmospheric pressure.
    bool pressure = false;
    // Dynamic and kinematic viscosity convert into each other through the density.
    bool viscosity = false;
};

// The circumstances a conversion may need beyond the two units.
struct ConversionConditions
{
    double atmospherePa = 101325.0; // local atmospheric pressure, Pa (absolute)
    double densityKgM3 = std::numeric_limits<double>::quiet_NaN(); // NaN: not given
};

// Whether a pressure is read above vacuum or above the local atmosphere.
enum class PressureBasis { Unmarked, Gauge, Absolute };

// A unit text split into the udunits2 unit and its pressure basis: "MPa(G)", "kPa（A）",
// "barg", "psia" carry a basis; anything else is Unmarked.
struct UnitText
{
    QString unit;
    PressureBasis basis = PressureBasis::Unmarked;
};
UnitText splitPressureBasis(const QString &text);

class UnitConverter
{
public:
    // Reads the udunits2 database (UDUNITS2_XML_PATH or the installed one) and adds the few
    // engineering symbols it lacks (cP, P, mmH2O, mH2O, kWh). Throws Error when it cannot.
    UnitConverter();
    ~UnitConverter();
    UnitConverter(const UnitConverter &) = delete;
    UnitConverter &operator=(const UnitConverter &) = delete;

    static const std::vector<UnitCategory> &categories();
    static const UnitCategory *category(const QString &name);

    // `value` in unit `from` expressed in unit `to`. A gauge/absolute mark on both sides shifts
    // by the atmospheric pressure; an unmarked side takes the basis of the other. Dynamic and
    // kinematic viscosity convert through the density. Throws Error naming the unit and the side
    // for an empty or unknown unit, and both units for incompatible ones; and Error beginning
    // "超出范围" for a temperature below absolute zero, a negative absolute pressure (given, or
    // the result of a gauge pressure below vacuum) and a value or result that is not finite.
    double convert(double value,
                   const QString &from,
                   const QString &to,
                   const ConversionConditions &conditions = {}) const;

    // Whether `unit` (with an optional pressure basis) is a unit of `category`. Throws Error for
    // an empty or unknown unit.
    bool belongsTo(const QString &unit, const UnitCategory &category) const;

    // The unit as udunits2 understands it in its canonical symbols ("m3/h" -> "0.000277777777777778
    // m3·s-1"), for showing what a typed unit was taken to mean. Throws Error when unknown.
    QString canonical(const QString &unit) const;

private:
    double convertChecked(double value,
                          const QString &from,
                          const QString &to,
                          const ConversionConditions &conditions) const;
    struct Impl;
    std::unique_ptr<Impl> d;
};

// A converted value as the converter shows and prints it: up to 10 significant digits.
QString formatValue(double value);

} // namespace tessarin
