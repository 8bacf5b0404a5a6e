#pragma once

#include <QByteArray>
#include <memory>

class QCryptographicHash;
struct evp_md_ctx_st;

// The MD5 digest of a transfer's content, fed in pieces, as the transfer carries it: 32
// upper-case hexadecimal characters. Both sides compute it here, the sender before it sends and
// the receiver over what it wrote, so that they cannot differ in how.
//
// Two engines give the same digest: libcrypto's, which runs faster than QCryptographicHash's on
// the machines we measured (bench/digest_bench prints both on one buffer), and Qt's. The client
// uses the one chosen when it is built (GAP_MD5=libcrypto, the default, or qt).
class Md5Digest
{
public:
    enum class Engine { Libcrypto, Qt };
    static const Engine kDefaultEngine;

    explicit Md5Digest(Engine engine = kDefaultEngine);
    ~Md5Digest();
    Md5Digest(const Md5Digest &) = delete;
    Md5Digest &operator=(const Md5Digest &) = delete;

    void addData(const char *data, qint64 length);
    // The digest of everything added; empty when the engine failed. Asked for once, at the end.
    QByteArray hexResult();

    static QByteArray hexOf(const QByteArray &data, Engine engine = kDefaultEngine);

private:
    evp_md_ctx_st *m_context = nullptr;
    std::unique_ptr<QCryptographicHash> m_qt;
    bool m_failed = false;
};
