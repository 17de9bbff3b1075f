#pragma once

// The widget that views one report page (a TReportPage it owns or is given): it paints the page
// at a zoom factor with the screen's marks on top and lets the user select cells, drag line
// heights and column edges, and type cell text into an in-place edit box. The page's fields and
// operations are reachable through the widget, which forwards them to the page.

#include "reportpage.h"

#include <QBrush>
#include <QFont>
#include <QHash>
#include <QPointer>
#include <QSet>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QIODevice;
class QJsonObject;
class QPaintDevice;
class QPlainTextEdit;
class QPrinter;

namespace tessarin {

// Modifier and button bits of a mouse key state, as the selection rules test them.
inline constexpr quint8 MK_LBUTTON = 0x01;
inline constexpr quint8 MK_RBUTTON = 0x02;
inline constexpr quint8 MK_SHIFT = 0x04;
inline constexpr quint8 MK_CONTROL = 0x08;
inline constexpr quint8 MK_MBUTTON = 0x10;

// One cell's text changed by the user, addressed by position: its line and its index in the
// line, with the text before and after.
struct TCellTextEdit
{
    int line = 0;
    int cell = 0;
    QString before;
    QString after;
};

class TReportControl : public QWidget
{
    Q_OBJECT
    // Kept for forms and stored pages; it does not change the control's behaviour.
    Q_PROPERTY(bool CreportEdit READ CreportEdit WRITE setCreportEdit)

    // The page viewed: owned (m_ownedPage set) or given, then it must outlive the view. Declared
    // before the field references below, which are bound to it.
    std::unique_ptr<TReportPage> m_ownedPage;
    TReportPage *m_page;

public:
    // A page of the printer layer's setup (page size of the installed printer, its paper; A4
    // portrait at the default size without one), margins from the millimetre defaults at the
    // screen's resolution, zoom 100.
    explicit TReportControl(QWidget *parent = nullptr);
    // A new page of `setup`; no printer is asked.
    explicit TReportControl(const PageSetup &setup, QWidget *parent = nullptr);
    // Views `page`, which must outlive the view.
    explicit TReportControl(TReportPage &page, QWidget *parent = nullptr);
    ~TReportControl() override;

    TReportPage &page() const { return *m_page; }

    // ---- the page's fields, as the page holds them (page pixels unless stated) ----
    std::vector<std::unique_ptr<TReportLine>> &FLineList;
    int &FPageWidth;
    int &FPageHeight;
    int &FLeftMargin;
    int &FRightMargin;
    int &FTopMargin;
    int &FBottomMargin;
    int &FLeftMargin1;
    int &FRightMargin1;
    int &FTopMargin1;
    int &FBottomMargin1;
    int &FWidthFromLine;
    bool &FStreamFlag;
    int &FStreamValue;
    int &FStreamMode;
    int &FPaperSize;
    int &FOrientation;
    int &FPaperLength;
    int &FPaperWidth;
    int &FSavedPageWidth;
    int &FSavedPageHeight;
    std::vector<std::vector<int>> &FCellWidths;
    int &FCellWidthRows;

    // ---- fields of the view ----
    bool FCreportEdit = false;
    // In selection order; not owning, and never holding a cell that was freed. Change it
    // through AddSelectedCell, RemoveSelectedCell and RemoveAllSelectedCell: a set beside it
    // answers IsCellSelected (rebuilt when their sizes differ, so a direct clear or append
    // stays safe).
    QList<TReportCell *> FSelectCells;
    TReportCell *FEditCell = nullptr; // cell the edit box writes into
    int FReportScale = 100;           // zoom in percent
    QPoint FMousePoint;               // press point; during a drag the guide position
    QPointer<QPlainTextEdit> FEditWnd;
    std::optional<QBrush> FEditBrush;
    std::optional<QFont> FEditFont;
    int FSavedScale = 100;
    // The cell most recently added to the selection; kept when the selection is cleared,
    // cleared only when the cell itself is freed.
    TReportCell *FLastSelectCell = nullptr;

    // ---- page, zoom and layout ----
    bool CreportEdit() const { return FCreportEdit; }
    void setCreportEdit(bool value);
    // Has no effect: the page size comes from CalcWndSize and SetWndSize.
    void SetPageSize(int width, int height);
    // The page's size (see TReportPage::CalcWndSize) at the zoom.
    void CalcWndSize();
    void SetWndSize(int width, int height);
    // Zoom in percent; values below 1 are ignored.
    void SetScale(int percent);
    // Margins in millimetres (left, top, right, bottom).
    void SetMargin(int left, int top, int right, int bottom);
    TRect GetMargin() const;
    // Heights of merged blocks, then every line's height and left edges, then tops and
    // rectangles; repaints the lines that moved.
    void UpdateLines();

