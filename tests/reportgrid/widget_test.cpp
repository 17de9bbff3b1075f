// The page control driven by real mouse and key events on the offscreen platform.

#include "decimaltext.h"
#include "fonts.h"
#include "gridfixture.h"
#include "reportcontrol.h"
#include "textcodec.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QInputMethodEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>

using namespace tessarin;

namespace {

QPoint centre(const TReportCell *cell)
{
    return cell->cellRect().center();
}

// Where the edit box sits over a cell: the text rectangle's height, the text wrap width.
QRect editBoxRect(const TReportCell *cell)
{
    const QRect text = cell->textRect();
    return QRect(
        cell->FCellLeft + cell->FLeftMargin, text.top(), cell->textWrapWidth(), text.height());
}

// A press, moves and a release with the left button held throughout.
void drag(QWidget *w, QPoint from, QPoint to, Qt::KeyboardModifiers mods = {})
{
    QTest::mousePress(w, Qt::LeftButton, mods, from);
    const QPoint mid = (from + to) / 2;
    for (const QPoint p : {mid, to}) {
        QMouseEvent move(
            QEvent::MouseMove, p, w->mapToGlobal(p), Qt::NoButton, Qt::LeftButton, mods);
        QApplication::sendEvent(w, &move);
    }
    QTest::mouseRelease(w, Qt::LeftButton, mods, to);
}

// Types `text` as a user would: ASCII through key presses, other characters committed by the
// input method (as Chinese text arrives).
void type(QWidget *w, const QString &text)
{
    for (const QChar ch : text) {
        if (ch.unicode() < 0x80) {
            QTest::keyClick(w, char(ch.unicode()));
        } else {
            QInputMethodEvent commit;
            commit.setCommitString(QString(ch));
            QApplication::sendEvent(w, &commit);
        }
    }
}

void rightClick(QWidget *w, QPoint p)
{
    QTest::mousePress(w, Qt::RightButton, {}, p);
    QTest::mouseRelease(w, Qt::RightButton, {}, p);
    QContextMenuEvent menu(QContextMenuEvent::Mouse, p, w->mapToGlobal(p));
    QApplication::sendEvent(w, &menu);
}

} // namespace

class ReportControlWidgetTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<gridtest::ScopedPrinterLayer> m_layer;
    std::unique_ptr<TReportControl> m_control;

    TReportControl &page() { return *m_control; }
    TReportCell *at(int line, int cell) { return m_control->CellFromRC(line, cell); }
    int edgeX(int line, int cell) { return at(line, cell)->FCellLeft + at(line, cell)->FCellWidth; }
    QList<int> widths(int line)
    {
        QList<int> out;
        for (int i = 0; i < m_control->line(line)->cellCount(); ++i)
            out.append(at(line, i)->FCellWidth);
        return out;
    }
    void merge(int line, int cell, int owned)
    {
        at(line, cell)->AddOwnedCell(at(owned, cell));
        page().UpdateLines();
    }

