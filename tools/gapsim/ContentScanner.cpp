#include "ContentScanner.h"

#include <algorithm>

ContentScanner::ContentScanner(
    const QVector<QByteArray> &keywords, const QByteArray &virusSignature)
{
    // The virus is looked for first: when both occur, the virus is the graver finding.
    auto add = [this](const QByteArray &bytes, Finding finding) {
        if (bytes.isEmpty())
            return;
        Pattern pattern { bytes, finding, nullptr };
        m_patterns.push_back(std::move(pattern));
        const QByteArray &stored = m_patterns.back().bytes;
        m_patterns.back().searcher
            = std::make_unique<Searcher>(stored.constData(), stored.constData() + stored.size());
        m_longest = std::max(m_longest, int(stored.size()));
    };
    add(virusSignature, Virus);
    for (const QByteArray &keyword : keywords)
        add(keyword, Keyword);
}

ContentScanner::~ContentScanner() = default;

bool ContentScanner::contains(const Pattern &pattern, const QByteArray &window) const
{
    const char *begin = window.constData();
    const char *end = begin + window.size();
    return std::search(begin, end, *pattern.searcher) != end;
}

ContentScanner::Finding ContentScanner::scan(const char *data, int size)
{
    if (m_patterns.empty() || size <= 0)
        return Clean;
    const QByteArray window = m_carry + QByteArray::fromRawData(data, size);
    for (const Pattern &pattern : m_patterns) {
        if (contains(pattern, window))
            return pattern.finding;
    }
    m_carry = window.right(m_longest - 1);
    return Clean;
}
