#include "unitcalcwindow.h"

#include "error.h"
#include "unitconverter.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>

#include <cmath>

namespace tessarin {

namespace {

// A number as an engineer types it; a Chinese input method's full-width digits are accepted.
bool readNumber(const QString &text, double &value)
{
    QString s = text.trimmed();
    for (QChar &c : s)
        if (c.unicode() >= 0xFF01 && c.unicode() <= 0xFF5E)
            c = QChar(c.unicode() - 0xFEE0);
    bool ok = false;
    value = s.toDouble(&ok);
    return ok && std::isfinite(value);
}

QComboBox *basisBox()
{
    auto *box = new QComboBox;
    box->addItem(QStringLiteral("绝压"), QStringLiteral("(A)"));
    box->addItem(QStringLiteral("表压"), QStringLiteral("(G)"));
    return box;
}

} // namespace

UnitCalcWindow::UnitCalcWindow(const UnitConverter &converter, QWidget *parent)
    : QWidget(parent)
    , m_converter(converter)
{
    setWindowTitle(QStringLiteral("单位换算器"));
    m_categories = new QListWidget;
    for (const UnitCategory &c : UnitConverter::categories())
        m_categories->addItem(c.name);
    m_categories->setFixedWidth(110);

    m_value = new QLineEdit(QStringLiteral("1"));
    m_from = new QComboBox;
    m_to = new QComboBox;
    for (QComboBox *box : {m_from, m_to}) {
        box->setEditable(true);
        box->setInsertPolicy(QComboBox::NoInsert);
        box->setMinimumWidth(160);
    }
    m_fromBasis = basisBox();
    m_toBasis = basisBox();
    m_fromBasis->setCurrentIndex(1);
    auto *swap = new QPushButton(QStringLiteral("⇅ 交换"));
    m_atmosphere = new QLineEdit(QStringLiteral("101.325"));
    m_atmosphereLabel = new QLabel(QStringLiteral("当地大气压 kPa(A)"));
    m_density = new QLineEdit(QStringLiteral("998.2"));
    m_densityLabel = new QLabel(QStringLiteral("密度 kg/m3"));
    m_result = new QLineEdit;
    m_result->setReadOnly(true);
    QFont big = m_result->font();
    big.setPointSize(big.pointSize() + 3);
    big.setBold(true);
    m_result->setFont(big);
    m_message = new QLabel;
    m_message->setWordWrap(true);
    m_table = new QTableWidget(0, 2);
    m_table->setHorizontalHeaderLabels({QStringLiteral("单位"), QStringLiteral("数值")});
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);

    auto *fromRow = new QHBoxLayout;
    fromRow->addWidget(m_from, 1);
    fromRow->addWidget(m_fromBasis);
    auto *toRow = new QHBoxLayout;
    toRow->addWidget(m_to, 1);
    toRow->addWidget(m_toBasis);
    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("数值"), m_value);
    form->addRow(QStringLiteral("从单位"), fromRow);
    form->addRow(QString(), swap);
    form->setAlignment(swap, Qt::AlignLeft);
    form->addRow(QStringLiteral("到单位"), toRow);
    form->addRow(m_atmosphereLabel, m_atmosphere);
    form->addRow(m_densityLabel, m_density);
    form->addRow(QStringLiteral("结果"), m_result);
    form->addRow(m_message);
    auto *right = new QVBoxLayout;
    right->addLayout(form);
    m_tableLabel = new QLabel;
    right->addWidget(m_tableLabel);
    right->addWidget(m_table, 1);
    auto *layout = new QHBoxLayout(this);
    layout->addWidget(m_categories);
    layout->addLayout(right, 1);

    connect(m_categories, &QListWidget::currentRowChanged, this, &UnitCalcWindow::selectCategory);
    for (QLineEdit *edit : {m_value, m_atmosphere, m_density})
        connect(edit, &QLineEdit::textChanged, this, &UnitCalcWindow::recompute);
    for (QComboBox *box : {m_from, m_to})
        connect(box, &QComboBox::currentTextChanged, this, &UnitCalcWindow::recompute);
    for (QComboBox *box : {m_fromBasis, m_toBasis})
        connect(box, &QComboBox::currentIndexChanged, this, &UnitCalcWindow::recompute);
    connect(swap, &QPushButton::clicked, this, [this] {
        const QString from = m_from->currentText();
        const int basis = m_fromBasis->currentIndex();
        m_from->setCurrentText(m_to->currentText());
        m_fromBasis->setCurrentIndex(m_toBasis->currentIndex());
        m_to->setCurrentText(from);
        m_toBasis->setCurrentIndex(basis);
    });
    m_categories->setCurrentRow(0);
    resize(620, 460);
}

