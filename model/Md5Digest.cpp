#include "model/Md5Digest.h"

#include <QCryptographicHash>
#include <limits>
#include <openssl/evp.h>

#if defined(GAP_MD5_QT)
const Md5Digest::Engine Md5Digest::kDefaultEngine = Md5Digest::Engine::Qt;
#else
const Md5Digest::Engine Md5Digest::kDefaultEngine = Md5Digest::Engine::Libcrypto;
#endif

namespace {

// Fetched once: an implicit fetch by name at every start would cost more than a small file's
// whole digest.
const EVP_MD *md5Method()
{
    static EVP_MD *const method = EVP_MD_fetch(nullptr, "MD5", nullptr);
    return method;
}

} // namespace

Md5Digest::Md5Digest(Engine engine)
{
    if (engine == Engine::Qt) {
        m_qt = std::make_unique<QCryptographicHash>(QCryptographicHash::Md5);
        return;
    }
    m_context = EVP_MD_CTX_new();
    m_failed
        = !m_context || !md5Method() || EVP_DigestInit_ex(m_context, md5Method(), nullptr) != 1;
}

Md5Digest::~Md5Digest() { EVP_MD_CTX_free(m_context); }

void Md5Digest::addData(const char *data, qint64 length)
{
    if (m_qt) {
        // Qt takes an int at a time.
        constexpr qint64 kMostAtOnce = std::numeric_limits<int>::max();
        for (qint64 done = 0; done < length; done += kMostAtOnce)
            m_qt->addData(data + done, int(qMin(kMostAtOnce, length - done)));
        return;
    }
    if (!m_failed && length > 0)
        m_failed = EVP_DigestUpdate(m_context, data, size_t(length)) != 1;
}

QByteArray Md5Digest::hexResult()
{
    if (m_qt)
        return m_qt->result().toHex().toUpper();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (m_failed || EVP_DigestFinal_ex(m_context, digest, &length) != 1)
        return QByteArray();
    return QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex().toUpper();
}

QByteArray Md5Digest::hexOf(const QByteArray &data, Engine engine)
{
    Md5Digest digest(engine);
    digest.addData(data.constData(), data.size());
    return digest.hexResult();
}
