#include "qzchart.h"

#include "error.h"
#include "xmltree.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <limits>

namespace tessarin {

namespace {

const QString kChart = QStringLiteral("TqzChart");
const QString kSeries = QStringLiteral("Series");
const QColor kGrid(0xd8, 0xd8, 0xd8);
const QColor kPalette[] = {QColor(0x1f, 0x4e, 0xa8),
                           QColor(0xc0, 0x2a, 0x2a),
                           QColor(0x2a, 0x8a, 0x3a),
                           QColor(0xd0, 0x7a, 0x10),
                           QColor(0x7a, 0x3a, 0xa8),
                           QColor(0x10, 0x8a, 0x9a),
                           QColor(0x80, 0x60, 0x30),
                           QColor(0x50, 0x50, 0x50)};

QFont chartFont(double pixels, bool bold = false)
{
    QFont font(QStringLiteral("宋体"));
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(pixels))));
    font.setBold(bold);
    return font;
}

// Tick values for [lo, hi]: steps of 1, 2 or 5 times a power of ten, about `count` of them.
std::vector<double> ticks(double lo, double hi, int count)
{
    std::vector<double> out;
    if (!(hi > lo))
        return out;
    const double raw = (hi - lo) / std::max(1, count);
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    double step = power;
    for (double m : {1.0, 2.0, 5.0, 10.0}) {
        step = m * power;
        if (step >= raw)
            break;
    }
    if (!std::isfinite(step) || step <= 0)
        return out;
    // Counted, not summed: a step too small to change a large value would never end a sum.
    const double first = std::ceil(lo / step - 1e-9) * step;
    for (int i = 0; i <= 4 * count + 2; ++i) {
        const double v = first + i * step;
        if (!(v <= hi + step * 1e-9))
            break;
        if (!out.empty() && v == out.back())
            return {};
        out.push_back(std::abs(v) < step * 1e-9 ? 0.0 : v);
    }
    return out;
}

QString tickText(double v)
{
    return QString::number(v, 'g', 6);
}

void drawMarker(QPainter &painter, int kind, const QPointF &at, double size)
{
    const double h = size / 2;
    switch (kind % 3) {
    case 0:
        painter.drawEllipse(at, h, h);
        break;
    case 1:
        painter.drawRect(QRectF(at.x() - h, at.y() - h, size, size));
        break;
    default: {
        QPainterPath triangle;
        triangle.moveTo(at.x(), at.y() - h);
        triangle.lineTo(at.x() + h, at.y() + h);
        triangle.lineTo(at.x() - h, at.y() + h);
        triangle.closeSubpath();
        painter.drawPath(triangle);
    }
    }
}

QString withUnit(const QString &name, const QString &unit)
{
    return unit.isEmpty() ? name : name + QStringLiteral(" (") + unit + QLatin1Char(')');
}

// The number of attribute `name` of `e`, or Error naming the chart and its line.
double number(const XmlElement &e, const QString &name, int chart)
{
    QString text;
    bool ok = false;
    const double value = readAttribute(e, name, text) ? text.trimmed().toDouble(&ok) : 0;
    if (!ok || !std::isfinite(value))
        throw Error(QStringLiteral("chart %1 (line %2): attribute \"%3\" is not a number: \"%4\"")
                        .arg(chart)
                        .arg(e.line)
                        .arg(name, text));
    return value;
}

} // namespace

std::vector<double> TqzChart::inputValues() const
{
    std::vector<double> out;
    const int n = std::clamp(points, 2, kMaxChartPoints);
    out.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        out.push_back(i == n - 1 ? to : from + (to - from) * i / (n - 1));
    return out;
}