private slots:
    void initTestCase() { installFontSubstitutions(); }

    void init()
    {
        m_layer = std::make_unique<gridtest::ScopedPrinterLayer>();
        m_control = std::make_unique<TReportControl>();
        gridtest::addLines(*m_control, 4, {100, 100, 100, 100});
        m_control->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_control.get()));
        // Keys go to the focus widget, which only an active window has.
        QApplication::setActiveWindow(m_control.get());
    }

    void cleanup()
    {
        m_control.reset();
        m_layer.reset();
    }

    void clickShiftClickAndDragSelect()
    {
        QTest::mouseClick(&page(), Qt::LeftButton, {}, centre(at(0, 0)));
        QCOMPARE(page().FSelectCells, QList<TReportCell *>{at(0, 0)});
        QTest::mouseClick(&page(), Qt::LeftButton, Qt::ShiftModifier, centre(at(2, 3)));
        QCOMPARE(page().FSelectCells, (QList<TReportCell *>{at(0, 0), at(2, 3)}));
        QTest::mouseClick(&page(), Qt::LeftButton, {}, centre(at(1, 1)));
        QCOMPARE(page().FSelectCells, QList<TReportCell *>{at(1, 1)});

        drag(&page(), centre(at(1, 1)), centre(at(2, 3)));
        QCOMPARE(page().FSelectCells.size(), 6);
        for (int l = 1; l <= 2; ++l)
            for (int c = 1; c <= 3; ++c)
                QVERIFY(page().IsCellSelected(at(l, c)));

        // Without Shift the band replaces the selection; with Shift it only adds.
        drag(&page(), centre(at(0, 0)), centre(at(0, 1)));
        QCOMPARE(page().FSelectCells, (QList<TReportCell *>{at(0, 0), at(0, 1)}));
        drag(&page(), centre(at(3, 3)), centre(at(3, 2)), Qt::ShiftModifier);
        QCOMPARE(page().FSelectCells.size(), 4);
        QVERIFY(!page().isMouseOperationActive());
    }

    void bandShrinksWhileDragging()
    {
        const QPoint from = centre(at(0, 0));
        QTest::mousePress(&page(), Qt::LeftButton, {}, from);
        for (const QPoint p : {centre(at(2, 2)), centre(at(0, 1))}) {
            QMouseEvent move(
                QEvent::MouseMove, p, page().mapToGlobal(p), Qt::NoButton, Qt::LeftButton, {});
            QApplication::sendEvent(&page(), &move);
        }
        QCOMPARE(page().FSelectCells.size(), 2);
        QTest::mouseRelease(&page(), Qt::LeftButton, {}, centre(at(0, 1)));
    }

    void mergedBlockSelectedThroughMaster()
    {
        merge(1, 2, 2);
        QTest::mouseClick(&page(), Qt::LeftButton, {}, centre(at(2, 2)));
        QCOMPARE(page().FSelectCells, QList<TReportCell *>{at(1, 2)});
        drag(&page(), centre(at(3, 1)), centre(at(2, 3)));
        QVERIFY(page().IsCellSelected(at(1, 2)));
        QVERIFY(!page().IsCellSelected(at(2, 2)));
        QCOMPARE(page().FSelectCells.size(), 6);
    }

    void pressNearBottomEdge_data()
    {
        QTest::addColumn<int>("above");
        QTest::addColumn<bool>("drags");
        QTest::newRow("on the edge line") << 1 << true;
        QTest::newRow("3 pixels above") << 3 << true;
        QTest::newRow("4 pixels above") << 4 << false;
    }

    void pressNearBottomEdge()
    {
        QFETCH(int, above);
        QFETCH(bool, drags);
        TReportLine *line = page().line(1);
        const int bottom = line->FLineTop + line->GetLineHeight();
        const QPoint from(centre(at(1, 1)).x(), bottom - above);
        drag(&page(), from, from + QPoint(0, 30));
        if (drags) {
            QCOMPARE(line->FDragHeight, bottom - above + 30 - line->FLineTop);
            QVERIFY(page().FSelectCells.isEmpty());
        } else {
            QCOMPARE(line->FDragHeight, 0);
            QVERIFY(page().IsCellSelected(at(1, 1)));
        }
    }

    void cornerPressDragsTheHeight()
    {
        const TRect r = at(1, 1)->FCellRect;
        const QPoint corner(r.right - 2, r.bottom - 2);
        drag(&page(), corner, corner + QPoint(25, 25));
        QCOMPARE(page().line(1)->FDragHeight, r.bottom - 2 + 25 - r.top);
        QCOMPARE(widths(1), (QList<int>{100, 100, 100, 100}));
    }

    void selectionWithoutMovementOpensEditBox()
    {
        // A selection started without selecting (as other code may start one) becomes an edit
        // when the button comes up on the same cell.
        const QPoint p = centre(at(2, 2));
        page().StartMouseSelect(p, false, MK_LBUTTON);
        QVERIFY(page().FSelectCells.isEmpty());
        QTest::mouseRelease(&page(), Qt::LeftButton, {}, p);
        QCOMPARE(page().FEditCell, at(2, 2));
        QVERIFY(page().isEditing());
    }

    void heightDragStopsAtLineTopPlusFive()
    {
        TReportLine *line = page().line(2);
        const int plain = line->GetLineHeight();
        const int bottom = line->FLineTop + plain;
        const int below = page().line(3)->FLineTop;
        QSignalSpy changed(&page(), &TReportControl::contentChanged);
        drag(&page(), {centre(at(2, 0)).x(), bottom - 1}, {centre(at(2, 0)).x(), 5});
        QCOMPARE(line->FDragHeight, 5);
        QCOMPARE(changed.count(), 1);
        drag(&page(), {centre(at(2, 0)).x(), bottom - 1}, {centre(at(2, 0)).x(), 5});
        QCOMPARE(changed.count(), 1); // the same height again is no change
        QCOMPARE(line->GetLineHeight(), plain);
        QCOMPARE(page().line(3)->FLineTop, below);

        // Downwards the guide stops ten pixels above the bottom of the control.
        drag(&page(), {centre(at(2, 0)).x(), bottom - 1}, {centre(at(2, 0)).x(), 5000});
        QCOMPARE(line->FLineTop + line->GetLineHeight(), page().height() - 10);
    }

    void dragGuideRepaintsOnlyItsOwnStrip()
    {
        // Showing the guide invalidates the strip under it, not the page: only the cells of the
        // two lines that meet there are painted again, not all sixteen.
        const TRect r = at(1, 1)->FCellRect;
        const QPoint press(centre(at(1, 1)).x(), r.bottom - 2);
        page().repaint(QRect(0, 0, 1, 1)); // touches no cell
        QCOMPARE(page().lastPaintedCellCount(), 0);
        QTest::mousePress(&page(), Qt::LeftButton, {}, press);
        QTRY_VERIFY(page().lastPaintedCellCount() > 0);
        QVERIFY(page().lastPaintedCellCount() <= 8);
        QTest::mouseRelease(&page(), Qt::LeftButton, {}, press);
    }

    void heightDragOfMergedBlockMovesItsBottomLine()
    {
        merge(0, 1, 1);
        TReportCell *master = at(0, 1);
        const QPoint from(centre(master).x(), master->FCellRect.bottom - 1);
        drag(&page(), from, from + QPoint(0, 40));
        QCOMPARE(page().line(0)->FDragHeight, 0);
        QCOMPARE(page().line(1)->FLineTop + page().line(1)->GetLineHeight(), from.y() + 40);
    }

    void widthDragMovesWholeColumnEdge()
    {
        const int edge = edgeX(0, 0);
        const QPoint from(edge - 2, centre(at(1, 0)).y());
        QSignalSpy changed(&page(), &TReportControl::contentChanged);
        drag(&page(), from, {edge + 30, from.y()});
        QCOMPARE(changed.count(), 1);
        for (int l = 0; l < 4; ++l) {
            QCOMPARE(widths(l), (QList<int>{130, 70, 100, 100}));
            QCOMPARE(at(l, 1)->FCellLeft, page().FLeftMargin + 130);
        }
        // Limits: ten pixels inside the dragged cell and its neighbour.
        drag(&page(), {edgeX(0, 0) - 2, from.y()}, {edgeX(0, 0) + 500, from.y()});
        QCOMPARE(widths(2), (QList<int>{190, 10, 100, 100}));
        drag(&page(), {edgeX(0, 0) - 2, from.y()}, {0, from.y()});
        QCOMPARE(widths(2), (QList<int>{10, 190, 100, 100}));
    }

    void widthDragOfSelectedCellsOnly()
    {
        QTest::mouseClick(&page(), Qt::LeftButton, {}, centre(at(1, 0)));
        QTest::mouseClick(&page(), Qt::LeftButton, Qt::ShiftModifier, centre(at(2, 1)));
        const int edge = edgeX(1, 0);
        drag(&page(), {edge - 2, centre(at(1, 0)).y()}, {edge - 40, centre(at(1, 0)).y()});
        QCOMPARE(widths(0), (QList<int>{100, 100, 100, 100}));
        QCOMPARE(widths(1), (QList<int>{60, 140, 100, 100}));
        QCOMPARE(widths(2), (QList<int>{60, 140, 100, 100}));
        QCOMPARE(widths(3), (QList<int>{100, 100, 100, 100}));
    }

    void widthDragRefusedBesideMergedBlock_data()
    {
        QTest::addColumn<int>("masterLine");
        QTest::addColumn<int>("ownedLine");
        QTest::newRow("covered cell to the right") << 0 << 1;
        QTest::newRow("block reaching further down") << 1 << 2;
    }

    void widthDragRefusedBesideMergedBlock()
    {
        QFETCH(int, masterLine);
        QFETCH(int, ownedLine);
        at(masterLine, 1)->AddOwnedCell(at(ownedLine, 1));
        page().UpdateLines();
        QTest::mouseClick(&page(), Qt::LeftButton, {}, centre(at(1, 0)));
        const int edge = edgeX(1, 0);
        drag(&page(), {edge - 2, centre(at(1, 0)).y()}, {edge + 30, centre(at(1, 0)).y()});
        for (int l = 0; l < 4; ++l)
            QCOMPARE(widths(l), (QList<int>{100, 100, 100, 100}));
    }

    void doubleClickOpensAlignedEditBox()
    {
        TReportCell *cell = at(1, 2);
        cell->SetCellText(QStringLiteral("旧\r\n值"));
        cell->FHorzAlign = TEXT_ALIGN_RIGHT;
        cell->FBackGroundColor = 0x0000FFFF;
        page().UpdateLines();
        QTest::mouseDClick(&page(), Qt::LeftButton, {}, centre(cell));
        QVERIFY(page().isEditing());
        QCOMPARE(page().FEditCell, cell);
        QPlainTextEdit *box = page().FEditWnd;
        QCOMPARE(box->geometry(), editBoxRect(cell));
        QCOMPARE(box->toPlainText(), QStringLiteral("旧\n值"));
        QCOMPARE(box->document()->defaultTextOption().alignment(), Qt::AlignRight);
        QCOMPARE(box->palette().color(QPalette::Base), QColor(255, 255, 0));
        QVERIFY(page().FSelectCells.isEmpty());
        QVERIFY(box->hasFocus());
    }

    void doubleClickOnMinimumWidthCellOpensNothing()
    {
        at(2, 1)->SetCellWidth(10);
        page().UpdateLines();
        QTest::mouseDClick(&page(), Qt::LeftButton, {}, centre(at(2, 1)));
        QVERIFY(!page().isEditing());
        QCOMPARE(page().FEditCell, nullptr);
    }

    void typingGrowsTheLineAndStoresLive()
    {
        TReportCell *cell = at(1, 1);
        TReportLine *line = page().line(1);
        const int before = line->GetLineHeight();
        const int nextTop = page().line(2)->FLineTop;
        QTest::mouseDClick(&page(), Qt::LeftButton, {}, centre(cell));
        QPlainTextEdit *box = page().FEditWnd;
        QVERIFY(box);
        type(box, QStringLiteral("流量"));
        QTest::keyClick(box, Qt::Key_Return, Qt::ControlModifier);
        type(box, QStringLiteral("扬程"));
        QCOMPARE(cell->FCellText, QStringLiteral("流量\r\n扬程"));
        const int lh = gridtest::lineHeightOf(*cell);
        QCOMPARE(line->GetLineHeight(), 2 * lh + 4);
        QVERIFY(line->GetLineHeight() > before);
        QCOMPARE(page().line(2)->FLineTop, nextTop + line->GetLineHeight() - before);
        QCOMPARE(box->geometry(), editBoxRect(cell));

        // The next press elsewhere closes the box and keeps the text.
        QTest::mouseClick(&page(), Qt::LeftButton, {}, centre(at(3, 3)));
        QVERIFY(!page().isEditing());
        QCOMPARE(page().FEditCell, nullptr);
        QCOMPARE(cell->FCellText, QStringLiteral("流量\r\n扬程"));
    }

    // The edit box edits the full value of a formatted number; each accepted keystroke tells
    // the page's owners that the content changed, a refused one and the box itself do not.
    void editBoxShowsTheFullValueAndAnnouncesChanges()
    {
        TReportCell *cell = at(2, 2);
        page().SetCallText(2, 2, QStringLiteral("21.6956927"));
        page().SetCellFocus(2, 2);
        page().SetCellDispFormt(QStringLiteral("0.00"));
        page().RemoveAllSelectedCell();
        QCOMPARE(cell->displayText(), QStringLiteral("21.70"));
        QSignalSpy changed(&page(), &TReportControl::contentChanged);
        QTest::mouseDClick(&page(), Qt::LeftButton, {}, centre(cell));
        QPlainTextEdit *box = page().FEditWnd;
        QVERIFY(box);
        QCOMPARE(box->toPlainText(), QStringLiteral("21.6956927"));
        QCOMPARE(changed.count(), 0);
        QTest::keyClick(box, Qt::Key_End);
        type(box, QStringLiteral("5"));
        QCOMPARE(cell->FCellText, QStringLiteral("21.69569275"));
        QCOMPARE(cell->displayText(), QStringLiteral("21.70"));
        QCOMPARE(changed.count(), 1);
        box->setPlainText(QString(MaxCellTextBytes + 1, u'9')); // refused: over the limit
        QCOMPARE(cell->FCellText, QStringLiteral("21.69569275"));
        QCOMPARE(changed.count(), 1);
    }

    void editBoxRefusesTextBeyondLimit()
    {
        TReportCell *cell = at(0, 0);
        cell->SetCellText(QString(MaxCellTextBytes - 3, u'x'));
        QTest::mouseDClick(&page(), Qt::LeftButton, {}, centre(cell));
        QPlainTextEdit *box = page().FEditWnd;
        QVERIFY(box);
        QTest::keyClick(box, Qt::Key_End);
        type(box, QStringLiteral("汉"));   // 2 bytes: fits
        type(box, QStringLiteral("汉ab")); // none of these fit after the first byte
        type(box, QStringLiteral("a"));
        QCOMPARE(toCodePage(cell->FCellText).size(), MaxCellTextBytes);
        QVERIFY(cell->FCellText.endsWith(QStringLiteral("汉a")));
        QCOMPARE(box->toPlainText(), cell->FCellText);
        page().FreeEdit();
        QVERIFY(!page().isEditing());
    }

    void editBoxCountsLineBreaksAsTheCellStoresThem()
    {
        // A line break is CR LF in the cell, two bytes of the limit.
        TReportCell *cell = at(0, 0);
        cell->SetCellText(QString(MaxCellTextBytes - 3, u'x'));
        QTest::mouseDClick(&page(), Qt::LeftButton, {}, centre(cell));
        QPlainTextEdit *box = page().FEditWnd;
        QVERIFY(box);
        QTest::keyClick(box, Qt::Key_End);
        QTest::keyClick(box, Qt::Key_Return, Qt::ControlModifier);
        QTest::keyClick(box, Qt::Key_Return, Qt::ControlModifier); // would make 3001 bytes
        type(box, QStringLiteral("a"));
        QCOMPARE(toCodePage(cell->FCellText).size(), MaxCellTextBytes);
        QVERIFY(cell->FCellText.endsWith(QStringLiteral("x\r\na")));
    }

    void editBoxShortensATextAlreadyOverTheLimit()
    {
        TReportCell *cell = at(0, 0);
        cell->SetCellText(QString(MaxCellTextBytes + 10, u'x'));
        QTest::mouseDClick(&page(), Qt::LeftButton, {}, centre(cell));
        QPlainTextEdit *box = page().FEditWnd;
        QVERIFY(box);
        QTest::keyClick(box, Qt::Key_End);
        QTest::keyClick(box, Qt::Key_Backspace);
        QCOMPARE(cell->FCellText.size(), MaxCellTextBytes + 9);
        type(box, QStringLiteral("a")); // still nothing may be added
        QCOMPARE(cell->FCellText, QString(MaxCellTextBytes + 9, u'x'));
        QCOMPARE(box->toPlainText(), cell->FCellText);
    }

    void freeingTheEditedCellClosesTheBox()
    {
        QTest::mouseDClick(&page(), Qt::LeftButton, {}, centre(at(3, 0)));
        QVERIFY(page().isEditing());
        page().FLineList.pop_back();
        QVERIFY(!page().isEditing());
        QCOMPARE(page().FEditCell, nullptr);
        QTest::mouseClick(&page(), Qt::LeftButton, {}, centre(at(0, 0)));
    }

    void zoomClickOnlyRestoresZoom()
    {
        page().SetScale(50);
        QCOMPARE(page().size(), QSize(384, 529));
        QSignalSpy downs(&page(), &TReportControl::OnMouseDown);
        QTest::mouseClick(&page(), Qt::LeftButton, {}, centre(at(0, 0)) / 2);
        QCOMPARE(page().FReportScale, 100);
        QCOMPARE(page().size(), QSize(768, 1058));
        QVERIFY(page().FSelectCells.isEmpty());
        QCOMPARE(downs.count(), 0);
        QTest::mouseClick(&page(), Qt::LeftButton, {}, centre(at(0, 0)));
        QCOMPARE(downs.count(), 1);
    }

    void rightClickSelectionRules()
    {
        QSignalSpy downs(&page(), &TReportControl::OnMouseDown);
        QList<TReportCell *> seenByHandler;
        connect(&page(),
                &TReportControl::OnMouseDown,
                this,
                [&](Qt::MouseButton, Qt::KeyboardModifiers, const QPoint &) {
                    seenByHandler = page().FSelectCells;
                });
        page().SetCellSFocus(0, 0, 0, 2);
        rightClick(&page(), centre(at(0, 1)));
        QCOMPARE(page().FSelectCells.size(), 3);

        rightClick(&page(), centre(at(2, 2)));
        // A right press is reported with the selection as it was.
        QCOMPARE(seenByHandler.size(), 3);
        QCOMPARE(page().FSelectCells, QList<TReportCell *>{at(2, 2)});

        rightClick(&page(), {5, 5});
        QVERIFY(page().FSelectCells.isEmpty());
        QCOMPARE(downs.count(), 3);
        QCOMPARE(downs.at(0).at(0).value<Qt::MouseButton>(), Qt::RightButton);
    }

    void leftPressReportedAfterSelection()
    {
        QList<TReportCell *> seen;
        TReportCell *lastSeen = nullptr;
        connect(&page(),
                &TReportControl::OnMouseDown,
                this,
                [&](Qt::MouseButton, Qt::KeyboardModifiers, const QPoint &) {
                    seen = page().FSelectCells;
                    lastSeen = page().FLastSelectCell;
                });
        QTest::mouseClick(&page(), Qt::LeftButton, {}, centre(at(3, 1)));
        QCOMPARE(seen, QList<TReportCell *>{at(3, 1)});
        QCOMPARE(lastSeen, at(3, 1));
        QTest::mouseClick(&page(), Qt::LeftButton, {}, {5, 5});
        QVERIFY(seen.isEmpty());
        QCOMPARE(lastSeen, at(3, 1)); // a press outside all cells keeps the last cell
    }

    void cursorFollowsEdges_data()
    {
        QTest::addColumn<QPoint>("offset"); // from the bottom-right corner of cell (1, 1)
        QTest::addColumn<int>("shape");
        QTest::newRow("inside") << QPoint(-30, -10) << int(Qt::IBeamCursor);
        QTest::newRow("right edge") << QPoint(-3, -10) << int(Qt::SizeHorCursor);
        QTest::newRow("bottom edge") << QPoint(-30, -3) << int(Qt::SizeVerCursor);
        QTest::newRow("corner") << QPoint(-2, -2) << int(Qt::SizeHorCursor);
        QTest::newRow("outside") << QPoint(500, 0) << int(Qt::ArrowCursor);
    }

    void cursorFollowsEdges()
    {
        QFETCH(QPoint, offset);
        QFETCH(int, shape);
        const TRect r = at(1, 1)->FCellRect;
        const QPoint p = QPoint(r.right, r.bottom) + offset;
        QMouseEvent move(
            QEvent::MouseMove, p, page().mapToGlobal(p), Qt::NoButton, Qt::NoButton, {});
        QApplication::sendEvent(&page(), &move);
        QCOMPARE(int(page().cursor().shape()), shape);
    }

    // Keys of the edit box and of the page that open, confirm and cancel an edit, each row
    // starting from the same page: column 1 takes input, cell (1, 1) holds "50".
    void editingKeysConfirmCancelAndBreakLines()
    {
        for (int l = 0; l < 4; ++l)
            at(l, 1)->FTagID = QStringLiteral("IN%1").arg(l);
        TReportCell *c = at(1, 1);
        const auto typeKeys = [](const QString &text) {
            for (const QChar ch : text)
                QTest::keyClick(QApplication::focusWidget(), char(ch.unicode()));
        };
        const auto key = [](Qt::Key k, Qt::KeyboardModifiers mods = {}) {
            QTest::keyClick(QApplication::focusWidget(), k, mods);
        };
        const auto dbl = [&] { QTest::mouseDClick(&page(), Qt::LeftButton, {}, centre(c)); };
        const auto click = [&](TReportCell *cell) {
            QTest::mouseClick(&page(), Qt::LeftButton, {}, centre(cell));
        };
        struct Row
        {
            const char *how;
            std::function<void()> act;
            QString text;
            bool editing;
            TReportCell *selected;
        };
        const std::vector<Row> rows = {
            {"Enter confirms, closes and moves to the next input cell",
             [&] { dbl(), typeKeys("60"), key(Qt::Key_Return); },
             "60",
             false,
             at(2, 1)},
            {"Esc puts the old text back",
             [&] { dbl(), typeKeys("60"), key(Qt::Key_Escape); },
             "50",
             false,
             c},
            {"Ctrl+Enter breaks the line and keeps editing",
             [&] {
                 dbl(), key(Qt::Key_End), key(Qt::Key_Return, Qt::ControlModifier), typeKeys("1");
             },
             "50\r\n1",
             true,
             nullptr},
            {"typing on a selected cell replaces its text",
             [&] { click(c), typeKeys("60"), key(Qt::Key_Enter); },
             "60",
             false,
             at(2, 1)},
            {"Chinese typed on a selected cell replaces its text",
             [&] {
                 click(c);
                 for (const QChar ch : QStringLiteral("六十"))
                     type(QApplication::focusWidget(), QString(ch)); // to the box once open
                 key(Qt::Key_Return);
             },
             "六十",
             false,
             at(2, 1)},
            {"F2 twice keeps the text the box opened with",
             [&] {
                 click(c), key(Qt::Key_F2), typeKeys("9"), page().EditCell(c), key(Qt::Key_Escape);
             },
             "50",
             false,
             c},
            {"F2 keeps the text",
             [&] {
                 click(c), key(Qt::Key_F2), key(Qt::Key_End), typeKeys("5"), key(Qt::Key_Return);
             },
             "505",
             false,
             at(2, 1)},
            {"a double click selects the text, so typing replaces it",
             [&] { dbl(), typeKeys("60"), key(Qt::Key_Tab); },
             "60",
             false,
             at(2, 1)},
            {"Shift+Tab confirms and goes back",
             [&] { dbl(), typeKeys("7"), key(Qt::Key_Backtab); },
             "7",
             false,
             at(0, 1)},
            {"a click elsewhere confirms",
             [&] { dbl(), typeKeys("61"), click(at(3, 3)); },
             "61",
             false,
             at(3, 3)},
            {"EndEdit confirms",
             [&] { dbl(), typeKeys("62"), page().EndEdit(); },
             "62",
             false,
             nullptr},
        };
        for (const Row &row : rows) {
            page().CancelEdit();
            c->SetCellText(QStringLiteral("50"));
            page().RemoveAllSelectedCell();
            page().UpdateLines();
            QSignalSpy edited(&page(), &TReportControl::cellEdited);
            row.act();
            QVERIFY2(c->FCellText == row.text, row.how);
            QVERIFY2(page().isEditing() == row.editing, row.how);
            // Compared element-wise: QList's == hands memcmp a null pointer for empty lists.
            const QList<TReportCell *> &selected = page().FSelectCells;
            QVERIFY2(selected.size() == (row.selected ? 1 : 0)
                         && (!row.selected || selected.first() == row.selected),
                     row.how);
            // Only a confirmed change is announced, once.
            QVERIFY2(edited.count() == (!row.editing && row.text != "50" ? 1 : 0), row.how);
            if (!row.editing)
                QVERIFY2(page().hasFocus(), row.how);
        }
    }

    // Arrows, Tab, Enter, Home and End move the selection from cell to cell; a merged block
    // (2, 3)-(3, 3) is one cell. Column 1 takes input.
    void keyboardMovesTheSelection()
    {
        for (int l = 0; l < 4; ++l)
            at(l, 1)->FTagID = QStringLiteral("IN%1").arg(l);
        merge(2, 3, 3);
        page().setFocus();
        struct Row
        {
            int line, cell;
            Qt::Key key;
            Qt::KeyboardModifiers mods;
            int toLine, toCell;
        };
        // clang-format off
        const Row rows[] = {
            {1, 1, Qt::Key_Right, {}, 1, 2}, {1, 1, Qt::Key_Left, {}, 1, 0},
            {1, 1, Qt::Key_Up, {}, 0, 1},    {1, 1, Qt::Key_Down, {}, 2, 1},
            {0, 0, Qt::Key_Up, {}, 0, 0},    {0, 0, Qt::Key_Left, {}, 0, 0},
            {3, 2, Qt::Key_Right, {}, 2, 3}, {1, 3, Qt::Key_Down, {}, 2, 3},
            {2, 3, Qt::Key_Down, {}, 2, 3},  {2, 3, Qt::Key_Left, {}, 2, 2},
            {1, 1, Qt::Key_Tab, {}, 2, 1},   {1, 1, Qt::Key_Backtab, Qt::ShiftModifier, 0, 1},
            {1, 3, Qt::Key_Tab, {}, 2, 1},   {3, 1, Qt::Key_Tab, {}, 3, 1},
            {0, 1, Qt::Key_Return, {}, 1, 1}, {2, 1, Qt::Key_Return, Qt::ShiftModifier, 1, 1},
            {1, 2, Qt::Key_Home, {}, 1, 0},  {1, 0, Qt::Key_End, {}, 1, 3},
            {3, 0, Qt::Key_End, {}, 2, 3},   {2, 2, Qt::Key_Home, Qt::ControlModifier, 0, 0},
            {0, 0, Qt::Key_End, Qt::ControlModifier, 3, 2},
        };
        // clang-format on
        for (const Row &row : rows) {
            page().SelectOnly(at(row.line, row.cell));
            QTest::keyClick(&page(), row.key, row.mods);
            const QString where = QStringLiteral("(%1, %2) key %3 -> (%4, %5)")
                                      .arg(row.line)
                                      .arg(row.cell)
                                      .arg(row.key)
                                      .arg(row.toLine)
                                      .arg(row.toCell);
            QVERIFY2(page().FSelectCells == QList<TReportCell *>{at(row.toLine, row.toCell)},
                     qPrintable(where));
            QVERIFY2(!page().isEditing() && page().hasFocus(), qPrintable(where));
        }
    }

    // Delete empties input cells only; Ctrl+C copies the selection as spreadsheet text;
    // Ctrl+V fills consecutive input cells from a pasted column.
    void deleteCopyAndPaste()
    {
        for (int l = 0; l < 4; ++l) {
            at(l, 1)->FTagID = QStringLiteral("IN%1").arg(l);
            at(l, 1)->SetCellText(QString::number(l + 1));
            at(l, 2)->SetCellText(QStringLiteral("x%1").arg(l));
        }
        page().setFocus();
        QSignalSpy edited(&page(), &TReportControl::cellEdited);
        QTest::mouseClick(&page(), Qt::LeftButton, {}, centre(at(1, 1)));
        QTest::mouseClick(&page(), Qt::LeftButton, Qt::ShiftModifier, centre(at(1, 2)));
        QTest::keyClick(&page(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("2\tx1"));
        QTest::keyClick(&page(), Qt::Key_Delete);
        QCOMPARE(at(1, 1)->FCellText, QString());
        QCOMPARE(at(1, 2)->FCellText, QStringLiteral("x1"));
        QCOMPARE(edited.count(), 1);

        // A column copied from a spreadsheet, pasted on a cell that takes no input: it fills
        // the input cells from the next one on, as many as it has values.
        QApplication::clipboard()->setText(QStringLiteral("7\r\n 8 \r\n9\r\n"));
        page().SelectOnly(at(0, 2));
        QTest::keyClick(&page(), Qt::Key_V, Qt::ControlModifier);
        QCOMPARE((QStringList{at(0, 1)->FCellText,
                              at(1, 1)->FCellText,
                              at(2, 1)->FCellText,
                              at(3, 1)->FCellText,
                              at(0, 2)->FCellText}),
                 (QStringList{"1", "7", "8", "9", "x0"}));
        QCOMPARE(page().FSelectCells, QList<TReportCell *>{at(3, 1)});
        QCOMPARE(edited.count(), 4);
        // More values than input cells: the rest is left out.
        page().SelectOnly(at(3, 1));
        QCOMPARE(page().PasteText(QStringLiteral("5\t6")), 1);
        QCOMPARE(at(3, 1)->FCellText, QStringLiteral("5"));
    }

    // Stale, failed and defaulted marks show on screen, with their tool tips, and change
    // neither the stored page nor the printed one.
    void marksAreDrawnOnScreenOnly()
    {
        for (TReportCell *cell : {at(1, 1), at(1, 2), at(2, 1)})
            cell->SetCellText(QStringLiteral("123.4"));
        page().UpdateLines();
        const auto stored = [&] {
            QBuffer buffer;
            buffer.open(QIODevice::ReadWrite);
            page().SaveToStream(buffer, 0);
            return buffer.data();
        };
        const auto printed = [&] {
            QImage paper(page().size(), QImage::Format_RGB32);
            paper.fill(Qt::white);
            page().ExportToPicture(paper, paper.size());
            return paper;
        };
        const QByteArray before = stored();
        const QImage paperBefore = printed();
        const QImage screenBefore = page().grab().toImage();
        QSignalSpy changed(&page(), &TReportControl::contentChanged);
        page().SetCellMark(at(1, 1), TReportControl::CellMark::Stale, QStringLiteral("旧"));
        page().SetCellMark(at(1, 2), TReportControl::CellMark::Failed, QStringLiteral("计算失败"));
        page().SetCellMark(at(2, 1), TReportControl::CellMark::Defaulted, QStringLiteral("沿用"));
        QCOMPARE(stored(), before);
        QCOMPARE(printed(), paperBefore);
        QCOMPARE(changed.count(), 0);
        const QImage screen = page().grab().toImage();
        const QString dir = qEnvironmentVariable("TESSARIN_SCREENSHOT_DIR", QDir::tempPath());
        QVERIFY(screen.save(dir + QStringLiteral("/reportgrid-marks.png")));

        const auto darkest = [](const QImage &image, const QRect &r) {
            int least = 255;
            for (int y = r.top(); y <= r.bottom(); ++y)
                for (int x = r.left(); x <= r.right(); ++x)
                    least = std::min(least, qGray(image.pixel(x, y)));
            return least;
        };
        const auto reddish = [](const QImage &image, const QRect &r, bool want) {
            int n = 0;
            for (int y = r.top(); y <= r.bottom(); ++y)
                for (int x = r.left(); x <= r.right(); ++x) {
                    const QColor c = image.pixelColor(x, y);
                    n += want ? (c.red() > 180 && c.green() < 60)
                              : (c.blue() > 180 && c.red() < 60);
                }
            return n;
        };
        // The stale value is greyed: its darkest pixel is much lighter than before.
        const QRect stale = at(1, 1)->textRect();
        QVERIFY(darkest(screen, stale) > darkest(screenBefore, stale) + 80);
        QVERIFY(reddish(screen, at(1, 2)->cellRect(), true) > 20);
        QVERIFY(reddish(screen, at(2, 1)->cellRect(), false) > 10);
        QCOMPARE(reddish(screen, at(1, 1)->cellRect(), true), 0);
        QCOMPARE(page().toolTipAt(centre(at(1, 2))), QStringLiteral("计算失败"));
        QCOMPARE(page().cellMarkCount(TReportControl::CellMark::Stale), 1);

        page().ClearCellMarks(TReportControl::CellMark::Stale);
        QCOMPARE(page().cellMark(at(1, 1)), TReportControl::CellMark::None);
        QCOMPARE(page().cellMark(at(1, 2)), TReportControl::CellMark::Failed);
        page().FLineList.erase(page().FLineList.begin() + 1); // a marked cell goes away
        QCOMPARE(page().cellMarkCount(TReportControl::CellMark::Failed), 0);
        QCOMPARE(page().cellMarkCount(TReportControl::CellMark::Defaulted), 1);
    }

    // A value wider than its cell shows in a shorter form on one line, so the cell keeps the
    // height of one line; the tool tip gives it in full.
    void valuesFitTheirCell_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("shown"); // empty: anything shorter that fits
        QTest::addColumn<bool>("shortened");
        QTest::newRow("1e300 with two decimals") << "1e300"
                                                 << "0.00" << 100 << "" << true;
        QTest::newRow("long digits") << "123456789.123456789"
                                     << "" << 80 << "" << true;
        QTest::newRow("fits as it is") << "21.6956927"
                                       << "0.00" << 100 << "21.70" << false;
        QTest::newRow("line break after a number") << "60\r\n"
                                                   << "" << 100 << "60" << false;
        QTest::newRow("formatted, line break after") << "60\r\n"
                                                     << "0.0" << 100 << "60.0" << false;
        QTest::newRow("no room for digits") << "-1.5e300"
                                            << "0.00" << 28 << "" << true;
        QTest::newRow("hardly any room") << "-1.5e300"
                                         << "0.00" << 16 << "" << true;
        QTest::newRow("text is not shortened") << "扬程扬程扬程扬程扬程"
                                               << "" << 40 << "扬程扬程扬程扬程扬程" << false;
    }
    void valuesFitTheirCell()
    {
        QFETCH(QString, text);
        QFETCH(QString, format);
        QFETCH(int, width);
        QFETCH(QString, shown);
        QFETCH(bool, shortened);
        TReportCell *cell = at(1, 1);
        TReportCell *empty = at(1, 2);
        cell->SetCellWidth(width);
        empty->SetCellWidth(width);
        cell->FCellDispFormat = format;
        cell->SetCellText(text);
        page().UpdateLines();
        const QString display = cell->displayText();
        if (!shown.isEmpty())
            QCOMPARE(display, shown);
        QCOMPARE(cell->isDisplayShortened(), shortened);
        if (shortened) {
            QVERIFY(QFontMetrics(cell->cellFont()).horizontalAdvance(display)
                        <= cell->textWrapWidth()
                    || display == "#");
            QCOMPARE(cell->FMinCellHeight, empty->FMinCellHeight);
            QCOMPARE(page().toolTipAt(centre(cell)), text.trimmed());
            QVERIFY(display.startsWith(u'#') || numberFromText(display).has_value());
        }
    }

    void screenshotOfAFormattedPage();
};

