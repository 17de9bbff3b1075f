#include "editcommands.h"

#include <algorithm>
#include <utility>

namespace tessarin {

TqzStepCommand::TqzStepCommand(TqzEditTarget &target,
                               const QString &text,
                               TqzResultView viewBefore,
                               TqzResultView viewAfter)
    : QUndoCommand(text)
    , m_target(target)
    , m_viewBefore(std::move(viewBefore))
    , m_viewAfter(std::move(viewAfter))
{}

void TqzStepCommand::undo()
{
    apply(false);
    m_target.applyResultView(m_viewBefore);
}

void TqzStepCommand::redo()
{
    if (std::exchange(m_pushed, false))
        return;
    apply(true);
    m_target.applyResultView(m_viewAfter);
}

TqzTextsCommand::TqzTextsCommand(TqzEditTarget &target,
                                 const QString &text,
                                 QList<TqzCellText> cells,
                                 QList<TqzNodeValue> nodes,
                                 TqzResultView viewBefore,
                                 TqzResultView viewAfter)
    : TqzStepCommand(target, text, std::move(viewBefore), std::move(viewAfter))
    , m_cells(std::move(cells))
    , m_nodes(std::move(nodes))
{}

TqzPageCommand::TqzPageCommand(TqzEditTarget &target,
                               const QString &text,
                               int page,
                               QByteArray before,
                               QByteArray after,
                               TqzResultView viewBefore,
                               TqzResultView viewAfter)
    : TqzStepCommand(target, text, std::move(viewBefore), std::move(viewAfter))
    , m_page(page)
    , m_before(std::move(before))
    , m_after(std::move(after))
{}

QList<TqzCellText> diffTexts(const QList<QList<QStringList>> &before,
                             const QList<QList<QStringList>> &after)
{
    QList<TqzCellText> changes;
    const auto pages = std::min(before.size(), after.size());
    for (qsizetype p = 0; p < pages; ++p) {
        const auto lines = std::min(before[p].size(), after[p].size());
        for (qsizetype l = 0; l < lines; ++l) {
            const QStringList &was = before[p][l];
            const QStringList &now = after[p][l];
            const auto cells = std::min(was.size(), now.size());
            for (qsizetype c = 0; c < cells; ++c)
                if (was[c] != now[c])
                    changes.append({static_cast<int>(p),
                                    static_cast<int>(l),
                                    static_cast<int>(c),
                                    was[c],
                                    now[c]});
        }
    }
    return changes;
}

QList<TqzNodeValue> diffValues(const QStringList &before, const QStringList &after)
{
    QList<TqzNodeValue> changes;
    const auto count = std::min(before.size(), after.size());
    for (qsizetype i = 0; i < count; ++i)
        if (before[i] != after[i])
            changes.append({static_cast<int>(i), before[i], after[i]});
    return changes;
}

} // namespace tessarin
