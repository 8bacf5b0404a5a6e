#include "ContentScanner.h"

#include <algorithm>
#include <cstring>

ContentScanner::ContentScanner(
    const QVector<QByteArray> &keywords, const QByteArray &virusSignature)
{
    // The virus is looked for first: when both occur, the virus is the graver finding.
    auto add = [this](const QByteArray &bytes, Finding finding) {
        if (bytes.isEmpty())
            return;
        m_patterns.push_back({ bytes, finding });
        m_longest = std::max(m_longest, int(bytes.size()));
    };
    add(virusSignature, Virus);
    for (const QByteArray &keyword : keywords)
        add(keyword, Keyword);
}

bool ContentScanner::contains(const Pattern &pattern, const char *data, size_t size)
{
    return ::memmem(data, size, pattern.bytes.constData(), size_t(pattern.bytes.size())) != nullptr;
}

ContentScanner::Finding ContentScanner::scan(const char *data, int size)
{
    if (m_patterns.empty() || size <= 0)
        return Clean;
    // A match that begins in the carried end finishes within the first m_longest - 1 bytes of
    // this piece.
    m_seam.assign(m_carry);
    m_seam.append(data, size_t(std::min(size, m_longest - 1)));
    for (const Pattern &pattern : m_patterns) {
        if (contains(pattern, m_seam.data(), m_seam.size())
            || contains(pattern, data, size_t(size)))
            return pattern.finding;
    }
    carryOver(data, size);
    return Clean;
}

void ContentScanner::carryOver(const char *data, int size)
{
    const size_t keep = size_t(m_longest - 1);
    if (size_t(size) >= keep) {
        m_carry.assign(data + size_t(size) - keep, keep);
        return;
    }
    // A piece shorter than the carry: the seam holds the carry and all of the piece.
    m_carry.assign(m_seam, m_seam.size() - std::min(keep, m_seam.size()), std::string::npos);
}