void paintChart(const TqzChart &chart, QPainter &painter, const QRectF &area)
{
    if (area.width() < 20 || area.height() < 20)
        return;
    painter.save();
    painter.setClipRect(area);
    painter.fillRect(area, Qt::white);
    const double em = std::clamp(area.height() / 22, 8.0, 14.0);
    const QFont text = chartFont(em);
    const QFont title = chartFont(em * 1.15, true);
    const QFontMetricsF fm(text);

    // Title, then a legend line under it.
    QRectF rest = area.adjusted(em * 0.5, em * 0.4, -em * 0.5, -em * 0.4);
    painter.setPen(Qt::black);
    painter.setFont(title);
    const double titleHeight = QFontMetricsF(title).height();
    painter.drawText(QRectF(rest.left(), rest.top(), rest.width(), titleHeight),
                     Qt::AlignHCenter | Qt::AlignVCenter,
                     chart.title);
    rest.setTop(rest.top() + titleHeight + em * 0.3);
    painter.setFont(text);
    double x = rest.left();
    for (qsizetype k = 0; k < chart.outputs.size(); ++k) {
        const QColor color = kPalette[k % std::size(kPalette)];
        const QString unit = k < chart.series.size() ? chart.series[k].unit : QString();
        const QString label = withUnit(chart.outputs[k], unit);
        const double y = rest.top() + fm.height() / 2;
        painter.setPen(QPen(color, std::max(1.0, em / 8)));
        painter.setBrush(color);
        painter.drawLine(QPointF(x, y), QPointF(x + em * 2, y));
        drawMarker(painter, int(k), QPointF(x + em, y), em * 0.5);
        painter.setPen(Qt::black);
        painter.setBrush(Qt::NoBrush);
        painter.drawText(QPointF(x + em * 2.4, rest.top() + fm.ascent()), label);
        x += em * 3.4 + fm.horizontalAdvance(label);
    }
    rest.setTop(rest.top() + fm.height() + em * 0.4);

    // The value range of every number computed.
    double lo = std::numeric_limits<double>::infinity();
    double hi = -lo;
    for (const TqzChartSeries &s : chart.series)
        for (double v : s.values)
            if (std::isfinite(v)) {
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
    const bool hasValues = lo <= hi;
    if (hasValues && hi - lo < 1e-12 * std::max(1.0, std::abs(hi))) {
        lo -= std::max(1.0, std::abs(lo) * 0.1);
        hi += std::max(1.0, std::abs(hi) * 0.1);
    }
    const std::vector<double> yTicks = hasValues ? ticks(lo, hi, 5) : std::vector<double>{};
    if (!yTicks.empty()) {
        lo = std::min(lo, yTicks.front());
        hi = std::max(hi, yTicks.back());
    }
    const double xlo = std::min(chart.from, chart.to);
    const double xhi = std::max(chart.from, chart.to);
    const std::vector<double> xTicks = ticks(xlo, xhi, 6);

    double labelWidth = 0;
    for (double v : yTicks)
        labelWidth = std::max(labelWidth, fm.horizontalAdvance(tickText(v)));
    const QRectF plot(rest.left() + fm.height() * 1.3 + labelWidth + em * 0.4,
                      rest.top(),
                      rest.width() - (fm.height() * 1.3 + labelWidth + em * 0.4) - em * 0.6,
                      rest.height() - fm.height() * 2.4);
    if (plot.width() < 10 || plot.height() < 10) {
        painter.restore();
        return;
    }
    const auto px = [&](double v) {
        return xhi > xlo ? plot.left() + (v - xlo) / (xhi - xlo) * plot.width() : plot.center().x();
    };
    const auto py = [&](double v) {
        return hi > lo ? plot.bottom() - (v - lo) / (hi - lo) * plot.height() : plot.center().y();
    };

    // Grid and tick labels.
    painter.setPen(QPen(kGrid, 1));
    for (double v : xTicks)
        painter.drawLine(QPointF(px(v), plot.top()), QPointF(px(v), plot.bottom()));
    for (double v : yTicks)
        painter.drawLine(QPointF(plot.left(), py(v)), QPointF(plot.right(), py(v)));
    painter.setPen(Qt::black);
    for (double v : xTicks) {
        const QString t = tickText(v);
        painter.drawText(QPointF(px(v) - fm.horizontalAdvance(t) / 2, plot.bottom() + fm.ascent() + 2),
                         t);
    }
    for (double v : yTicks) {
        const QString t = tickText(v);
        painter.drawText(QPointF(plot.left() - em * 0.3 - fm.horizontalAdvance(t),
                                 py(v) + fm.ascent() / 2 - 1),
                         t);
    }
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(plot);

    // Axis names.
    painter.drawText(QRectF(plot.left(), plot.bottom() + fm.height() + 2, plot.width(), fm.height()),
                     Qt::AlignHCenter | Qt::AlignTop,
                     withUnit(chart.input, chart.inputUnit));
    QStringList units;
    for (const TqzChartSeries &s : chart.series)
        if (!s.unit.isEmpty() && !units.contains(s.unit))
            units.append(s.unit);
    const QString yName = chart.outputs.size() == 1 ? withUnit(chart.outputs.first(), units.value(0))
                                                     : units.join(QStringLiteral(", "));
    painter.save();
    painter.translate(rest.left() + fm.ascent(), plot.center().y());
    painter.rotate(-90);
    painter.drawText(QRectF(-plot.height() / 2, -fm.ascent(), plot.height(), fm.height()),
                     Qt::AlignHCenter | Qt::AlignTop,
                     yName);
    painter.restore();

    if (!hasValues) {
        painter.drawText(plot, Qt::AlignCenter, QStringLiteral("尚未计算"));
        painter.restore();
        return;
    }

    // The lines, broken where a case gave no number, and their markers.
    const std::vector<double> xs = chart.inputValues();
    painter.setClipRect(plot.adjusted(-em, -em, em, em));
    for (qsizetype k = 0; k < chart.series.size(); ++k) {
        const QColor color = kPalette[k % std::size(kPalette)];
        const std::vector<double> &ys = chart.series[k].values;
        QPainterPath path;
        bool open = false;
        for (size_t i = 0; i < ys.size() && i < xs.size(); ++i) {
            if (!std::isfinite(ys[i])) {
                open = false;
                continue;
            }
            const QPointF at(px(xs[i]), py(ys[i]));
            if (open)
                path.lineTo(at);
            else
                path.moveTo(at);
            open = true;
        }
        painter.setPen(QPen(color, std::max(1.0, em / 8)));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(path);
        painter.setBrush(color);
        if (xs.size() <= 60)
            for (size_t i = 0; i < ys.size() && i < xs.size(); ++i)
                if (std::isfinite(ys[i]))
                    drawMarker(painter, int(k), QPointF(px(xs[i]), py(ys[i])), em * 0.45);
    }
    painter.restore();
}

QList<TqzChart> readChartsElement(const XmlElement &element)
{
    QList<TqzChart> charts;
    int index = 0;
    forEachChildElement(element, [&](const XmlElement &e) {
        if (e.name != kChart)
            return;
        ++index;
        TqzChart chart;
        const auto bad = [&](const QString &what) {
            return Error(QStringLiteral("chart %1 (line %2): %3").arg(index).arg(e.line).arg(what));
        };
        chart.page = static_cast<int>(number(e, QStringLiteral("Page"), index));
        QString text;
        readAttribute(e, QStringLiteral("Cells"), text);
        const QStringList cells = text.split(QLatin1Char(','));
        bool ok = cells.size() == 4;
        int c[4] = {0, 0, 0, 0};
        for (int i = 0; ok && i < 4; ++i)
            c[i] = cells[i].trimmed().toInt(&ok);
        if (!ok || chart.page < 0 || c[0] < 0 || c[1] < 0 || c[2] < c[0] || c[3] < c[1])
            throw bad(QStringLiteral("\"Page\" and \"Cells\" (first line, cell, last line, "
                                     "cell) do not name a rectangle of cells: \"%1\"")
                          .arg(text));
        chart.first = {c[0], c[1]};
        chart.last = {c[2], c[3]};
        readAttribute(e, QStringLiteral("Title"), chart.title);
        readAttribute(e, QStringLiteral("Input"), chart.input);
        readAttribute(e, QStringLiteral("InputUnit"), chart.inputUnit);
        chart.from = number(e, QStringLiteral("From"), index);
        chart.to = number(e, QStringLiteral("To"), index);
        if (std::abs(chart.from) > kMaxChartInput || std::abs(chart.to) > kMaxChartInput)
            throw bad(QStringLiteral("\"From\" and \"To\" must lie within ±%1")
                          .arg(kMaxChartInput));
        const double points = number(e, QStringLiteral("Points"), index);
        if (points < 2 || points > kMaxChartPoints || points != std::floor(points))
            throw bad(QStringLiteral("\"Points\" must be a whole number from 2 to %1")
                          .arg(kMaxChartPoints));
        chart.points = static_cast<int>(points);
        text.clear();
        readAttribute(e, QStringLiteral("Outputs"), text);
        chart.outputs = text.split(QLatin1Char(';'), Qt::SkipEmptyParts);
        if (chart.input.isEmpty() || chart.outputs.isEmpty()
            || chart.outputs.size() > kMaxChartOutputs)
            throw bad(QStringLiteral("a chart needs an \"Input\" and 1 to %1 \"Outputs\"")
                          .arg(kMaxChartOutputs));
        forEachChildElement(e, [&](const XmlElement &s) {
            if (s.name != kSeries)
                return;
            TqzChartSeries series;
            readAttribute(s, QStringLiteral("Name"), series.name);
            readAttribute(s, QStringLiteral("Unit"), series.unit);
            QString values;
            readAttribute(s, QStringLiteral("Values"), values);
            for (const QString &v : values.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
                bool isNumber = false;
                const double d = v.toDouble(&isNumber);
                series.values.push_back(isNumber && std::isfinite(d)
                                            ? d
                                            : std::numeric_limits<double>::quiet_NaN());
            }
            if (series.values.size() != static_cast<size_t>(chart.points))
                throw bad(QStringLiteral("series \"%1\" holds %2 values for %3 points")
                              .arg(series.name)
                              .arg(series.values.size())
                              .arg(chart.points));
            chart.series.append(series);
        });
        charts.append(chart);
    });
    return charts;
}

void writeChartsElement(QDomElement &element, const QList<TqzChart> &charts)
{
    QDomDocument doc = element.ownerDocument();
    while (!element.firstChild().isNull())
        element.removeChild(element.firstChild());
    for (const TqzChart &chart : charts) {
        QDomElement e = doc.createElement(kChart);
        e.setAttribute(QStringLiteral("Page"), chart.page);
        e.setAttribute(QStringLiteral("Cells"),
                       QStringLiteral("%1,%2,%3,%4")
                           .arg(chart.first.line)
                           .arg(chart.first.cell)
                           .arg(chart.last.line)
                           .arg(chart.last.cell));
        e.setAttribute(QStringLiteral("Title"), chart.title);
        e.setAttribute(QStringLiteral("Input"), chart.input);
        e.setAttribute(QStringLiteral("InputUnit"), chart.inputUnit);
        e.setAttribute(QStringLiteral("From"), QString::number(chart.from, 'g', 17));
        e.setAttribute(QStringLiteral("To"), QString::number(chart.to, 'g', 17));
        e.setAttribute(QStringLiteral("Points"), chart.points);
        e.setAttribute(QStringLiteral("Outputs"), chart.outputs.join(QLatin1Char(';')));
        for (const TqzChartSeries &series : chart.series) {
            QDomElement s = doc.createElement(kSeries);
            s.setAttribute(QStringLiteral("Name"), series.name);
            s.setAttribute(QStringLiteral("Unit"), series.unit);
            QStringList values;
            for (double v : series.values)
                values.append(std::isfinite(v) ? QString::number(v, 'g', 17) : QStringLiteral("-"));
            s.setAttribute(QStringLiteral("Values"), values.join(QLatin1Char(' ')));
            e.appendChild(s);
        }
        element.appendChild(e);
    }
}

} // namespace tessarin