    // ---- cells and selection ----
    TReportCell *CellFromPoint(const QPoint &point) const { return m_page->CellFromPoint(point); }
    TReportCell *CellFromRC(int line, int cell) const { return m_page->CellFromRC(line, cell); }
    // The positions of the selected cells, in selection order.
    TCellPositions selectedPositions() const;
    bool IsCellSelected(const TReportCell *cell) const;
    bool AddSelectedCell(TReportCell *cell);
    bool RemoveSelectedCell(TReportCell *cell);
    void RemoveAllSelectedCell();
    void SetCellFocus(int line, int cell);
    void SetCellSFocus(int firstLine, int firstCell, int lastLine, int lastCell);
    // The font of the first selected cell (owned by the caller), null without a selection.
    std::unique_ptr<QFont> getcellfont() const;

    // ---- edit box ----
    // Closes the edit box without storing its text (the live update already stored it).
    void FreeEdit();
    bool isEditing() const;
    // Opens the edit box on `cell` with its text kept and selected (F2, double click).
    void EditCell(TReportCell *cell);
    // Opens the edit box on `cell` with `typed` in place of its text (typing on a selection).
    void EditCellWith(TReportCell *cell, const QString &typed);
    // Confirms an open edit: its text stays in the cell and the box closes. Whatever is about
    // to read or replace the page's texts (a run, a load, a save, a page switch, closing) calls
    // it first, so a box can never write old text over new values. False when none was open.
    bool EndEdit();
    // Closes an open edit and puts back the text the cell had when the box opened.
    void CancelEdit();

    // ---- keyboard ----
    // Says whether a cell takes input: Tab, Enter, Delete and paste act on such cells only.
    // Unset, a cell takes input when it has a tag.
    std::function<bool(const TReportCell *)> isInputCell;
    bool takesInput(const TReportCell *cell) const;
    // The cell the keyboard acts on: the last selected cell while it is selected, else the
    // first selected cell; null without a selection.
    TReportCell *currentCell() const;
    // Makes `cell` the only selected cell and scrolls the page area to show it.
    void SelectOnly(TReportCell *cell);
    // The next (or previous) input cell after `from` in reading order (lines top to bottom,
    // cells left to right, covered cells left out); from the page's start (end) when `from` is
    // null; null when there is none.
    TReportCell *nextInputCell(const TReportCell *from, bool forward) const;
    // The texts of the selected cells in reading order: cells of a line joined by tabs, lines
    // by line breaks (a cell's own line breaks become blanks), as spreadsheets exchange them.
    QString SelectionText() const;
    // Fills input cells from `text` (cells split at tabs and line breaks, in order): the current
    // cell when it takes input, then the input cells after it. Returns the cells filled.
    int PasteText(const QString &text);
    // Empties the selected input cells; returns how many changed.
    int ClearSelectedInputs();

    // ---- view marks: drawn on screen only, never printed nor stored ----
    enum class CellMark { None, Stale, Failed, Defaulted };
    // Stale results are greyed; failed results carry a red corner and frame; inputs that took
    // their node's value carry a blue corner. `tip` is the cell's tool tip.
    void SetCellMark(const TReportCell *cell, CellMark mark, const QString &tip = QString());
    CellMark cellMark(const TReportCell *cell) const;
    QString cellMarkTip(const TReportCell *cell) const;
    // Drops every mark of `mark`'s kind (every mark for CellMark::None).
    void ClearCellMarks(CellMark mark = CellMark::None);
    int cellMarkCount(CellMark mark) const;
    // The tool tip of the cell under `point` (page pixels): its mark's reason, and the full
    // value when the cell shows a shortened one.
    QString toolTipAt(const QPoint &point) const;

    // ---- painting ----
    // Hook called while painting, after the page outline and before the corner marks and cells;
    // `painter` maps page pixels.
    virtual void DrawPrepare(QPainter &painter);
    // True for a cell whose text belongs on the screen only (a button): printing and PDF leave
    // its text out, keeping its borders and background.
    virtual bool isScreenOnlyText(const TReportCell &) const { return false; }
    // Paints the window region `area` of the page onto `painter` (window pixels; the page is
    // mapped at the zoom): the page as printed, then the screen's marks on top (page outline,
    // margin corners, selection). Used by paintEvent; also renders pages to images.
    void WMPaint(QPainter &painter, const QRect &area);

