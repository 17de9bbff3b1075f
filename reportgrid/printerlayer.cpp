#include "printerlayer.h"

#include "logfont.h"
#include "papersize.h"

#include <QPageLayout>
#include <QPageSize>
#include <QPrinter>
#include <QPrinterInfo>

#include <utility>

namespace tessarin {

namespace {

std::unique_ptr<PrinterLayer> &layerSlot()
{
    static std::unique_ptr<PrinterLayer> layer;
    return layer;
}

// Page pixels and cell fonts are measured at the screen resolution of the layer in use.
void answerScreenDpi()
{
    setScreenDpiSource([](bool horizontal) {
        return horizontal ? printerLayer().screenDpiX() : printerLayer().screenDpiY();
    });
}

} // namespace

int PrinterLayer::screenDpiX() const
{
    return primaryScreenDpi(true);
}

int PrinterLayer::screenDpiY() const
{
    return primaryScreenDpi(false);
}

PrinterLayer &printerLayer()
{
    auto &slot = layerSlot();
    if (!slot) {
        slot = std::make_unique<QtPrinterLayer>();
        answerScreenDpi();
    }
    return *slot;
}

std::unique_ptr<PrinterLayer> setPrinterLayer(std::unique_ptr<PrinterLayer> layer)
{
    answerScreenDpi();
    return std::exchange(layerSlot(), std::move(layer));
}

bool IsInstalledPrinter()
{
    return printerLayer().isInstalledPrinter();
}

// ---- QtPrinterLayer ----

QtPrinterLayer::QtPrinterLayer() = default;
QtPrinterLayer::~QtPrinterLayer() = default;

QPrinter &QtPrinterLayer::ensurePrinter() const
{
    if (!m_printer)
        m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    return *m_printer;
}

bool QtPrinterLayer::isInstalledPrinter() const
{
    return !QPrinterInfo::availablePrinterNames().isEmpty();
}

QSize QtPrinterLayer::printerPageSize() const
{
    QPrinter &p = ensurePrinter();
    return p.pageLayout().paintRectPixels(p.resolution()).size();
}

int QtPrinterLayer::printerDpiX() const
{
    return ensurePrinter().logicalDpiX();
}

int QtPrinterLayer::printerDpiY() const
{
    return ensurePrinter().logicalDpiY();
}

QString QtPrinterLayer::deviceName() const
{
    return ensurePrinter().printerName();
}

QString QtPrinterLayer::driverName() const
{
    return QString();
}

QString QtPrinterLayer::portName() const
{
    return ensurePrinter().outputFileName();
}

PrinterDeviceMode *QtPrinterLayer::deviceMode()
{
    if (!isInstalledPrinter())
        return nullptr;
    if (!m_deviceMode) {
        QPrinter &p = ensurePrinter();
        auto mode = std::make_unique<PrinterDeviceMode>();
        const QPageLayout layout = p.pageLayout();
        mode->dmFields = DM_ORIENTATION | DM_PAPERSIZE;
        mode->dmOrientation = layout.orientation() == QPageLayout::Landscape ? 2 : 1;
        mode->dmPaperSize = static_cast<std::int16_t>(
            paperFromPageSizeId(static_cast<int>(layout.pageSize().id())));
        const QSizeF mm = layout.pageSize().size(QPageSize::Millimeter);
        mode->dmPaperWidth = static_cast<std::int16_t>(mm.width() * 10 + 0.5);
        mode->dmPaperLength = static_cast<std::int16_t>(mm.height() * 10 + 0.5);
        m_deviceMode = std::move(mode);
    }
    return m_deviceMode.get();
}

void QtPrinterLayer::applyDeviceMode()
{
    if (!m_deviceMode)
        return;
    QPrinter &p = ensurePrinter();
    const PrinterDeviceMode &m = *m_deviceMode;
    if (m.dmFields & DM_PAPERSIZE) {
        const int id = pageSizeIdFromPaper(m.dmPaperSize);
        if (id >= 0)
            p.setPageSize(QPageSize(static_cast<QPageSize::PageSizeId>(id)));
        else if (m.dmPaperWidth > 0 && m.dmPaperLength > 0)
            p.setPageSize(QPageSize(QSizeF(m.dmPaperWidth / 10.0, m.dmPaperLength / 10.0),
                                    QPageSize::Millimeter));
    }
    if (m.dmFields & DM_ORIENTATION)
        p.setPageOrientation(m.dmOrientation == 2 ? QPageLayout::Landscape : QPageLayout::Portrait);
}

QPrinter *QtPrinterLayer::printer()
{
    return &ensurePrinter();
}

// ---- FixedPrinterLayer ----

PrinterDeviceMode *FixedPrinterLayer::deviceMode()
{
    return hasDeviceMode ? &mode : nullptr;
}

} // namespace tessarin
