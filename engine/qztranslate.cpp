#include "qztranslate.h"

#include "error.h"

#include <algorithm>
#include <limits>
#include <numeric>

namespace tessarin {

// Finds, in one pass over a text, which keys occur in it (Aho-Corasick automaton over the keys
// as UTF-16 code units). Keys are identified by their rank in application order.
class KeyMatcher
{
public:
    explicit KeyMatcher(const std::vector<std::unique_ptr<TqzDicElement>> &words)
    {
        // Application order: longer keys first, equal lengths in insertion order.
        std::vector<int> order(words.size());
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
            return words[static_cast<size_t>(a)]->Key.size()
                   > words[static_cast<size_t>(b)]->Key.size();
        });
        m_byRank.reserve(order.size());
        m_nodes.emplace_back();
        m_rootNext.assign(0x10000, 0);
        for (int entry : order) {
            const QString &key = words[static_cast<size_t>(entry)]->Key;
            if (key.isEmpty())
                continue; // an empty key matches nothing
            const int rank = static_cast<int>(m_byRank.size());
            m_byRank.push_back(entry);
            int node = 0;
            for (QChar ch : key)
                node = child(node, ch.unicode());
            m_nodes[static_cast<size_t>(node)].rank = rank;
        }
        buildLinks();
    }

    // The entry index (into the dictionary) of rank `rank`.
    int entryOf(int rank) const { return m_byRank[static_cast<size_t>(rank)]; }
    int keyCount() const { return static_cast<int>(m_byRank.size()); }

    // The smallest rank >= `from` among keys occurring in `text`, or -1.
    int firstPresent(const QString &text, int from) const
    {
        int best = std::numeric_limits<int>::max();
        int node = 0;
        for (QChar qc : text) {
            const char16_t c = qc.unicode();
            node = step(node, c);
            // Every key ending here: this node's nearest key node, then along the fail links.
            for (int k = m_nodes[static_cast<size_t>(node)].output; k > 0;
                 k = m_nodes[static_cast<size_t>(m_nodes[static_cast<size_t>(k)].fail)].output) {
                const int r = m_nodes[static_cast<size_t>(k)].rank;
                if (r >= from && r < best) {
                    best = r;
                    if (best == from)
                        return best;
                }
            }
        }
        return best == std::numeric_limits<int>::max() ? -1 : best;
    }

private:
    struct Node
    {
        std::vector<std::pair<char16_t, int>> next; // sorted by character
        int fail = 0;
        int output = 0; // nearest node along the fail chain (or itself) that ends a key; 0: none
        int rank = -1;  // the key ending exactly here
    };

    int find(int node, char16_t c) const
    {
        if (node == 0)
            return m_rootNext[c];
        const auto &next = m_nodes[static_cast<size_t>(node)].next;
        auto it = std::lower_bound(
            next.begin(), next.end(), c, [](const std::pair<char16_t, int> &e, char16_t v) {
                return e.first < v;
            });
        return it != next.end() && it->first == c ? it->second : 0;
    }

    // The child of `node` for `c`, created when missing.
    int child(int node, char16_t c)
    {
        if (const int found = find(node, c))
            return found;
        const int created = static_cast<int>(m_nodes.size());
        m_nodes.emplace_back();
        auto &next = m_nodes[static_cast<size_t>(node)].next;
        next.insert(std::lower_bound(next.begin(), next.end(), std::make_pair(c, 0)),
                    std::make_pair(c, created));
        if (node == 0)
            m_rootNext[c] = created;
        return created;
    }

    int step(int node, char16_t c) const
    {
        for (;;) {
            const int next = find(node, c);
            if (next || node == 0)
                return next;
            node = m_nodes[static_cast<size_t>(node)].fail;
        }
    }

    void buildLinks()
    {
        std::vector<int> queue;
        queue.reserve(m_nodes.size());
        for (const auto &e : m_nodes[0].next)
            queue.push_back(e.second);
        for (size_t head = 0; head < queue.size(); ++head) {
            const int u = queue[head];
            Node &nu = m_nodes[static_cast<size_t>(u)];
            const Node &failNode = m_nodes[static_cast<size_t>(nu.fail)];
            nu.output = nu.rank >= 0 ? u : failNode.output;
            for (const auto &e : nu.next) {
                queue.push_back(e.second);
                int f = nu.fail;
                int target = 0;
                for (;;) {
                    target = find(f, e.first);
                    if (target || f == 0)
                        break;
                    f = m_nodes[static_cast<size_t>(f)].fail;
                }
                m_nodes[static_cast<size_t>(e.second)].fail = target == e.second ? 0 : target;
            }
        }
    }

    std::vector<Node> m_nodes;
    std::vector<int> m_rootNext; // dense first step: the root has a child for most characters
    std::vector<int> m_byRank;
};

