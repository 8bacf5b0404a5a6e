#pragma once

#include <QByteArray>
#include <QVector>
#include <string>
#include <vector>

// Scans a file's content, fed in pieces as it streams by, for the filtered keywords and the virus
// signature. A match that spans two pieces is found: the end of each piece is carried over, and
// only the seam (that end and the start of the next piece) is searched apart from the piece
// itself, so that no piece is copied.
class ContentScanner
{
public:
    enum Finding { Clean, Keyword, Virus };

    ContentScanner(const QVector<QByteArray> &keywords, const QByteArray &virusSignature);

    Finding scan(const char *data, int size);

private:
    struct Pattern {
        QByteArray bytes;
        Finding finding;
    };

    static bool contains(const Pattern &pattern, const char *data, size_t size);
    void carryOver(const char *data, int size);

    std::vector<Pattern> m_patterns;
    std::string m_carry; // the last bytes of the content so far, fewer than the longest pattern
    std::string m_seam;
    int m_longest = 0;
};
