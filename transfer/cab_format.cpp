#include "transfer/cab_format.h"

namespace tarn::cab {

uint32_t Checksum(const unsigned char* data, size_t size, uint32_t seed)
{
    uint32_t sum = seed;
    size_t i = 0;
    for (; i + 4 <= size; i += 4) {
        sum ^= GetUint32(data + i);
    }
    uint32_t rest = 0;
    for (; i < size; ++i) {
        rest = (rest << 8) | data[i];
    }
    return sum ^ rest;
}

}  // namespace tarn::cab
