#include "nodeeditor.h"

#include "projecttree.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QDrag>
#include <QDropEvent>
#include <QFormLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QStringListModel>
#include <QTextBlock>
#include <QVBoxLayout>

#include <algorithm>

namespace tessarin {

namespace {

// The place of an item as a drag carries it: the tree (to tell a move from a copy) and the
// item's absolute index.
QByteArray placeOf(const TqzProjectTree &tree, const QModelIndex &item)
{
    return QByteArray::number(reinterpret_cast<quintptr>(&tree)) + ':'
           + QByteArray::number(tree.absoluteIndex(item));
}

QModelIndex itemOfPlace(const TqzProjectTree &tree, const QByteArray &place)
{
    const QList<QByteArray> parts = place.split(':');
    if (parts.size() != 2 || parts[0] != QByteArray::number(reinterpret_cast<quintptr>(&tree)))
        return {};
    bool ok = false;
    const int index = parts[1].toInt(&ok);
    return ok ? tree.itemAt(index) : QModelIndex();
}

// Characters that end a word of a formula.
bool isWordBreak(QChar c)
{
    return c.isSpace() || isFormulaPunctuation(c);
}

} // namespace

// ---- the tree view ----

TqzNodeTreeView::TqzNodeTreeView(QWidget *parent)
    : QTreeView(parent)
{
    setDragEnabled(true);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDropIndicatorShown(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::MoveAction);
}

void TqzNodeTreeView::startDrag(Qt::DropActions)
{
    const QModelIndex item = currentIndex();
    const auto *tree = qobject_cast<const TqzProjectTree *>(model());
    if (!tree || !item.isValid())
        return;
    auto *mime = new QMimeData;
    mime->setData(QString::fromLatin1(kNodePlaceMime), placeOf(*tree, item));
    mime->setData(QString::fromLatin1(kNodesMime), branchToXml(*tree, item));
    mime->setText(tree->node(item)->Name);
    auto *drag = new QDrag(this);
    drag->setMimeData(mime);
    // The drop carries the edit out; the view must not remove anything afterwards.
    drag->exec(Qt::MoveAction | Qt::CopyAction, Qt::MoveAction);
}

void TqzNodeTreeView::dropTarget(const QPoint &pos, QModelIndex &parent, int &row) const
{
    const QModelIndex at = indexAt(pos);
    if (!at.isValid()) {
        parent = QModelIndex();
        row = model() ? model()->rowCount() : 0;
        return;
    }
    const QRect rect = visualRect(at);
    const int margin = std::max(2, rect.height() / 4);
    if (pos.y() < rect.top() + margin) {
        parent = at.parent();
        row = at.row();
    } else if (pos.y() > rect.bottom() - margin && !isExpanded(at)) {
        parent = at.parent();
        row = at.row() + 1;
    } else {
        parent = at;
        row = model()->rowCount(at);
    }
}

void TqzNodeTreeView::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasFormat(QString::fromLatin1(kNodesMime)))
        event->acceptProposedAction();
    else
        event->ignore();
}

void TqzNodeTreeView::dragMoveEvent(QDragMoveEvent *event)
{
    // The base class draws the drop indicator.
    QTreeView::dragMoveEvent(event);
    if (event->mimeData()->hasFormat(QString::fromLatin1(kNodesMime)))
        event->acceptProposedAction();
    else
        event->ignore();
}

void TqzNodeTreeView::dropEvent(QDropEvent *event)
{
    if (!dropNodes(event->mimeData(), event->position().toPoint())) {
        event->ignore();
        return;
    }
    // The tree was changed here, as an edit; the drag must not remove the source afterwards.
    event->setDropAction(Qt::CopyAction);
    event->accept();
    stopAutoScroll();
    setState(NoState);
    viewport()->update();
}

bool TqzNodeTreeView::dropNodes(const QMimeData *mime, const QPoint &pos)
{
    const auto *tree = qobject_cast<const TqzProjectTree *>(model());
    if (!tree || !mime || !mime->hasFormat(QString::fromLatin1(kNodesMime)))
        return false;
    QModelIndex parent;
    int row = 0;
    dropTarget(pos, parent, row);
    const QModelIndex own = itemOfPlace(*tree, mime->data(QString::fromLatin1(kNodePlaceMime)));
    if (own.isValid()) {
        // A row below the item's own place counts without it.
        if (parent == own.parent() && row > own.row())
            --row;
        emit nodeMoved(own, parent, row);
    } else {
        emit nodesDropped(mime->data(QString::fromLatin1(kNodesMime)), parent, row);
    }
    return true;
}

// ---- highlighting ----

