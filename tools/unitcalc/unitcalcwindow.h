#pragma once

#include <QWidget>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QTableWidget;

namespace tessarin {

class UnitConverter;

// The converter's window: a category list, a value with its unit, the target unit (free-form,
// any unit udunits2 reads), the pressure basis and atmosphere or the density where the category
// needs them, and the value in every common unit of the category.
class UnitCalcWindow : public QWidget
{
    Q_OBJECT
public:
    // `converter` is borrowed and must outlive the window.
    explicit UnitCalcWindow(const UnitConverter &converter, QWidget *parent = nullptr);

private:
    void selectCategory(int row);
    void recompute();
    QString sourceUnit() const;
    QString targetUnit(const QString &unit) const;

    const UnitConverter &m_converter;
    QListWidget *m_categories = nullptr;
    QLineEdit *m_value = nullptr;
    QComboBox *m_from = nullptr;
    QComboBox *m_fromBasis = nullptr;
    QComboBox *m_to = nullptr;
    QComboBox *m_toBasis = nullptr;
    QLabel *m_atmosphereLabel = nullptr;
    QLineEdit *m_atmosphere = nullptr;
    QLabel *m_densityLabel = nullptr;
    QLineEdit *m_density = nullptr;
    QLineEdit *m_result = nullptr;
    QLabel *m_message = nullptr;
    QLabel *m_tableLabel = nullptr;
    QTableWidget *m_table = nullptr;
};

} // namespace tessarin
