#include "model/TransferVerdict.h"

#include "protocol/TransferPackets.h"

namespace TransferVerdict {

QString text(quint64 type)
{
    switch (type) {
    case kTypeTypeRefused:
        return kTypeRefused;
    case kTypeKeywordFound:
        return kKeyword;
    case kTypeVirusFound:
        return kVirus;
    default:
        return QString();
    }
}

} // namespace TransferVerdict
