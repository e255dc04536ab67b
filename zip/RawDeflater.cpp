#include "zip/RawDeflater.h"

#include <climits>
#include <zlib.h>

namespace zip {

struct RawDeflater::State {
    z_stream stream{};
    bool initialised = false;
    // Output is handed on in blocks of this size: large enough to keep the
    // number of write calls low, small enough to keep memory flat.
    unsigned char out[65536];
};

RawDeflater::RawDeflater() : state_(std::make_unique<State>()) {}

RawDeflater::~RawDeflater() {
    if (state_->initialised)
        deflateEnd(&state_->stream);
}

bool RawDeflater::Start() {
    if (state_->initialised)
        return deflateReset(&state_->stream) == Z_OK;
    // Negative window bits: raw deflate with a 32 KiB window.
    if (deflateInit2(&state_->stream, 8, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return false;
    state_->initialised = true;
    return true;
}

bool RawDeflater::Feed(const unsigned char* data, std::size_t size, bool finish, const Sink& sink) {
    if (!state_->initialised)
        return false;
    z_stream& zs = state_->stream;
    for (;;) {
        // Feed at most UINT_MAX bytes at a time (zlib counts in unsigned int).
        const std::size_t chunk = size > UINT_MAX ? UINT_MAX : size;
        zs.next_in = const_cast<unsigned char*>(data);
        zs.avail_in = static_cast<uInt>(chunk);
        const bool last = finish && chunk == size;
        int rc;
        do {
            zs.next_out = state_->out;
            zs.avail_out = sizeof state_->out;
            rc = deflate(&zs, last ? Z_FINISH : Z_NO_FLUSH);
            if (rc == Z_STREAM_ERROR)
                return false;
            const std::size_t produced = sizeof state_->out - zs.avail_out;
            if (produced > 0 && !sink(state_->out, produced))
                return false;
        } while (zs.avail_out == 0 || (last && rc != Z_STREAM_END));
        data += chunk;
        size -= chunk;
        if (size == 0)
            return true;
    }
}

} // namespace zip