TqzFormulaHighlighter::TqzFormulaHighlighter(QTextDocument *document)
    : QSyntaxHighlighter(document)
{}

void TqzFormulaHighlighter::setWords(const QStringList &nodeNames, const QStringList &libraryNames)
{
    m_names = nodeNames;
    m_names.removeAll(QString());
    std::stable_sort(m_names.begin(), m_names.end(), [](const QString &a, const QString &b) {
        return a.size() > b.size();
    });
    m_library = QSet<QString>(libraryNames.begin(), libraryNames.end());
    rehighlight();
}

QList<TqzFormulaHighlighter::Kind> TqzFormulaHighlighter::classify(
    const QString &text, const QStringList &names, const QSet<QString> &library)
{
    QList<Kind> kinds(text.size(), Kind::Plain);
    // Node names where the translation finds them; the rest is told apart around them.
    for (const auto &[start, length] : formulaNameSpans(text, names))
        std::fill(kinds.begin() + start, kinds.begin() + start + length, Kind::Name);
    const auto free = [&kinds](qsizetype j) { return j < kinds.size() && kinds[j] != Kind::Name; };
    qsizetype i = 0;
    while (i < text.size()) {
        const QChar c = text[i];
        if (!free(i)) {
            ++i;
        } else if (c == u'"') {
            // A string literal, as the translation protects it.
            const qsizetype end = text.indexOf(u'"', i + 1);
            const qsizetype stop = end < 0 ? text.size() : end + 1;
            std::fill(kinds.begin() + i, kinds.begin() + stop, Kind::Text);
            i = stop;
        } else if (c.isDigit() || (c == u'.' && i + 1 < text.size() && text[i + 1].isDigit())) {
            qsizetype j = i;
            while (free(j) && (text[j].isDigit() || text[j] == u'.'))
                ++j;
            if (free(j) && (text[j] == u'e' || text[j] == u'E')) {
                qsizetype k = j + 1;
                if (free(k) && (text[k] == u'+' || text[k] == u'-'))
                    ++k;
                if (free(k) && text[k].isDigit()) {
                    j = k;
                    while (free(j) && text[j].isDigit())
                        ++j;
                }
            }
            std::fill(kinds.begin() + i, kinds.begin() + j, Kind::Number);
            i = j;
        } else if (c.isLetter() && c.unicode() < 0x80) {
            qsizetype j = i;
            while (free(j) && text[j].unicode() < 0x80
                   && (text[j].isLetterOrNumber() || text[j] == u'_'))
                ++j;
            if (library.contains(text.mid(i, j - i).toLower()))
                std::fill(kinds.begin() + i, kinds.begin() + j, Kind::Function);
            i = j;
        } else {
            if (isFormulaPunctuation(c))
                kinds[i] = Kind::Operator;
            ++i;
        }
    }
    return kinds;
}

void TqzFormulaHighlighter::highlightBlock(const QString &text)
{
    QTextCharFormat name;
    name.setForeground(QColor(0x00, 0x50, 0xa0));
    name.setFontWeight(QFont::Bold);
    QTextCharFormat number;
    number.setForeground(QColor(0x9a, 0x40, 0x00));
    QTextCharFormat function;
    function.setForeground(QColor(0x6a, 0x1b, 0x9a));
    QTextCharFormat op;
    op.setForeground(QColor(0x70, 0x70, 0x70));
    QTextCharFormat literal;
    literal.setForeground(QColor(0x2e, 0x7d, 0x32));
    const QList<Kind> kinds = classify(text, m_names, m_library);
    for (qsizetype i = 0; i < kinds.size();) {
        qsizetype j = i;
        while (j < kinds.size() && kinds[j] == kinds[i])
            ++j;
        const int from = static_cast<int>(i);
        const int length = static_cast<int>(j - i);
        switch (kinds[i]) {
        case Kind::Name:
            setFormat(from, length, name);
            break;
        case Kind::Number:
            setFormat(from, length, number);
            break;
        case Kind::Function:
            setFormat(from, length, function);
            break;
        case Kind::Operator:
            setFormat(from, length, op);
            break;
        case Kind::Text:
            setFormat(from, length, literal);
            break;
        case Kind::Plain:
            break;
        }
        i = j;
    }
}

// ---- the formula box ----

TqzFormulaEdit::TqzFormulaEdit(QWidget *parent)
    : QPlainTextEdit(parent)
    , m_completer(new QCompleter(this))
    , m_words(new QStringListModel(this))
    , m_highlighter(new TqzFormulaHighlighter(document()))
{
    setTabChangesFocus(true);
    m_completer->setModel(m_words);
    m_completer->setWidget(this);
    m_completer->setCompletionMode(QCompleter::PopupCompletion);
    m_completer->setCaseSensitivity(Qt::CaseInsensitive);
    m_completer->setFilterMode(Qt::MatchStartsWith);
    m_completer->popup()->setObjectName(QStringLiteral("formulaCompletions"));
    connect(m_completer,
            qOverload<const QString &>(&QCompleter::activated),
            this,
            &TqzFormulaEdit::insertCompletion);
}