void UnitCalcWindow::selectCategory(int row)
{
    if (row < 0 || row >= int(UnitConverter::categories().size()))
        return;
    const UnitCategory &c = UnitConverter::categories()[size_t(row)];
    for (QComboBox *box : {m_from, m_to}) {
        const QSignalBlocker block(box);
        box->clear();
        box->addItems(c.units);
    }
    m_from->setCurrentIndex(0);
    m_to->setCurrentIndex(c.units.size() > 1 ? 1 : 0);
    for (QWidget *w : {static_cast<QWidget *>(m_fromBasis),
                       static_cast<QWidget *>(m_toBasis),
                       static_cast<QWidget *>(m_atmosphereLabel),
                       static_cast<QWidget *>(m_atmosphere)})
        w->setVisible(c.pressure);
    m_densityLabel->setVisible(c.viscosity);
    m_tableLabel->setText(c.pressure ? QStringLiteral("常用单位一览（按“到单位”的表压/绝压）")
                                     : QStringLiteral("常用单位一览"));
    m_density->setVisible(c.viscosity);
    recompute();
}

QString UnitCalcWindow::sourceUnit() const
{
    const UnitCategory *c = UnitConverter::category(m_categories->currentItem()->text());
    QString unit = m_from->currentText().trimmed();
    if (c && c->pressure && splitPressureBasis(unit).basis == PressureBasis::Unmarked)
        unit += m_fromBasis->currentData().toString();
    return unit;
}

QString UnitCalcWindow::targetUnit(const QString &unit) const
{
    const UnitCategory *c = UnitConverter::category(m_categories->currentItem()->text());
    if (c && c->pressure && splitPressureBasis(unit).basis == PressureBasis::Unmarked)
        return unit.trimmed() + m_toBasis->currentData().toString();
    return unit.trimmed();
}

void UnitCalcWindow::recompute()
{
    if (!m_categories->currentItem())
        return;
    const UnitCategory &category = *UnitConverter::category(m_categories->currentItem()->text());
    m_result->clear();
    m_table->setRowCount(0);
    auto fail = [this](const QString &text) {
        m_message->setStyleSheet(QStringLiteral("color: #b00000"));
        m_message->setText(text);
    };
    double value = 0;
    if (!readNumber(m_value->text(), value))
        return fail(QStringLiteral("数值“%1”不是数字").arg(m_value->text()));
    ConversionConditions conditions;
    if (category.pressure) {
        double kpa = 0;
        if (!readNumber(m_atmosphere->text(), kpa) || kpa <= 0)
            return fail(QStringLiteral("当地大气压“%1”不是正数").arg(m_atmosphere->text()));
        conditions.atmospherePa = kpa * 1000.0;
    }
    if (category.viscosity) {
        double rho = 0;
        if (readNumber(m_density->text(), rho))
            conditions.densityKgM3 = rho;
    }
    try {
        const QString from = sourceUnit();
        if (!m_converter.belongsTo(from, category))
            return fail(QStringLiteral("“%1”不是%2单位").arg(from, category.name));
        const QString to = targetUnit(m_to->currentText());
        if (!m_converter.belongsTo(to, category))
            return fail(QStringLiteral("“%1”不是%2单位").arg(to, category.name));
        m_result->setText(formatValue(m_converter.convert(value, from, to, conditions)) + ' ' + to);
        m_message->setStyleSheet(QString());
        m_message->setText(QStringLiteral("%1 = %2").arg(splitPressureBasis(from).unit,
                                                         m_converter.canonical(from)));
        for (const QString &unit : category.units) {
            const QString target = targetUnit(unit);
            QString shown;
            try {
                shown = formatValue(m_converter.convert(value, from, target, conditions));
            } catch (const Error &e) {
                shown = e.message();
            }
            const int row = m_table->rowCount();
            m_table->insertRow(row);
            m_table->setItem(row, 0, new QTableWidgetItem(target));
            m_table->setItem(row, 1, new QTableWidgetItem(shown));
        }
    } catch (const Error &e) {
        fail(e.message());
    }
}

} // namespace tessarin