namespace {

struct Segment
{
    QString text;
    bool literal = false;
};

// Splits a text at double-quote pairs, from the left; an unpaired last quote stays ordinary text.
std::vector<Segment> splitLiterals(const QString &text)
{
    std::vector<Segment> segments;
    qsizetype pos = 0;
    for (;;) {
        const qsizetype open = text.indexOf(QLatin1Char('"'), pos);
        const qsizetype close = open < 0 ? -1 : text.indexOf(QLatin1Char('"'), open + 1);
        if (close < 0) {
            segments.push_back({text.mid(pos), false});
            return segments;
        }
        segments.push_back({text.mid(pos, open - pos), false});
        segments.push_back({text.mid(open, close + 1 - open), true});
        pos = close + 1;
    }
}

bool isNameChar(char16_t c)
{
    if (c < 0x80)
        return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')
               || c == u'_';
    return QChar(c).isLetterOrNumber();
}

// Whether the character at `k` may continue a number literal: name characters, "." and the sign
// of an exponent ("1E-3", "0x1P+4").
bool continuesNumber(const QString &text, qsizetype k)
{
    const char16_t c = text.at(k).unicode();
    if (isNameChar(c) || c == u'.')
        return true;
    if ((c != u'+' && c != u'-') || k == 0)
        return false;
    const char16_t prev = text.at(k - 1).unicode();
    return prev == u'e' || prev == u'E' || prev == u'p' || prev == u'P';
}

// Finds the number literals of a text from left to right, for ranges asked about in increasing
// order: a literal is a digit not preceded by a name character, with every character after it
// that continues a number. Each character is looked at about once however many ranges are asked
// about, so finding every occurrence of a key stays linear in the text.
class NumberScan
{
public:
    explicit NumberScan(const QString &text)
        : m_text(text)
    {}

    // Whether any character in [pos, end) belongs to a number literal. `pos` may not be smaller
    // than in the call before.
    bool touches(qsizetype pos, qsizetype end)
    {
        if (m_next < 0) {
            // The scan starts at the run of characters around the first range: no literal
            // crosses a character that cannot continue one.
            m_next = pos;
            while (m_next > 0 && continuesNumber(m_text, m_next - 1))
                --m_next;
        }
        for (;;) {
            if (m_literalEnd > pos && m_literalBegin < end)
                return true;
            if (m_next >= end)
                return false;
            const char16_t c = m_text.at(m_next).unicode();
            if (c >= u'0' && c <= u'9'
                && (m_next == 0 || !isNameChar(m_text.at(m_next - 1).unicode()))) {
                qsizetype j = m_next + 1;
                while (j < m_text.size() && continuesNumber(m_text, j))
                    ++j;
                m_literalBegin = m_next;
                m_literalEnd = j;
                m_next = j;
            } else {
                ++m_next;
            }
        }
    }

private:
    const QString &m_text;
    qsizetype m_next = -1; // where the scan goes on
    qsizetype m_literalBegin = 0;
    qsizetype m_literalEnd = 0; // the last literal found
};

// Where `key` occurs in `text` outside number literals: left to right, not overlapping; an
// occurrence touching a literal is passed over and the search goes on at its next character.
void keyOccurrences(const QString &text, const QString &key, std::vector<qsizetype> &found)
{
    found.clear();
    NumberScan numbers(text);
    qsizetype pos = text.indexOf(key, 0, Qt::CaseSensitive);
    while (pos >= 0) {
        const qsizetype end = pos + key.size();
        if (numbers.touches(pos, end)) {
            pos = text.indexOf(key, pos + 1, Qt::CaseSensitive);
            continue;
        }
        found.push_back(pos);
        pos = text.indexOf(key, end, Qt::CaseSensitive);
    }
}

QString replaceAt(const QString &text,
                  const std::vector<qsizetype> &at,
                  qsizetype keySize,
                  const QString &value)
{
    QString out;
    out.reserve(text.size() + static_cast<qsizetype>(at.size()) * (value.size() - keySize));
    qsizetype from = 0;
    for (qsizetype pos : at) {
        out += QStringView(text).mid(from, pos - from);
        out += value;
        from = pos + keySize;
    }
    out += QStringView(text).mid(from);
    return out;
}

QString formulaLabel(const QString &text)
{
    const QString simplified = text.simplified();
    return simplified.size() <= 40 ? simplified : simplified.left(40) + QStringLiteral("...");
}

QString trimControls(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= u' ')
        ++begin;
    while (end > begin && text.at(end - 1).unicode() <= u' ')
        --end;
    return text.mid(begin, end - begin);
}

} // namespace