    // ---- mouse operations ----
    void StartMouseDrag(const QPoint &point);
    void StartMouseSelect(const QPoint &point, bool selectNow, quint8 keys);
    // One step of the rubber band: `point` in page pixels, `keys` the mouse key state.
    void MouseMoveHandler(const QPoint &point, quint8 keys);

    // ---- introspection for tests and benchmarks ----
    int lineCount() const { return m_page->lineCount(); }
    // Counts changes to the page's cells: lines or cells added, removed or reordered, a page
    // loaded, a tag set through SetTagID. Indexes over the cells (the workbook's tag index)
    // compare it to know when to rebuild. Code that writes FLineList, a line's FCells or a
    // cell's FTagID directly must call touchContent().
    quint64 contentGeneration() const { return m_page->contentGeneration(); }
    void touchContent() { m_page->touchContent(); }
    TReportLine *line(int index) const { return m_page->line(index); }
    // Cells PaintCell was called for during the last paint.
    int lastPaintedCellCount() const { return m_paintedCells; }
    // True while a selection or drag started by a left press is in progress.
    bool isMouseOperationActive() const { return m_mouse.mode != MouseMode::None; }
    // A rectangle in page pixels as window pixels at the current zoom (rounded outwards).
    QRect pageToWindow(const TRect &rect) const;
    // Called for a cell of the page being freed: drops every reference the view keeps to it.
    void cellDestroyed(TReportCell *cell);

    // ---- Page stream, cell pictures, cell-width table, printing and export ----
    // The page's operations (see TReportPage); printing in reportprint.cpp.

    // Writes the page as a version-3 page stream at byte `Position` of `Stream` (seekable). The
    // whole stream is built first, so a refused page (a text over 3000 bytes, a merge reference
    // to a cell not on the page) writes nothing. Throws Error.
    void SaveToStream(QIODevice &Stream, int Position);
    // Replaces the page by the page stream (version 1, 2 or 3) at byte `Position`. The stream is
    // parsed completely into new lines first; a malformed stream throws Error naming what is
    // wrong and at which byte offset, and leaves the page exactly as it was. A stream whose
    // magic word is unknown changes nothing and reports nothing.
    void LoadFromStream(QIODevice &Stream, int Position);
    // The page stream as a file of its own, written atomically.
    void SaveToFile(const QString &FileName);
    void LoadFromFile(const QString &FileName);
    // Loads any picture Qt reads into the cell (icons drawn onto a white bitmap). Throws Error
    // naming the file when it cannot be read; the cell is then unchanged.
    void SaveBmp(TReportCell *Cell, const QString &FileName);
    // The cell's picture (null when it has none).
    QImage *LoadBmp(TReportCell *Cell) const;
    void FreeBmp(TReportCell *Cell);
    // Fills FCellWidths from lines 0..N and then from FWidthFromLine to the last line; rows that
    // do not fit the 40 x 40 table (row 39 is reserved) and cells past the 40th are left out.
    void GetCellsWadth(int N);
    // Loads the page file, applies FCellWidths when it was filled from a page with as many
    // lines, and writes the file back. `Index` is not used.
    void SetFileCellWidth(const QString &FileName, int Index);
    void SetStreamCellWidth(QIODevice &Stream, int Index);
    // Draws the page onto the current sheet of the running print job (TPrintJob), scaled
    // isotropically into its printable area. Throws Error when no job is running.
    void PrintIt();
    // The same onto a painter already open on a printer or PDF page; the printable area is the
    // painter's device size.
    void PrintIt(QPainter &painter);
    // Gives `printer` the paper this page was loaded with (see applyPaperToPrinter); a page
    // without paper values of its own (paper size 0 or less and no dimensions, as a new page)
    // leaves the printer's paper as it is. Print jobs call it for each page they print.
    void ApplyPaper(QPrinter &printer) const;
    // Draws the page scaled isotropically into `Size` (device units) of the painter's device.
    void ExportToPicture(QPainter &DC, const QSize &Size);
    void ExportToPicture(QPaintDevice &DC, const QSize &Size);
    // Version (1, 2 or 3) of the page stream loaded last; 0 while none was loaded.
    int loadedStreamVersion() const { return m_page->loadedStreamVersion(); }

protected:
    // Views `page`, or the page `owned` when it is given (then `page` is not used); for views of
    // pages of a derived kind.
    TReportControl(std::unique_ptr<TReportPage> owned, TReportPage *page, QWidget *parent);

private:
    void drawPageOnto(QPainter &painter, const QSize &viewport);
    // The one paint path of screen, printer and PDF: the page painter with this view's
    // DrawPrepare and screen-only texts. `print` leaves out the grey edges of borders that are
    // not set.
    void paintPage(QPainter &painter, const TRect &area, bool print);
    void resizeToPage();
    void pageWasReset();
    // Page operations started here hold back the page's contentChanged until the view has
    // brought its selection up to date, then emit it once.
    struct ContentBatch
    {
        explicit ContentBatch(TReportControl &view)
            : view(view)
        {
            ++view.m_batch;
        }
        ~ContentBatch()
        {
            if (--view.m_batch == 0 && std::exchange(view.m_contentPending, false))
                emit view.contentChanged();
        }
        ContentBatch(const ContentBatch &) = delete;
        ContentBatch &operator=(const ContentBatch &) = delete;
        TReportControl &view;
    };
    void pageContentChanged();
    int m_batch = 0;
    bool m_contentPending = false;

signals:
    // Mouse events of the page in window pixels. A left press is reported once its selection or
    // drag has finished; a right press before the context-menu selection rule runs.
    void OnMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, const QPoint &pos);
    void OnMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, const QPoint &pos);
    void OnMouseMove(Qt::KeyboardModifiers modifiers, const QPoint &pos);
    void OnDblClick();
    // The user changed the text of `cell`: an edit confirmed with a different text, Delete,
    // a paste. Emitted once per cell, after its change.
    void cellEdited(TReportCell *cell);
    // The same user operation (an edit confirmed, Delete, a paste) as one list, emitted before
    // the cellEdited of its cells and the contentChanged that ends the operation.
    void textsEdited(const QList<tessarin::TCellTextEdit> &edits);
    // The page's content changed through the user or the API: text typed in the edit box,
    // a table editing operation, cell formats or attributes, a text, tag, script number or line
    // height set by position, a picture, the margins, a line height or column edge dragged, a
    // page stream loaded. Emitted once per operation, after the change is complete.
    void contentChanged();
    // A line height or column edge drag begins (the page is still as it was) and has ended
    // (after contentChanged, when it changed the page).
    void dragStarted();
    void dragFinished();

