#include "printdevice.h"

#include "error.h"
#include "reportcontrol.h"

#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPrinter>

namespace tessarin {

QString Adevice;
QString Adriver;
QString Aport;
quintptr DeviceHandle = 0;
PrinterDeviceMode *DevMode = nullptr;

void prDeviceMode()
{
    PrinterLayer &layer = printerLayer();
    auto ask = [&layer] {
        Adevice = layer.deviceName();
        Adriver = layer.driverName();
        Aport = layer.portName();
        PrinterDeviceMode *mode = layer.deviceMode();
        DeviceHandle = reinterpret_cast<quintptr>(mode);
        return mode;
    };
    PrinterDeviceMode *mode = ask();
    // Asking a second time re-selects the current printer, which makes its record.
    if (!mode)
        mode = ask();
    // A record that cannot be had leaves no address behind: the previous one may belong to a
    // layer that is gone.
    DevMode = mode;
    if (!mode)
        throw Error(QStringLiteral("Could Not Initialize TdeviceMode Structure"));
}

PageSetup pageSetupFromPrinter()
{
    PrinterLayer &layer = printerLayer();
    PageSetup setup;
    setup.dpiX = layer.screenDpiX();
    const QSize page = layer.isInstalledPrinter() ? layer.printerPageSize() : QSize();
    if (!page.isEmpty() && layer.printerDpiX() > 0 && layer.printerDpiY() > 0) {
        setup.width = roundPixel(static_cast<double>(page.width()) / layer.printerDpiX()
                                 * layer.screenDpiX());
        setup.height = roundPixel(static_cast<double>(page.height()) / layer.printerDpiY()
                                  * layer.screenDpiY());
    }
    try {
        prDeviceMode();
    } catch (const Error &) {
        return setup;
    }
    setup.paperSize = DevMode->dmPaperSize;
    setup.orientation = DevMode->dmOrientation;
    setup.paperLength = DevMode->dmPaperLength;
    setup.paperWidth = DevMode->dmPaperWidth;
    return setup;
}

// ---- TPrintJob ----

namespace {
TPrintJob *g_currentJob = nullptr;
}

TPrintJob::TPrintJob(QPrinter &printer, const TReportControl *first)
    : m_printer(printer)
    , m_painter(std::make_unique<QPainter>())
{
    if (g_currentJob)
        throw Error(QStringLiteral("cannot start a print job while another one runs"));
    if (first)
        first->ApplyPaper(printer);
    if (!m_painter->begin(&printer)) {
        const QString target
            = printer.outputFileName().isEmpty() ? printer.printerName() : printer.outputFileName();
        throw Error(QStringLiteral("cannot start printing on \"%1\"").arg(target));
    }
    g_currentJob = this;
}

TPrintJob::~TPrintJob()
{
    if (m_painter->isActive())
        m_painter->end();
    if (g_currentJob == this)
        g_currentJob = nullptr;
}

void TPrintJob::NewPage(const TReportControl *next)
{
    if (!m_painter->isActive())
        throw Error(QStringLiteral("the print job has ended"));
    // A sheet's paper must be set before the sheet starts.
    if (next)
        next->ApplyPaper(m_printer);
    if (!m_printer.newPage())
        throw Error(QStringLiteral("the printer refused a new sheet"));
}

void TPrintJob::EndDoc()
{
    if (g_currentJob == this)
        g_currentJob = nullptr;
    if (m_painter->isActive() && !m_painter->end())
        throw Error(QStringLiteral("the print job could not be finished"));
}

TPrintJob *TPrintJob::current()
{
    return g_currentJob;
}

void applyPaperToPrinter(
    QPrinter &printer, int paperSize, int orientation, int paperLength, int paperWidth)
{
    const int id = pageSizeIdFromPaper(paperSize);
    if (id >= 0)
        printer.setPageSize(QPageSize(static_cast<QPageSize::PageSizeId>(id)));
    else if (paperWidth > 0 && paperLength > 0)
        printer.setPageSize(
            QPageSize(QSizeF(paperWidth / 10.0, paperLength / 10.0), QPageSize::Millimeter));
    else
        printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setPageOrientation(orientation == 2 ? QPageLayout::Landscape : QPageLayout::Portrait);
}

} // namespace tessarin
