#include "bench/PatternFile.h"

#include "tools/gapsim/GapWire.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRandomGenerator>
#include <algorithm>

namespace {

constexpr int kWriteChunk = 4 * 1024 * 1024;

} // namespace

PatternFile PatternFile::make(const QByteArray &name, qint64 size, int seed)
{
    PatternFile file;
    file.name = name;
    file.size = size;
    file.block.resize(kBlockPayloads * GapWire::kPayload);
    QRandomGenerator random(quint32(seed) + 1);
    random.fillRange(
        reinterpret_cast<quint32 *>(file.block.data()), file.block.size() / int(sizeof(quint32)));
    QCryptographicHash hash(QCryptographicHash::Md5);
    for (qint64 done = 0; done < size; done += file.block.size())
        hash.addData(file.content(done, file.block.size()));
    file.md5 = hash.result().toHex().toUpper();
    return file;
}

QByteArray PatternFile::content(qint64 offset, int length) const
{
    QByteArray bytes;
    bytes.reserve(length);
    while (bytes.size() < length && offset < size) {
        const int at = int(offset % block.size());
        const int take = int(
            std::min({ qint64(block.size() - at), qint64(length - bytes.size()), size - offset }));
        bytes.append(block.constData() + at, take);
        offset += take;
    }
    return bytes;
}

bool PatternFile::writeTo(const QString &path) const
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    for (qint64 done = 0; done < size; done += kWriteChunk) {
        const QByteArray chunk = content(done, kWriteChunk);
        if (file.write(chunk) != chunk.size())
            return false;
    }
    return true;
}
