// Reads arbitrary key-information packets the way the key exchange does and checks what the
// readers hand on: a name cut at its terminator, never longer than its field, and a length that
// is the low 32 bits of the announced one.
#include "protocol/ControlPackets.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    key_info info;
    std::memset(&info, 0, sizeof info);
    std::memcpy(&info, data, qMin(size, sizeof info));

    if (keyDataLength(info) != qint32(quint32(quint64(info.length) & 0xffffffffu)))
        std::abort();

    QString name;
    const bool accepted = readKeyFileName(info, &name);
    const void *terminator = std::memchr(info.name, '\0', sizeof info.name);
    if (accepted != (terminator != nullptr))
        std::abort();
    if (accepted) {
        const int length = int(static_cast<const char *>(terminator) - info.name);
        if (name.toUtf8().contains('\0') || name != QString::fromUtf8(info.name, length))
            std::abort();
    }
    return 0;
}
