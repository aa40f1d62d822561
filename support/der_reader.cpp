#include "support/der_reader.h"

namespace tarn {

bool DerReader::Next(DerItem& item)
{
    if (size_ - offset_ < 2) {
        return false;
    }
    const uint8_t tag = data_[offset_];
    if ((tag & 0x1F) == 0x1F) {
        return false;  // tags of several bytes occur in no key file
    }
    size_t at = offset_ + 1;
    size_t length = data_[at++];
    if (length & 0x80) {
        const size_t bytes = length & 0x7F;
        if (bytes == 0 || bytes > 4 || size_ - at < bytes) {
            return false;  // indefinite or absurd
        }
        length = 0;
        for (size_t i = 0; i < bytes; ++i) {
            length = (length << 8) | data_[at++];
        }
    }
    if (length > size_ - at) {
        return false;
    }
    item.tag = tag;
    item.data = data_ + at;
    item.size = length;
    offset_ = at + length;
    return true;
}

}  // namespace tarn
