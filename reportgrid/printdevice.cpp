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