void TqzFormulaEdit::setWords(const QStringList &nodeNames, const QStringList &libraryNames)
{
    QStringList words = nodeNames;
    words.removeAll(QString());
    words.append(libraryNames);
    words.removeDuplicates();
    std::sort(words.begin(), words.end());
    m_words->setStringList(words);
    m_highlighter->setWords(nodeNames, libraryNames);
}

QString TqzFormulaEdit::wordBeforeCursor() const
{
    const QTextCursor cursor = textCursor();
    const QString line = cursor.block().text();
    qsizetype at = cursor.positionInBlock();
    const qsizetype end = at;
    while (at > 0 && !isWordBreak(line[at - 1]))
        --at;
    return line.mid(at, end - at);
}

void TqzFormulaEdit::complete(bool always)
{
    const QString prefix = wordBeforeCursor();
    // Chinese names are short: one character is a word's beginning, two for Latin letters.
    const bool enough = prefix.size() >= 2 || (prefix.size() == 1 && prefix[0].unicode() >= 0x80);
    if (prefix.isEmpty() || (!always && !enough)) {
        m_completer->popup()->hide();
        return;
    }
    m_completer->setCompletionPrefix(prefix);
    if (m_completer->completionCount() == 0
        || (m_completer->completionCount() == 1 && m_completer->currentCompletion() == prefix)) {
        m_completer->popup()->hide();
        return;
    }
    m_completer->popup()->setCurrentIndex(m_completer->completionModel()->index(0, 0));
    QRect rect = cursorRect();
    rect.setWidth(m_completer->popup()->sizeHintForColumn(0)
                  + m_completer->popup()->verticalScrollBar()->sizeHint().width());
    m_completer->complete(rect);
}

void TqzFormulaEdit::insertCompletion(const QString &word)
{
    QTextCursor cursor = textCursor();
    const qsizetype typed = wordBeforeCursor().size();
    cursor.movePosition(QTextCursor::Left, QTextCursor::KeepAnchor, static_cast<int>(typed));
    cursor.insertText(word);
    setTextCursor(cursor);
}

void TqzFormulaEdit::keyPressEvent(QKeyEvent *event)
{
    if (m_completer->popup()->isVisible()) {
        switch (event->key()) {
        case Qt::Key_Enter:
        case Qt::Key_Return:
        case Qt::Key_Escape:
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            // The completer's popup takes these.
            event->ignore();
            return;
        default:
            break;
        }
    }
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && !(event->modifiers() & Qt::ShiftModifier)) {
        emit confirmed();
        return;
    }
    if (enter) {
        textCursor().insertText(QStringLiteral("\n"));
        return;
    }
    if (event->key() == Qt::Key_Escape) {
        emit cancelled();
        return;
    }
    if (event->key() == Qt::Key_Space && (event->modifiers() & Qt::ControlModifier)) {
        complete(true);
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
    if (!event->text().isEmpty() && !isWordBreak(event->text().back()))
        complete(false);
    else
        m_completer->popup()->hide();
}

void TqzFormulaEdit::focusOutEvent(QFocusEvent *event)
{
    QPlainTextEdit::focusOutEvent(event);
    // Focus that goes to the completion list stays in the formula.
    if (!m_completer->popup()->isVisible())
        emit confirmed();
}

// ---- the property panel ----

