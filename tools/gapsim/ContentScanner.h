#pragma once

#include <QByteArray>
#include <QVector>
#include <functional>
#include <memory>
#include <vector>

// Scans a file's content, fed in pieces as it streams by, for the filtered keywords and the virus
// signature. A match that spans two pieces is found: the end of each piece is carried over.
class ContentScanner
{
public:
    enum Finding { Clean, Keyword, Virus };

    ContentScanner(const QVector<QByteArray> &keywords, const QByteArray &virusSignature);
    ~ContentScanner();

    Finding scan(const char *data, int size);

private:
    using Searcher = std::boyer_moore_horspool_searcher<const char *>;
    struct Pattern {
        QByteArray bytes;
        Finding finding;
        std::unique_ptr<Searcher> searcher;
    };

    bool contains(const Pattern &pattern, const QByteArray &window) const;

    std::vector<Pattern> m_patterns;
    QByteArray m_carry;
    int m_longest = 0;
};
