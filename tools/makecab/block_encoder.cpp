#include "tools/makecab/block_encoder.h"

#include <zlib.h>

#include <algorithm>

#include "tools/makecab/cabinet_format.h"

namespace tarn::makecab {

// One deflate state per encoder, reset for every block: setting one up costs
// more than packing a small block.
struct BlockEncoder::Deflater {
    z_stream stream{};
    bool ready = false;

    Deflater()
    {
        // Raw deflate (negative window bits): MSZIP has its own "CK" mark
        // and no zlib header or trailer.
        ready = deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    }
    ~Deflater()
    {
        if (ready) {
            deflateEnd(&stream);
        }
    }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;
};

BlockEncoder::BlockEncoder(bool compress)
{
    if (compress) {
        deflater_ = std::make_unique<Deflater>();
    }
}

BlockEncoder::~BlockEncoder() = default;

bool BlockEncoder::Encode(const std::vector<unsigned char>& data, std::vector<unsigned char>& record)
{
    size_t packedSize = data.size();
    if (!deflater_) {
        record.resize(kDataHeaderSize + data.size());
        std::copy(data.begin(), data.end(), record.begin() + kDataHeaderSize);
    } else {
        z_stream& stream = deflater_->stream;
        if (!deflater_->ready || deflateReset(&stream) != Z_OK) {
            return false;
        }
        const uLong bound = deflateBound(&stream, static_cast<uLong>(data.size()));
        record.resize(kDataHeaderSize + 2 + std::max<size_t>(bound, data.size() + 5));
        record[kDataHeaderSize] = 'C';
        record[kDataHeaderSize + 1] = 'K';
        stream.next_in = const_cast<Bytef*>(data.data());
        stream.avail_in = static_cast<uInt>(data.size());
        stream.next_out = record.data() + kDataHeaderSize + 2;
        stream.avail_out = static_cast<uInt>(bound);
        if (deflate(&stream, Z_FINISH) != Z_STREAM_END) {
            return false;
        }
        packedSize = 2 + stream.total_out;
        if (packedSize > kMaxPackedBlock) {
            // Incompressible data leaves deflate with a few bytes more than
            // it had: it goes into one stored deflate block instead (final
            // flag, type 0, its length and the length's complement).
            const uint16_t length = static_cast<uint16_t>(data.size());
            unsigned char* stored = record.data() + kDataHeaderSize + 2;
            stored[0] = 0x01;
            PutUint16(stored + 1, length);
            PutUint16(stored + 3, static_cast<uint16_t>(~length));
            std::copy(data.begin(), data.end(), stored + 5);
            packedSize = 2 + 5 + data.size();
        }
        record.resize(kDataHeaderSize + packedSize);
    }
    if (packedSize > kMaxPackedBlock || data.size() > kBlockSize) {
        return false;
    }
    unsigned char* header = record.data();
    PutUint16(header + 4, static_cast<uint16_t>(packedSize));
    PutUint16(header + 6, static_cast<uint16_t>(data.size()));
    const uint32_t dataSum = Checksum(record.data() + kDataHeaderSize, packedSize, 0);
    PutUint32(header, Checksum(header + 4, 4, dataSum));
    return true;
}

}  // namespace tarn::makecab