TqzNodeProperties::TqzNodeProperties(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("pnlNodeProperties"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    auto *form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    static const struct
    {
        TqzNodeField field;
        const char *objectName;
    } lines[] = {
        {TqzNodeField::Name, "edNodeName"},
        {TqzNodeField::Caption, "edNodeCode"},
        {TqzNodeField::Unit, "edNodeUnit"},
        {TqzNodeField::Value, "edNodeValue"},
        {TqzNodeField::Remark, "edNodeRemark"},
    };
    for (const auto &line : lines) {
        auto *edit = new QLineEdit(this);
        edit->setObjectName(QString::fromLatin1(line.objectName));
        m_lines.insert(line.field, edit);
        form->addRow(nodeFieldCaption(line.field) + QStringLiteral("："), edit);
        const TqzNodeField field = line.field;
        connect(edit, &QLineEdit::editingFinished, this, [this, field] { confirm(field); });
    }
    formula = new TqzFormulaEdit(this);
    formula->setObjectName(QStringLiteral("edNodeScript"));
    formula->setMinimumHeight(48);
    formula->setMaximumHeight(96);
    formula->setToolTip(QStringLiteral("Enter 确认，Shift+Enter 换行，Ctrl+空格 补全名称和函数"));
    form->addRow(nodeFieldCaption(TqzNodeField::Script) + QStringLiteral("："), formula);
    connect(formula, &TqzFormulaEdit::confirmed, this, [this] { confirm(TqzNodeField::Script); });
    connect(formula, &TqzFormulaEdit::cancelled, this, [this] {
        formula->setPlainText(m_shown.value(TqzNodeField::Script));
    });
    layout->addLayout(form);

    problem = new QLabel(this);
    problem->setObjectName(QStringLiteral("lblNodeProblem"));
    problem->setWordWrap(true);
    problem->setStyleSheet(QStringLiteral("color: #c00000;"));
    problem->hide();
    layout->addWidget(problem);

    checkFormula = new QPushButton(QStringLiteral("检查公式"), this);
    checkFormula->setObjectName(QStringLiteral("btnCheckFormula"));
    checkFormula->setToolTip(QStringLiteral("用当前取值翻译并计算公式，不改变节点"));
    connect(checkFormula, &QPushButton::clicked, this, [this] {
        emit formulaCheckRequested(formula->toPlainText());
    });
    layout->addWidget(checkFormula);
    trialText = new QPlainTextEdit(this);
    trialText->setObjectName(QStringLiteral("mmoFormulaCheck"));
    trialText->setReadOnly(true);
    trialText->setMaximumHeight(110);
    trialText->hide();
    layout->addWidget(trialText);
    layout->addStretch(1);
    showNode(nullptr);
}

void TqzNodeProperties::showNode(const TqzNode *node)
{
    if (node != m_node)
        showProblem(QString());
    m_node = node;
    m_shown.clear();
    for (auto it = m_lines.cbegin(); it != m_lines.cend(); ++it) {
        const QString text = node ? nodeField(*node, it.key()) : QString();
        m_shown.insert(it.key(), text);
        it.value()->setText(text);
        it.value()->setCursorPosition(0);
        it.value()->setEnabled(node != nullptr);
    }
    const QString script = node ? node->Script : QString();
    m_shown.insert(TqzNodeField::Script, script);
    if (formula->toPlainText() != script)
        formula->setPlainText(script);
    formula->setEnabled(node != nullptr);
    checkFormula->setEnabled(node != nullptr);
    trialText->hide();
}

void TqzNodeProperties::setWords(const QStringList &nodeNames, const QStringList &libraryNames)
{
    formula->setWords(nodeNames, libraryNames);
}

void TqzNodeProperties::showProblem(const QString &message)
{
    problem->setText(message);
    problem->setVisible(!message.isEmpty());
}

QString TqzNodeProperties::fieldText(TqzNodeField field) const
{
    if (field == TqzNodeField::Script)
        return formula->toPlainText();
    return m_lines.value(field)->text();
}

void TqzNodeProperties::confirm(TqzNodeField field)
{
    if (!m_shown.contains(field))
        return; // no node shown
    const QString text = fieldText(field);
    if (text == m_shown.value(field))
        return;
    // What the node holds is put back first: an accepted edit shows the node anew, a refused
    // one leaves the field as the node has it, beside the reason.
    if (field == TqzNodeField::Script)
        formula->setPlainText(m_shown.value(field));
    else
        m_lines.value(field)->setText(m_shown.value(field));
    emit fieldEdited(field, text);
}

void TqzNodeProperties::showTrial(const TqzFormulaTrial &trial)
{
    QStringList lines;
    lines << QStringLiteral("列计算式: ") + trial.coded;
    if (!trial.substituted.isEmpty())
        lines << QStringLiteral("代入数据: ") + trial.substituted;
    if (trial.succeeded) {
        lines << QStringLiteral("结果: ") + trial.result;
    } else {
        if (trial.errorAt >= 0) {
            // A caret under the place the interpreter names, in the numbers line.
            lines << QString(QStringLiteral("代入数据: ").size() + trial.errorAt, u' ')
                         + QString(std::max<qsizetype>(1, trial.errorLength), u'^');
        }
        lines << QStringLiteral("错误: ") + trial.error;
    }
    if (!trial.withoutValue.isEmpty())
        lines << QStringLiteral("尚无取值（先输入或计算）: ") + trial.withoutValue.join(QStringLiteral("、"));
    trialText->setPlainText(lines.join(u'\n'));
    trialText->setStyleSheet(trial.succeeded ? QString() : QStringLiteral("color: #c00000;"));
    trialText->show();
}

} // namespace tessarin
