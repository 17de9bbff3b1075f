#pragma once

// The printer and screen facts the report grid needs (installed printer, printer page and
// resolution, device-mode paper fields, screen resolution), behind one replaceable layer.

#include "papersize.h"

#include <QSize>
#include <QString>

#include <cstdint>
#include <memory>

class QPrinter;

namespace tessarin {

// Bits of PrinterDeviceMode::dmFields.
inline constexpr std::uint32_t DM_ORIENTATION = 0x1;
inline constexpr std::uint32_t DM_PAPERSIZE = 0x2;

// The paper fields of the printer's device-mode record. Paper sizes are the Windows DMPAPER
// numbers (9 = A4); lengths and widths are in tenths of a millimetre; orientation 1 portrait,
// 2 landscape.
struct PrinterDeviceMode
{
    std::uint32_t dmFields = 0;
    std::int16_t dmOrientation = 1;
    std::int16_t dmPaperSize = 9;
    std::int16_t dmPaperLength = 0;
    std::int16_t dmPaperWidth = 0;
};

// Answers for the application's printer and the screen. The process holds one instance
// (printerLayer()); tests install their own with setPrinterLayer().
class PrinterLayer
{
public:
    virtual ~PrinterLayer() = default;

    // True when the platform lists at least one printer.
    virtual bool isInstalledPrinter() const = 0;
    // Printable area of the current printer page in printer pixels.
    virtual QSize printerPageSize() const = 0;
    virtual int printerDpiX() const = 0;
    virtual int printerDpiY() const = 0;

    // Names of the current printer device, its driver and port (empty when unknown).
    virtual QString deviceName() const = 0;
    virtual QString driverName() const = 0;
    virtual QString portName() const = 0;
    // The printer's device-mode record, or null when none can be obtained. The record stays
    // owned by the layer; after changing it call applyDeviceMode().
    virtual PrinterDeviceMode *deviceMode() = 0;
    // Pushes the paper fields of deviceMode() to the printer.
    virtual void applyDeviceMode() = 0;
    // The drawing surface of print jobs; null for layers that cannot print.
    virtual QPrinter *printer() = 0;

    // Pixels per inch of the screen page pixels are measured in.
    virtual int screenDpiX() const;
    virtual int screenDpiY() const;
};

// The layer in use; created on first use as the Qt printer layer.
PrinterLayer &printerLayer();
// Replaces the layer in use and returns the previous one (null when none had been made yet).
std::unique_ptr<PrinterLayer> setPrinterLayer(std::unique_ptr<PrinterLayer> layer);

// Whether any printer is installed (the layer's answer).
bool IsInstalledPrinter();

// The layer over QPrinter/QPrinterInfo: the default printer, its page layout and resolution.
class QtPrinterLayer : public PrinterLayer
{
public:
    QtPrinterLayer();
    ~QtPrinterLayer() override;

    bool isInstalledPrinter() const override;
    QSize printerPageSize() const override;
    int printerDpiX() const override;
    int printerDpiY() const override;
    QString deviceName() const override;
    QString driverName() const override;
    QString portName() const override;
    PrinterDeviceMode *deviceMode() override;
    void applyDeviceMode() override;
    QPrinter *printer() override;

private:
    QPrinter &ensurePrinter() const;

    mutable std::unique_ptr<QPrinter> m_printer;
    std::unique_ptr<PrinterDeviceMode> m_deviceMode;
};

// A layer with fixed answers, for tests and for headless tools. By default no printer is
// installed; the device-mode record is there until hasDeviceMode is cleared.
class FixedPrinterLayer : public PrinterLayer
{
public:
    bool installed = false;
    QSize pageSize{4800, 6600};
    int dpiX = 600;
    int dpiY = 600;
    int screenX = 96;
    int screenY = 96;
    bool hasDeviceMode = true;
    PrinterDeviceMode mode;
    QString device = QStringLiteral("Test Printer");
    int applyCount = 0;

    bool isInstalledPrinter() const override { return installed; }
    QSize printerPageSize() const override { return pageSize; }
    int printerDpiX() const override { return dpiX; }
    int printerDpiY() const override { return dpiY; }
    QString deviceName() const override { return installed ? device : QString(); }
    QString driverName() const override { return QString(); }
    QString portName() const override { return QString(); }
    PrinterDeviceMode *deviceMode() override;
    void applyDeviceMode() override { ++applyCount; }
    QPrinter *printer() override { return nullptr; }
    int screenDpiX() const override { return screenX; }
    int screenDpiY() const override { return screenY; }
};

} // namespace tessarin
