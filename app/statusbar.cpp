#include "statusbar.h"

#include <QMouseEvent>
#include <QPainter>

namespace tessarin {

namespace {

int channel(quint32 color, int shift)
{
    return int((color >> shift) & 0xFF);
}

int gradientChannel(int y, int height, int from, int to)
{
    // C++ division truncates toward zero, as the gradient's rule wants.
    return (from + y * (to - from) / height) & 0xFF;
}

// The band both ends of the status bar's gradient come from.
const char *const gradientFrom = "0x00E4D6D0";
const char *const gradientTo = "0x00C9ACA3";

} // namespace

QColor gradientColor(int y, int height, quint32 from, quint32 to)
{
    return QColor(gradientChannel(y, height, channel(from, 0), channel(to, 0)),
                  gradientChannel(y, height, channel(from, 8), channel(to, 8)),
                  gradientChannel(y, height, channel(from, 16), channel(to, 16)));
}

void DrawGradient(QPainter &canvas, int width, int height, quint32 from, quint32 to)
{
    for (int y = 0; y < height; ++y)
        canvas.fillRect(0, y, width, 1, gradientColor(y, height, from, to));
}

quint32 colorFromText(const QString &text)
{
    bool ok = false;
    quint32 value = 0;
    const QString t = text.trimmed();
    if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        value = t.mid(2).toUInt(&ok, 16);
    else if (t.startsWith(QLatin1Char('$')))
        value = t.mid(1).toUInt(&ok, 16);
    else
        value = t.toUInt(&ok, 10);
    return ok ? value : 0;
}

TMainStatusBar::TMainStatusBar(QWidget *parent)
    : QStatusBar(parent)
{
    setObjectName(QStringLiteral("statMain"));
    setSizeGripEnabled(false);
    setFixedHeight(20);
    // Colour of the bar itself (13216931); the panels paint over it.
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(0xA3, 0xAC, 0xC9));
    setPalette(pal);
    setAutoFillBackground(true);
    connect(this, &QStatusBar::messageChanged, this, [this] { update(panelRect(0)); });
}

QRect TMainStatusBar::panelRect(int panel) const
{
    int left = 0;
    for (int i = 0; i < panel && i < m_widths.size(); ++i)
        left += m_widths[i];
    const int right = panel == m_widths.size() - 1 ? qMax(width(), left + m_widths.last())
                                                   : left + m_widths.value(panel);
    // A two-pixel border above the panels, as the native bar has.
    return QRect(QPoint(left, 2), QPoint(right - 1, height() - 1));
}

QString TMainStatusBar::panelText(int panel) const
{
    if (panel == 0 && !currentMessage().isEmpty())
        return currentMessage();
    return m_texts.value(panel);
}

void TMainStatusBar::setPanelText(int panel, const QString &text)
{
    if (panel < 0 || panel >= m_texts.size())
        return;
    m_texts[panel] = text;
    update(panelRect(panel));
}

void TMainStatusBar::setPanelTextColor(int panel, const QColor &color)
{
    if (panel < 0 || panel >= m_colors.size() || m_colors[panel] == color)
        return;
    m_colors[panel] = color;
    update(panelRect(panel));
}

void TMainStatusBar::paintEvent(QPaintEvent *)
{
    QPainter canvas(this);
    for (int panel = 0; panel < m_widths.size(); ++panel)
        statMainDrawPanel(canvas, panel, panelRect(panel));
}

void TMainStatusBar::statMainDrawPanel(QPainter &canvas, int panel, const QRect &rect)
{
    // The band spans the whole bar whatever the panel, so the panels join without seams; over
    // height + 50 rows only part of the way to the second colour shows.
    canvas.save();
    canvas.setClipRect(rect);
    DrawGradient(canvas,
                 width(),
                 height() + 50,
                 colorFromText(QLatin1String(gradientFrom)),
                 colorFromText(QLatin1String(gradientTo)));
    int offset = 2;
    if (panel == 2) {
        if (!m_icon.isNull())
            m_icon.paint(&canvas, rect.left() + 4, rect.top(), 16, 16);
        offset = 25;
    }
    // A hint is always black; a panel's own text in its colour.
    canvas.setPen(panel == 0 && !currentMessage().isEmpty() ? QColor(Qt::black)
                                                            : m_colors.value(panel, Qt::black));
    canvas.setFont(font());
    const QFontMetrics metrics(font());
    canvas.drawText(QPoint(rect.left() + offset, rect.top() + 1 + metrics.ascent()),
                    panelText(panel));
    canvas.restore();
}

void TMainStatusBar::mouseDoubleClickEvent(QMouseEvent *event)
{
    emit doubleClicked(event->globalPosition().toPoint());
    QStatusBar::mouseDoubleClickEvent(event);
}

} // namespace tessarin