TqzTranslate::TqzTranslate() = default;

TqzTranslate::~TqzTranslate() = default;

void TqzTranslate::AddWord(const QString &key, const QString &value)
{
    const QString folded = key.toCaseFolded();
    const auto it = m_index.constFind(folded);
    if (it != m_index.constEnd()) {
        m_words[static_cast<size_t>(*it)]->Value = value;
        return;
    }
    m_index.insert(folded, static_cast<int>(m_words.size()));
    m_words.push_back(std::make_unique<TqzDicElement>(key, value));
    m_matcher.reset();
}

void TqzTranslate::Clear()
{
    m_words.clear();
    m_index.clear();
    m_matcher.reset();
}

QString TqzTranslate::valueOf(const QString &key) const
{
    const auto it = m_index.constFind(key.toCaseFolded());
    return it == m_index.constEnd() ? QString() : m_words[static_cast<size_t>(*it)]->Value;
}

QString TqzTranslate::Translate(const QString &text, qsizetype maxLength) const
{
    std::vector<Segment> segments = splitLiterals(text);
    qsizetype size = text.size();
    if (!m_words.empty()) {
        if (!m_matcher)
            m_matcher = std::make_unique<KeyMatcher>(m_words);
        // Keys are applied in rank order; a key absent from the current text would change
        // nothing, so each round jumps straight to the next key that occurs.
        int from = 0;
        std::vector<std::vector<qsizetype>> found(segments.size()); // reused for every key
        while (from < m_matcher->keyCount()) {
            int rank = -1;
            for (const Segment &s : segments) {
                if (s.literal)
                    continue;
                const int r = m_matcher->firstPresent(s.text, from);
                if (r >= 0 && (rank < 0 || r < rank))
                    rank = r;
            }
            if (rank < 0)
                break;
            const TqzDicElement &e = *m_words[static_cast<size_t>(m_matcher->entryOf(rank))];
            qsizetype grown = size;
            for (size_t k = 0; k < segments.size(); ++k) {
                if (segments[k].literal)
                    continue;
                keyOccurrences(segments[k].text, e.Key, found[k]);
                grown += static_cast<qsizetype>(found[k].size()) * (e.Value.size() - e.Key.size());
            }
            // Checked before the text is built: one key alone can multiply its length.
            if (grown > size && grown > maxLength)
                throw Error(QStringLiteral("formula \"%1\": replacing \"%2\" makes it longer "
                                           "than %3 characters; do values of names hold other "
                                           "names?")
                                .arg(formulaLabel(text), e.Key)
                                .arg(maxLength));
            for (size_t k = 0; k < segments.size(); ++k)
                if (!found[k].empty())
                    segments[k].text = replaceAt(segments[k].text, found[k], e.Key.size(), e.Value);
            size = grown;
            from = rank + 1;
        }
    }
    QString joined;
    joined.reserve(size);
    for (const Segment &s : segments)
        joined += s.text;
    return trimControls(joined);
}

} // namespace tessarin
