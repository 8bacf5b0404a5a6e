// Feeds arbitrary configuration-data packets, one after another, into a fresh gap record that
// has a send rule, and checks that the record stays within its bounds.
#include "model/BaseFunction.h"
#include "model/GlobalData.h"
#include "protocol/ControlPackets.h"

#include <QSet>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

const char kGapIP[] = "10.0.0.1";

_SENDPATH_LISTDATA *sendRule()
{
    static _SENDPATH_LISTDATA *rule = [] {
        auto *r = new _SENDPATH_LISTDATA;
        std::strcpy(r->GapIP, kGapIP);
        std::strcpy(r->ToUser, "bob");
        g_SendPathList.append(r);
        return r;
    }();
    return rule;
}

template <typename Path> void checkPaths(const Path *paths, int count)
{
    if (count < 0 || count > kMaxPathsPerGap)
        std::abort();
    QSet<QString> seen;
    for (int i = 0; i < count; ++i) {
        if (seen.contains(paths[i].pathID))
            std::abort(); // a path is stored once
        seen.insert(paths[i].pathID);
    }
    for (int i = count; i < kMaxPathsPerGap; ++i) {
        if (!paths[i].pathID.isEmpty())
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    sendRule();
    auto gap = std::make_unique<_VKGAPIP_CONF>();
    std::strcpy(gap->HostIP, kGapIP);
    for (size_t offset = 0; offset < size; offset += kPacketSize) {
        _PACKET_CONF_DATA pkt;
        std::memset(&pkt, 0, sizeof pkt);
        std::memcpy(&pkt, data + offset, qMin(size - offset, sizeof pkt));
        BaseFunction::DealWithConfData(gap.get(), &pkt);
        checkPaths(gap->sendPaths, gap->sendPathCount);
        checkPaths(gap->recvPaths, gap->recvPathCount);
    }
    return 0;
}
