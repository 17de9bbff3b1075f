#include "calcbook.h"

#include "atomicfile.h"
#include "error.h"
#include "pagepainter.h"
#include "projectdocument.h"
#include "projectfile.h"
#include "qzproject.h"
#include "qzworkbook.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSet>
#include <QTextLayout>

#include <algorithm>
#include <functional>
#include <vector>

#ifndef TESSARIN_VERSION
#define TESSARIN_VERSION "0"
#endif

namespace tessarin {

namespace {

const QString kFace = QStringLiteral("宋体");
const QColor kFailedColor(0xa0, 0x10, 0x10);
const QColor kRuleColor(0x40, 0x40, 0x40);
const QColor kHeadBack(0xe8, 0xe8, 0xe8);

QFont bookFont(double points, bool bold = false)
{
    QFont font(kFace);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

// Where each part of the book starts (1-based sheet numbers), learnt by a first pass that
// measures without painting.
struct Sections
{
    std::vector<int> reportPages;
    int steps = 0;
    int inputs = 0;
};

// Sheets of A4 filled from the top: the cursor, page breaks, and the header and footer of each
// sheet. Without a painter it only measures, so that a first pass learns the page numbers.
class Sheets
{
public:
    Sheets(QPdfWriter &writer, QPainter *painter, const QString &title, int total)
        : m_writer(writer)
        , m_painter(painter)
        , m_title(title)
        , m_total(total)
    {
        const double w = m_writer.width();
        const double h = m_writer.height();
        m_body = QRectF(mm(20), mm(12) + mm(10), w - mm(20) - mm(15), h - mm(24) - mm(20));
    }

    double mm(double value) const { return value * m_writer.resolution() / 25.4; }
    const QRectF &body() const { return m_body; }
    int sheet() const { return m_sheet; }
    double y = 0;

    void newSheet()
    {
        if (m_sheet > 0 && m_painter && !m_writer.newPage())
            throw Error(QStringLiteral("cannot start another PDF page"));
        ++m_sheet;
        y = m_body.top();
        if (m_painter)
            paintFrame();
    }
    // Starts a new sheet unless `height` still fits below the cursor.
    void ensure(double height)
    {
        if (y + height > m_body.bottom() && y > m_body.top())
            newSheet();
    }

    // Lays `text` out in lines as wide as the body less `indent`, from the cursor down, flowing
    // onto new sheets.
    void paragraph(const QString &text,
                   const QFont &font,
                   double indent = 0,
                   const QColor &color = Qt::black)
    {
        QTextLayout layout(text, font, &m_writer);
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine())
            line.setLineWidth(m_body.width() - indent);
        layout.endLayout();
        for (int i = 0; i < layout.lineCount(); ++i) {
            const QTextLine line = layout.lineAt(i);
            ensure(line.height());
            if (m_painter) {
                m_painter->setPen(color);
                line.draw(m_painter, QPointF(m_body.left() + indent, y - line.y()));
            }
            y += line.height();
        }
    }

    // One line of text in `rect`, aligned as `flags` say.
    void text(const QRectF &rect, int flags, const QString &text, const QFont &font)
    {
        if (!m_painter)
            return;
        m_painter->setFont(font);
        m_painter->setPen(Qt::black);
        m_painter->drawText(rect, flags, text);
    }

    double lineHeight(const QFont &font) const
    {
        return QFontMetricsF(font, &m_writer).lineSpacing();
    }

    // Rows of cells `fractions` of the body wide, each row kept on one sheet; a header row is
    // repeated at the top of every sheet the table reaches.
    void table(const std::vector<double> &fractions,
               const QStringList &header,
               const QList<QStringList> &rows,
               const QFont &font)
    {
        const QFont bold = [&] {
            QFont f = font;
            f.setBold(true);
            return f;
        }();
        const double pad = mm(1.2);
        const auto rowHeight = [&](const QStringList &cells, const QFont &f) {
            double height = 0;
            for (size_t c = 0; c < fractions.size(); ++c) {
                const double width = fractions[c] * m_body.width();
                const QRectF r = QFontMetricsF(f, &m_writer)
                                     .boundingRect(QRectF(0, 0, width - 2 * pad, 1e9),
                                                   Qt::TextWrapAnywhere,
                                                   cells.value(qsizetype(c)));
                height = std::max(height, r.height());
            }
            return std::max(height, lineHeight(f)) + 2 * pad;
        };
        const auto paintRow = [&](const QStringList &cells, const QFont &f, double height,
                                  bool head) {
            if (m_painter) {
                if (head)
                    m_painter->fillRect(QRectF(m_body.left(), y, m_body.width(), height),
                                        kHeadBack);
                m_painter->setPen(QPen(kRuleColor, mm(0.2)));
                double x = m_body.left();
                m_painter->drawLine(QPointF(x, y), QPointF(m_body.right(), y));
                m_painter->drawLine(QPointF(x, y + height), QPointF(m_body.right(), y + height));
                for (size_t c = 0; c < fractions.size(); ++c) {
                    const double width = fractions[c] * m_body.width();
                    m_painter->setPen(QPen(kRuleColor, mm(0.2)));
                    m_painter->drawLine(QPointF(x, y), QPointF(x, y + height));
                    text(QRectF(x + pad, y + pad, width - 2 * pad, height - 2 * pad),
                         Qt::TextWrapAnywhere | Qt::AlignLeft | Qt::AlignVCenter,
                         cells.value(qsizetype(c)),
                         f);
                    x += width;
                }
                m_painter->setPen(QPen(kRuleColor, mm(0.2)));
                m_painter->drawLine(QPointF(m_body.right(), y), QPointF(m_body.right(), y + height));
            }
            y += height;
        };
        const double headHeight = header.isEmpty() ? 0 : rowHeight(header, bold);
        bool headShown = false;
        int shownOn = 0;
        for (const QStringList &row : rows) {
            const double height = rowHeight(row, font);
            ensure(height + (headShown && shownOn == m_sheet ? 0 : headHeight));
            if (!header.isEmpty() && (!headShown || shownOn != m_sheet)) {
                paintRow(header, bold, headHeight, true);
                headShown = true;
                shownOn = m_sheet;
            }
            paintRow(row, font, height, false);
        }
    }

    // The page drawn as printed, scaled to fit the body of a sheet of its own.
    void reportPage(const TReportPage &page)
    {
        newSheet();
        if (!m_painter || page.FPageWidth <= 0 || page.FPageHeight <= 0)
            return;
        const double k = std::min(m_body.width() / page.FPageWidth,
                                  m_body.height() / page.FPageHeight);
        m_painter->save();
        m_painter->translate(m_body.left() + (m_body.width() - page.FPageWidth * k) / 2,
                             m_body.top());
        m_painter->scale(k, k);
        constexpr int far = 1 << 29;
        PagePainter(page, *m_painter).paint(TRect{-far, -far, far, far}, true);
        m_painter->restore();
    }

private:
    void paintFrame()
    {
        const QFont small = bookFont(9);
        const double top = mm(12);
        const QRectF head(m_body.left(), top, m_body.width(), mm(8));
        text(head, Qt::AlignLeft | Qt::AlignBottom, m_title, small);
        text(head, Qt::AlignRight | Qt::AlignBottom, QStringLiteral("计算书"), small);
        m_painter->setPen(QPen(kRuleColor, mm(0.3)));
        m_painter->drawLine(QPointF(m_body.left(), top + mm(9)),
                            QPointF(m_body.right(), top + mm(9)));
        const QRectF foot(m_body.left(), m_body.bottom() + mm(6), m_body.width(), mm(8));
        text(foot,
             Qt::AlignHCenter | Qt::AlignTop,
             QStringLiteral("第 %1 页 / 共 %2 页").arg(m_sheet).arg(m_total),
             small);
    }

    QPdfWriter &m_writer;
    QPainter *m_painter;
    QString m_title;
    int m_total;
    QRectF m_body;
    int m_sheet = 0;
};

QString stepHeading(const TqzRunStep &step)
{
    QString heading = QStringLiteral("第%1步　%2").arg(step.number).arg(step.name);
    if (!step.caption.isEmpty())
        heading += QStringLiteral("　") + step.caption;
    if (!step.unit.isEmpty())
        heading += QStringLiteral("（") + step.unit + QStringLiteral("）");
    return heading;
}

// The whole book onto `sheets`; `sections` is filled on the way (and read by the contents,
// which only a second pass knows).
void layOut(Sheets &sheets, const CalcBook &book, Sections &sections, const Sections &known)
{
    const QFont body = bookFont(10.5);
    const QFont bodyBold = bookFont(10.5, true);
    const QFont heading = bookFont(14, true);
    const int failed = static_cast<int>(
        std::count_if(book.steps.cbegin(), book.steps.cend(), [](const TqzRunStep &s) {
            return s.failed;
        }));

    // Cover.
    sheets.newSheet();
    sheets.y += sheets.mm(40);
    const QFont title = bookFont(26, true);
    sheets.text(QRectF(sheets.body().left(), sheets.y, sheets.body().width(), sheets.mm(14)),
                Qt::AlignCenter,
                QStringLiteral("计 算 书"),
                title);
    sheets.y += sheets.mm(20);
    sheets.text(QRectF(sheets.body().left(), sheets.y, sheets.body().width(), sheets.mm(10)),
                Qt::AlignCenter,
                book.title,
                bookFont(16, true));
    sheets.y += sheets.mm(24);
    QString checksum = book.checksum;
    if (!book.checksumNote.isEmpty())
        checksum += QStringLiteral(" ") + book.checksumNote;
    sheets.table({0.3, 0.7},
                 {},
                 {{QStringLiteral("工程名称"), book.title},
                  {QStringLiteral("位号"), book.tagNumber},
                  {QStringLiteral("日期"), book.date.toString(QStringLiteral("yyyy-MM-dd"))},
                  {QStringLiteral("程序版本"), QStringLiteral("Tessarin ") + book.version},
                  {QStringLiteral("工程文件校验和 (SHA-256)"), checksum},
                  {QStringLiteral("计算步数"),
                   QStringLiteral("%1 步，其中失败 %2 步").arg(book.steps.size()).arg(failed)}},
                 body);
    sheets.y = std::max(sheets.y + sheets.mm(10), sheets.body().bottom() - sheets.mm(50));
    sheets.paragraph(QStringLiteral("修订记录"), bodyBold);
    sheets.table({0.1, 0.18, 0.3, 0.14, 0.14, 0.14},
                 {QStringLiteral("版次"),
                  QStringLiteral("日期"),
                  QStringLiteral("说明"),
                  QStringLiteral("编制"),
                  QStringLiteral("校核"),
                  QStringLiteral("审核")},
                 {{QStringLiteral("0"),
                   book.date.toString(QStringLiteral("yyyy-MM-dd")),
                   QStringLiteral("首次发布")},
                  {},
                  {}},
                 body);

    // Contents.
    sheets.newSheet();
    sheets.paragraph(QStringLiteral("目录"), heading);
    sheets.y += sheets.mm(4);
    const double line = sheets.lineHeight(body) * 1.4;
    const auto entry = [&](const QString &caption, int sheet) {
        sheets.ensure(line);
        const QRectF r(sheets.body().left(), sheets.y, sheets.body().width(), line);
        sheets.text(r, Qt::AlignLeft | Qt::AlignVCenter, caption, body);
        sheets.text(r, Qt::AlignRight | Qt::AlignVCenter, QString::number(sheet), body);
        sheets.y += line;
    };
    for (qsizetype k = 0; k < book.pages.size(); ++k)
        entry(QStringLiteral("报表 %1　%2").arg(k + 1).arg(book.pageCaptions.value(k)),
              known.reportPages.empty() ? 0 : known.reportPages[size_t(k)]);
    entry(QStringLiteral("计算过程"), known.steps);
    entry(QStringLiteral("输入数据"), known.inputs);

    // The report pages as printed.
    for (const TReportPage *page : book.pages) {
        sheets.reportPage(*page);
        sections.reportPages.push_back(sheets.sheet());
    }

    // The steps.
    sheets.newSheet();
    sections.steps = sheets.sheet();
    sheets.paragraph(QStringLiteral("计算过程"), heading);
    sheets.y += sheets.mm(2);
    sheets.paragraph(book.steps.isEmpty()
                         ? QStringLiteral("本计算书不含计算步骤：工程尚未计算。")
                         : QStringLiteral("共 %1 步，其中失败 %2 步。")
                               .arg(book.steps.size())
                               .arg(failed),
                     body);
    sheets.y += sheets.mm(3);
    const double indent = sheets.mm(6);
    for (const TqzRunStep &step : book.steps) {
        sheets.ensure(sheets.lineHeight(bodyBold) + 2 * sheets.lineHeight(body));
        sheets.paragraph(stepHeading(step), bodyBold);
        sheets.paragraph(QStringLiteral("公式：") + step.formula, body, indent);
        if (!step.substituted.isEmpty())
            sheets.paragraph(QStringLiteral("代入：") + step.substituted, body, indent);
        if (step.failed)
            sheets.paragraph(QStringLiteral("计算失败：") + step.error, body, indent, kFailedColor);
        else
            sheets.paragraph(QStringLiteral("结果：%1 = %2 %3")
                                 .arg(step.caption.isEmpty() ? step.name : step.caption,
                                      step.result,
                                      step.unit)
                                 .trimmed(),
                             body,
                             indent);
        sheets.y += sheets.mm(2.5);
    }

    // The inputs.
    sheets.newSheet();
    sections.inputs = sheets.sheet();
    sheets.paragraph(QStringLiteral("输入数据"), heading);
    sheets.y += sheets.mm(3);
    QList<QStringList> rows;
    rows.reserve(book.inputs.size());
    for (const CalcBookInput &input : book.inputs)
        rows.append({input.name, input.caption, input.value, input.unit, input.origin});
    sheets.table({0.32, 0.16, 0.2, 0.14, 0.18},
                 {QStringLiteral("名称"),
                  QStringLiteral("代号"),
                  QStringLiteral("数值"),
                  QStringLiteral("单位"),
                  QStringLiteral("来源")},
                 rows,
                 body);
}

} // namespace

QString programVersion()
{
    return QStringLiteral(TESSARIN_VERSION);
}

QList<CalcBookInput> calcBookInputs(const TqzProject &project,
                                    const TqzWorkbook &workbook,
                                    const QStringList &emptyInputs,
                                    const QHash<QString, QString> &origins)
{
    const QSet<QString> empty(emptyInputs.cbegin(), emptyInputs.cend());
    QList<CalcBookInput> out;
    QSet<QString> seen;
    const TqzProjectTree &tree = *project.TreeView;
    for (int i = 0, n = tree.count(); i < n; ++i) {
        const TqzNode &node = *tree.nodeAt(i);
        if (!node.Script.trimmed().isEmpty() || seen.contains(node.Name))
            continue;
        seen.insert(node.Name);
        QString origin = origins.value(node.Name);
        if (origin.isEmpty())
            origin = !empty.contains(node.Name) && !workbook.CellsOfName(node.Name).isEmpty()
                         ? kOriginTyped
                         : kOriginDefault;
        out.append({node.Name, node.Caption, node.Value, node.Unit, origin});
    }
    return out;
}

CalcBook calcBookOf(const ProjectDocument &document,
                    const QByteArray &fileBytes,
                    const QList<TqzRunStep> &steps,
                    const QStringList &emptyInputs,
                    const QHash<QString, QString> &origins)
{
    CalcBook book;
    const TqzProject &project = document.project();
    TqzWorkbook &workbook = document.workbook();
    book.title = project.Name;
    if (book.title.isEmpty() && project.TreeView->count() > 0)
        book.title = project.TreeView->nodeAt(0)->Name;
    const QString tag = QStringLiteral("位号");
    book.tagNumber = workbook.GetTagValue(tag);
    if (book.tagNumber.isEmpty())
        for (int i = 0; i < project.TreeView->count() && book.tagNumber.isEmpty(); ++i)
            if (project.TreeView->nodeAt(i)->Name == tag)
                book.tagNumber = project.TreeView->nodeAt(i)->Value;
    book.version = programVersion();
    book.checksum = QString::fromLatin1(
        QCryptographicHash::hash(fileBytes, QCryptographicHash::Sha256).toHex());
    book.date = QDateTime::currentDateTime();
    for (int k = 0; k < workbook.pageCount(); ++k) {
        const TqzReportPage *page = workbook.page(k);
        book.pages.append(page);
        book.pageCaptions.append(workbook.PageNames.value(page->OwnerIndex));
    }
    book.steps = steps;
    book.inputs = calcBookInputs(project, workbook, emptyInputs, origins);
    return book;
}

int writeCalcBook(const CalcBook &book, const QString &fileName)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    int total = 0;
    {
        QPdfWriter writer(&buffer);
        writer.setCreator(QStringLiteral("Tessarin"));
        writer.setTitle(QStringLiteral("计算书 ") + book.title);
        writer.setResolution(600);
        writer.setPageLayout(QPageLayout(
            QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF()));

        // A first pass counts the sheets and learns where each part starts.
        Sections sections;
        {
            Sheets dry(writer, nullptr, book.title, 0);
            layOut(dry, book, sections, Sections());
            total = dry.sheet();
        }
        QPainter painter;
        if (!painter.begin(&writer))
            throw Error(QStringLiteral("%1: cannot write the calculation book").arg(fileName));
        Sections again;
        Sheets sheets(writer, &painter, book.title, total);
        layOut(sheets, book, again, sections);
        painter.end();
        if (sheets.sheet() != total)
            throw Error(QStringLiteral("%1: the calculation book came out with %2 sheets where "
                                       "%3 were laid out")
                            .arg(fileName)
                            .arg(sheets.sheet())
                            .arg(total));
    }
    writeFileAtomically(fileName, buffer.data());
    return total;
}

} // namespace tessarin
