// Raw deflate (no zlib header or trailer) at level 8 over a stream of blocks,
// handing its output on in bounded blocks so memory stays constant.
#pragma once
#include <cstddef>
#include <functional>
#include <memory>

namespace zip {

class RawDeflater {
public:
    // Receives each block of compressed output; false stops compression.
    using Sink = std::function<bool(const unsigned char* data, std::size_t size)>;

    RawDeflater();
    ~RawDeflater();
    RawDeflater(const RawDeflater&) = delete;
    RawDeflater& operator=(const RawDeflater&) = delete;

    // Begins a new stream (the compressor's memory is reused between entries).
    bool Start();
    // Compresses size bytes; with finish set, also ends the stream.
    // False when zlib fails or the sink refuses a block.
    bool Feed(const unsigned char* data, std::size_t size, bool finish, const Sink& sink);

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace zip
