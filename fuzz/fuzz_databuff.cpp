// Runs a script of inserts, reads and resets from the input against a plain queue: the buffer
// must hand back exactly the bytes put in, in order, and keep its bookkeeping consistent.
#include "protocol/DataBuff.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <vector>

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

void checkState(const DataBuff &buff, const std::deque<char> &model)
{
    check(buff.dataLength() == int(model.size()));
    check(buff.freeSpace() == buff.capacity() - buff.dataLength());
    check(buff.readPosition() >= 0 && buff.readPosition() < std::max(1, buff.capacity()));
    check(buff.writePosition() >= 0 && buff.writePosition() < std::max(1, buff.capacity()));
    check(buff.isEmpty() == model.empty());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const int capacity = 1 + data[0] % 64;
    std::vector<char> store(static_cast<size_t>(capacity));
    DataBuff buff;
    buff.initital(capacity);
    std::deque<char> model;
    char counter = 0;

    for (size_t i = 1; i + 1 < size; i += 2) {
        const int op = data[i] % 4;
        const int len = int(data[i + 1] % 80) - 4; // a few negative lengths too
        if (op == 0 || op == 1) {
            std::vector<char> src(static_cast<size_t>(std::max(len, 0)));
            for (char &c : src)
                c = ++counter;
            const bool fits = len >= 0 && len <= capacity - int(model.size());
            check(buff.insertData(src.data(), len, store.data()) == (fits ? len : -1));
            if (fits)
                model.insert(model.end(), src.begin(), src.end());
        } else if (op == 2) {
            std::vector<char> dst(static_cast<size_t>(std::max(len, 0)));
            const bool enough = len >= 0 && len <= int(model.size());
            check(buff.getData(dst.data(), len, store.data()) == (enough ? len : -1));
            for (int k = 0; enough && k < len; ++k) {
                check(dst[size_t(k)] == model.front());
                model.pop_front();
            }
        } else {
            buff.initialBuffer();
            buff.restoreFreeSpace();
            model.clear();
        }
        checkState(buff, model);
    }
    return 0;
}
