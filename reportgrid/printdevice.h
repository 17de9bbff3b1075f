#pragma once

// The application's printer as report pages use it: the current printer's names and
// device-mode record (paper size, orientation, paper length and width), and the print job whose
// current sheet PrintIt draws on.

#include "printerlayer.h"

#include <QString>

#include <memory>

class QPainter;
class QPrinter;

namespace tessarin {

class TReportControl;
struct PageSetup;

// Names of the current printer device, its driver and its port, as prDeviceMode found them.
extern QString Adevice;
extern QString Adriver;
extern QString Aport;
// Handle of the current printer's device-mode record (0 when there is none) and the record
// itself. The record belongs to the printer layer; it is valid until the layer is replaced.
extern quintptr DeviceHandle;
extern PrinterDeviceMode *DevMode;

// Makes the variables above describe the current printer. Throws Error "Could Not Initialize
// TdeviceMode Structure" when the printer has no device-mode record; DevMode is then null.
void prDeviceMode();

// The setup of a new page as the application's printer gives it: the printer page's printable
// area in page pixels at the screen's resolution and the printer's paper (through prDeviceMode);
// the default page size and A4 portrait while no printer or device-mode record is there.
// Margins are the defaults, at the screen's horizontal resolution.
PageSetup pageSetupFromPrinter();

// A print job: the painter open on a printer (a real one, or a PDF file through QPrinter's
// PdfFormat) from the first sheet to EndDoc. While it runs it is the job PrintIt() draws on.
// Jobs do not nest.
class TPrintJob
{
public:
    // Starts the job; the first sheet takes the paper of `first` when given (see
    // TReportControl::ApplyPaper). Throws Error when the printer cannot be opened or another
    // job runs.
    explicit TPrintJob(QPrinter &printer, const TReportControl *first = nullptr);
    // Ends the job if EndDoc was not called.
    ~TPrintJob();
    TPrintJob(const TPrintJob &) = delete;
    TPrintJob &operator=(const TPrintJob &) = delete;

    // Advances to the next sheet, which takes the paper of `next` when given, so each page of a
    // job prints on its own paper. Throws Error when the printer refuses.
    void NewPage(const TReportControl *next = nullptr);
    // Finishes the document (for PDF: writes the file).
    void EndDoc();

    QPainter &painter() { return *m_painter; }
    QPrinter &printer() { return m_printer; }
    // The running job, or null.
    static TPrintJob *current();

private:
    QPrinter &m_printer;
    std::unique_ptr<QPainter> m_painter;
};

// Gives `printer` the paper of a page: the Qt page size of DMPAPER number `paperSize` (or, when
// there is none, `paperWidth` x `paperLength` in tenths of a millimetre; A4 when neither is
// known) and the orientation (2 landscape, anything else portrait).
void applyPaperToPrinter(
    QPrinter &printer, int paperSize, int orientation, int paperLength, int paperWidth);

} // namespace tessarin