protected:
    void WMLButtonDown(const QPoint &point, quint8 keys);
    void WMLButtonDBLClk(const QPoint &point);
    void WMMouseMove(const QPoint &point);
    void WMContextMenu(const QPoint &point);
    void WMCOMMAND();
    void WMCtlColor();

    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    enum class MouseMode { None, Selecting, HeightDrag, WidthDrag };
    struct MouseState
    {
        MouseMode mode = MouseMode::None;
        TReportCell *anchor = nullptr; // selection anchor, or the dragged cell
        bool selecting = false;
        int minPos = 0; // drag limits of the guide coordinate
        int maxPos = 0;
        QList<TReportCell *> dragCells; // cells whose right edge a width drag moves
        bool guideVisible = false;
        quint8 pressKeys = 0;
    };
    // The left press being handled, reported through OnMouseDown once its operation ends.
    struct PressState
    {
        bool active = false;
        bool zoomOnly = false; // the press only restored zoom 100
        Qt::KeyboardModifiers modifiers;
        QPoint pos; // window pixels
    };

    void openEditBox(TReportCell *cell, const QString *typed = nullptr);
    // Emits textsEdited for `cells`, whose texts before the operation are `before`.
    void reportTextsEdited(const QList<TReportCell *> &cells, const QStringList &before);
    void closeEditBox(bool store);
    // Keys of the open edit box: Enter confirms and moves on, Ctrl+Enter breaks the line, Esc
    // cancels, Tab confirms and moves among input cells. True when the key was taken.
    bool editBoxKey(QKeyEvent *event);
    // The selection moved by one cell in a direction of the arrow keys.
    TReportCell *neighbourCell(const TReportCell *cell, int key) const;
    void scrollIntoView(const TReportCell *cell);
    void scrollPage(int pages);
    void paintMarks(QPainter &painter, const TRect &area) const;
    void placeEditBox();
    void finishMouseOperation();
    void finishDrag();
    void applyHeightDrag();
    void applyWidthDrag();
    void updateGuide(const QPoint &point);
    // The window strip under the drag guide line at its current position.
    QRect guideStrip() const;
    void invalidatePage(const TRect &rect);
    int clampDrag(int value) const;
    static quint8 keyState(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers);

    // Same cells as FSelectCells: membership in constant time.
    mutable QSet<const TReportCell *> m_selectedSet;
    const QSet<const TReportCell *> &selectedSet() const;

    MouseState m_mouse;
    QString m_editAccepted; // last edit-box text within the byte limit
    QString m_editOriginal; // the cell's text when the box opened
    struct MarkInfo
    {
        CellMark mark = CellMark::None;
        QString tip;
    };
    QHash<const TReportCell *, MarkInfo> m_marks;
    bool m_editGuard = false;
    bool m_destroying = false;
    int m_paintedCells = 0;
    PressState m_press;

