#pragma once
// The main window's status bar: three owner-drawn panels on one gradient band, the hint of the
// menu entry or tool button under the pointer in panel 0, the maker's web address in panel 2.
#include <QColor>
#include <QIcon>
#include <QStatusBar>

class QPainter;

namespace tessarin {

// Fills rows 0 .. height - 1 of `width` pixels, each in one colour running from `from` to `to`
// (0x00BBGGRR values); the channel of row y is from + (y * (to - from) / height) truncated
// toward zero, kept to its low 8 bits.
void DrawGradient(QPainter &canvas, int width, int height, quint32 from, quint32 to);

// The colour of row `y` as DrawGradient paints it.
QColor gradientColor(int y, int height, quint32 from, quint32 to);

// A colour text of the form "0x00BBGGRR" (or "$00BBGGRR", or decimal) as a 0x00BBGGRR value;
// 0 for text that is none of these.
quint32 colorFromText(const QString &text);

class TMainStatusBar : public QStatusBar
{
    Q_OBJECT

public:
    explicit TMainStatusBar(QWidget *parent = nullptr);

    // Panel widths in pixels, left to right; the last panel reaches to the bar's right end.
    QList<int> panelWidths() const { return m_widths; }
    // The panel's rectangle in the bar's coordinates.
    QRect panelRect(int panel) const;
    // Panel texts; panel 0 shows the current hint instead while there is one.
    QString panelText(int panel) const;
    void setPanelText(int panel, const QString &text);
    QColor panelTextColor(int panel) const { return m_colors.value(panel, Qt::black); }
    void setPanelTextColor(int panel, const QColor &color);
    // Drawn left of panel 2's text.
    void setPanelIcon(const QIcon &icon)
    {
        m_icon = icon;
        update();
    }

signals:
    // A double click anywhere on the bar, with the pointer's screen position.
    void doubleClicked(const QPoint &globalPos);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    void statMainDrawPanel(QPainter &canvas, int panel, const QRect &rect);

    QList<int> m_widths{250, 150, 50};
    QStringList m_texts{QString(), QString(), QString()};
    QList<QColor> m_colors{Qt::black, Qt::black, Qt::black};
    QIcon m_icon;
};

} // namespace tessarin