void ReportControlWidgetTest::screenshotOfAFormattedPage()
{
    // Three lines of Chinese text in three alignments, a merged block, borders set and unset,
    // diagonals and colours.
    TReportControl &p = page();
    at(0, 0)->SetCellText(QStringLiteral("泵名称"));
    at(0, 0)->FHorzAlign = TEXT_ALIGN_LEFT;
    at(0, 1)->SetCellText(QStringLiteral("离心泵计算"));
    at(0, 1)->FHorzAlign = TEXT_ALIGN_CENTER;
    at(0, 1)->FBackGroundColor = 0x00CCFFFF;
    at(0, 2)->SetCellText(QStringLiteral("右对齐"));
    at(0, 2)->FHorzAlign = TEXT_ALIGN_RIGHT;
    at(0, 2)->FTextColor = 0x000000CC;
    at(1, 3)->SetCellText(QStringLiteral("合并单元格的文字较长需要换行显示"));
    at(1, 3)->FHorzAlign = TEXT_ALIGN_CENTER;
    at(1, 3)->FBackGroundColor = 0x00FFE0C0;
    at(1, 3)->AddOwnedCell(at(2, 3));
    at(1, 3)->AddOwnedCell(at(3, 3));
    at(1, 0)->FDiagonal = LINE_LEFT1 | LINE_RIGHT1;
    at(2, 0)->FDiagonal = LINE_LEFT2 | LINE_LEFT3;
    at(2, 1)->SetBottomLineWidth(3);
    at(2, 1)->SetRightLineWidth(2);
    for (int l = 1; l <= 3; ++l)
        for (int c = 1; c <= 2; ++c)
            if (!(l == 2 && c == 1))
                at(l, c)->SetLeftLine(false), at(l, c)->SetTopLine(false),
                    at(l, c)->SetRightLine(false), at(l, c)->SetBottomLine(false);
    p.UpdateLines();

    const QString dir = qEnvironmentVariable("TESSARIN_SCREENSHOT_DIR", QDir::tempPath());
    const QImage full = p.grab().toImage();
    QCOMPARE(full.size(), QSize(768, 1058));
    QVERIFY(full.save(dir + QStringLiteral("/reportgrid-zoom100.png")));

    // Borders that are not set show grey on screen, and only there.
    const TRect unset = at(3, 1)->FCellRect;
    QCOMPARE(full.pixel(unset.right, (unset.top + unset.bottom) / 2), qRgb(0xC0, 0xC0, 0xC0));
    QImage paper(p.size(), QImage::Format_RGB32);
    paper.fill(Qt::white);
    {
        QPainter painter(&paper);
        for (int l = 0; l < p.lineCount(); ++l)
            for (int c = 0; c < p.line(l)->cellCount(); ++c)
                at(l, c)->PaintCell(painter, true);
    }
    QVERIFY(paper.save(dir + QStringLiteral("/reportgrid-print.png")));
    // Smoothed glyph edges may take any grey; outside the text every grey is an edge.
    QRegion texts;
    for (int l = 0; l < p.lineCount(); ++l)
        for (int c = 0; c < p.line(l)->cellCount(); ++c)
            texts += at(l, c)->textRect();
    int greyOnPaper = 0;
    for (int y = 0; y < paper.height(); ++y)
        for (int x = 0; x < paper.width(); ++x)
            greyOnPaper += paper.pixel(x, y) == qRgb(0xC0, 0xC0, 0xC0) && !texts.contains({x, y});
    QCOMPARE(greyOnPaper, 0);

    // The merged text is drawn (dark pixels) inside the block, below its first line.
    const QRect text = at(1, 3)->textRect();
    int dark = 0;
    for (int y = text.top(); y <= text.bottom(); ++y)
        for (int x = text.left(); x <= text.right(); ++x)
            dark += qGray(full.pixel(x, y)) < 100;
    QVERIFY(dark > 100);
    QVERIFY(at(1, 3)->FCellRect.bottom == p.line(3)->FLineTop + p.line(3)->GetLineHeight());

    // The edit box over the centred, coloured cell shows its text where the cell had it.
    QTest::mouseDClick(&p, Qt::LeftButton, {}, centre(at(0, 1)));
    QVERIFY(p.isEditing());
    QTest::keyClick(p.FEditWnd, Qt::Key_End); // the text without its selection highlight
    const QImage editing = p.grab().toImage();
    QVERIFY(editing.save(dir + QStringLiteral("/reportgrid-edit.png")));
    const QRect cellArea = at(0, 1)->textRect();
    int moved = 0;
    for (int y = cellArea.top(); y <= cellArea.bottom(); ++y)
        for (int x = cellArea.left(); x <= cellArea.right(); ++x)
            moved += std::abs(qGray(editing.pixel(x, y)) - qGray(full.pixel(x, y))) > 96;
    QVERIFY2(moved < 40, qPrintable(QString::number(moved)));
    p.FreeEdit();

    p.SetScale(50);
    const QImage half = p.grab().toImage();
    QCOMPARE(half.size(), QSize(384, 529));
    QVERIFY(half.save(dir + QStringLiteral("/reportgrid-zoom50.png")));
    // The outer border of the grid survives the halving.
    const TRect first = at(0, 0)->FCellRect;
    const int y = (first.top + first.bottom) / 4;
    QVERIFY(qGray(half.pixel(first.left / 2, y)) < 128
            || qGray(half.pixel(first.left / 2 + 1, y)) < 128);

    // The grey edges of the cells a merged block covers do not cover the block's left border.
    const TRect block = at(1, 3)->FCellRect;
    for (int yy = block.top + 2; yy < block.bottom - 2; yy += 5)
        QCOMPARE(full.pixel(block.left, yy), qRgb(0, 0, 0));
}

QTEST_MAIN(ReportControlWidgetTest)
#include "widget_test.moc"