public:
    // ---- Table editing ----
    // Implemented in reportedit.cpp: the page's operations on the selected cells. They refuse
    // silently when the selection does not fit; when they go ahead they close the in-place edit
    // box first (its text is stored already), since the cells under it may move or go away. The
    // positional accessors throw Error for a line or cell that does not exist.

    // Shows a warning with one OK button (text, caption). Unset, a QMessageBox is shown; tests
    // and headless tools install their own.
    std::function<void(const QString &text, const QString &caption)> messageBoxHook;

    // Lays `rows` lines of `cols` equal cells across the printable width of the page. On a page
    // that already has lines it only warns. Throws Error for fewer than one column or line.
    void NewTable(int cols, int rows);
    bool CanAdd() const;    // fewer than two cells selected
    bool CanInsert() const; // at least one cell selected
    bool CanSplit() const;  // exactly one cell selected, and it covers cells below it
    // Appends a format copy of the last line; a merged block reaching the last line grows.
    void AddLine();
    // Inserts a format copy of the first selected cell's line above it.
    void InsertLine();
    // Deletes every line holding a selected cell; blocks whose master goes are dissolved.
    void DeleteLine();
    // Appends a format copy of the last cell of the selected cell's line.
    void AddCell();
    // Inserts a format copy of the selected cell before it.
    void InsertCell();
    // Deletes the selected cells (a master with its whole block) and the lines left empty.
    void DeleteCell();
    // Merges a rectangle of selected cells into one cell; the texts of the lines' further cells
    // are lost, those of the lower lines are appended to the top cell's text.
    void CombineCell();
    // Dissolves the vertical merge of the selected master (horizontal merges stay).
    void SplitCell();
    // Splits the selected cell into up to `count` columns of about 12 pixels or more. Throws
    // Error for a count below 1.
    void VSplitCell(int count);
    // Removes all lines.
    void ResetContent();

    // Formats of every selected cell.
    void SetCellLines(bool left,
                      bool top,
                      bool right,
                      bool bottom,
                      int leftWidth,
                      int topWidth,
                      int rightWidth,
                      int bottomWidth);
    void SetCellAlign(int horz, int vert);
    void SetCellAlignHorzAlign(int horz);
    void SetCellAlignNewVertAlign(int vert);
    void SetCellColor(TColor text, TColor back);
    void SetCellTextColor(TColor color);
    void SetCellBackColor(TColor color);
    void SetCellDiagonal(unsigned diagonal);
    void SetCellFont(const LOGFONT &font);
    void SetCellDispFormt(const QString &format);
    // Text of every selected cell, without re-layout or repaint.
    void SetCellSumText(const QString &text);

    // Positions count covered cells like any other: a merged text sits at its master's position.
    int CountFLines() const;
    int CountFcells(int line) const;
    // Sets the text without re-layout or repaint.
    void SetCallText(int line, int cell, const QString &text);
    QString GetCallText(int line, int cell) const;
    void SetTagID(int line, int cell, const QString &tag);
    QString GetTagID(int line, int cell) const;
    void SetScriptID(int line, int cell, int id);
    int GetScriptID(int line, int cell) const;
    // Drag height of the line, without re-layout.
    void SetLineHegit(int line, int height);
};

// TReportPage's stream and dump functions for the page a view shows.
QByteArray savePageStream(TReportControl &page);
void loadPageStream(TReportControl &page, const QByteArray &bytes, int position = 0);
QJsonObject pageDumpJson(const TReportControl &page, int version);

} // namespace tessarin
