#pragma once
// A reader of DER encoded ASN.1 items, one level at a time: enough to find
// the fields of a key file. It checks every length against the bytes it has
// and takes definite lengths of at most four bytes only.

#include <cstddef>
#include <cstdint>

namespace tarn {

struct DerItem {
    uint8_t tag = 0;
    const uint8_t* data = nullptr;  // the contents, without tag and length
    size_t size = 0;
};

class DerReader {
public:
    DerReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    explicit DerReader(const DerItem& item) : DerReader(item.data, item.size) {}

    // The next item; false at the end or on a malformed tag or length.
    bool Next(DerItem& item);
    // The next item, which must carry `tag`.
    bool Next(uint8_t tag, DerItem& item) { return Next(item) && item.tag == tag; }
    bool AtEnd() const { return offset_ == size_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t offset_ = 0;
};

namespace der {
constexpr uint8_t kInteger = 0x02;
constexpr uint8_t kBitString = 0x03;
constexpr uint8_t kOctetString = 0x04;
constexpr uint8_t kObjectId = 0x06;
constexpr uint8_t kSequence = 0x30;
constexpr uint8_t kContext0 = 0xA0;
constexpr uint8_t kContext1 = 0xA1;
}  // namespace der

}  // namespace tarn
