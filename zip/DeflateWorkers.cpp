#include "zip/DeflateWorkers.h"

#include <new>
#include <system_error>
#include <zlib.h>

namespace zip {

DeflateWorkers::DeflateWorkers(unsigned threads) {
    threads_.reserve(threads);
    for (unsigned i = 0; i < threads; ++i) {
        try {
            threads_.emplace_back([this] { Work(); });
        } catch (const std::system_error&) {
            break; // work with the threads there are
        }
    }
}

DeflateWorkers::~DeflateWorkers() {
    Cancel();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_)
        t.join();
}

void DeflateWorkers::Submit(DeflateBlock& block) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        block.done = false;
        block.ok = false;
        queue_.push_back(&block);
    }
    wake_.notify_one();
}

bool DeflateWorkers::WaitDone(DeflateBlock& block, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return finished_.wait_for(lock, timeout, [&] { return block.done; });
}

void DeflateWorkers::Cancel() {
    std::unique_lock<std::mutex> lock(mutex_);
    queue_.clear();
    finished_.wait(lock, [this] { return busy_ == 0; });
}

void DeflateWorkers::Work() {
    z_stream zs{};
    // Level 8, raw deflate with a 32 KiB window: the same as one stream.
    const bool ready = deflateInit2(&zs, 8, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
        if (stop_)
            break;
        DeflateBlock& block = *queue_.front();
        queue_.pop_front();
        ++busy_;
        lock.unlock();
        if (ready)
            Compress(&zs, block);
        lock.lock();
        --busy_;
        block.done = true;
        finished_.notify_all();
    }
    lock.unlock();
    if (ready)
        deflateEnd(&zs);
}

void DeflateWorkers::Compress(void* stream, DeflateBlock& block) {
    z_stream& zs = *static_cast<z_stream*>(stream);
    block.ok = false;
    block.outputSize = 0;
    block.crc = static_cast<std::uint32_t>(crc32_z(0, block.input.data(), block.inputSize));
    if (deflateReset(&zs) != Z_OK)
        return;
    if (block.dictionarySize > 0 &&
        deflateSetDictionary(&zs, block.dictionary.data(),
                             static_cast<uInt>(block.dictionarySize)) != Z_OK)
        return;
    try {
        // Room for the worst case plus the sync flush's empty stored block;
        // grown below should zlib still want more.
        const std::size_t bound = deflateBound(&zs, static_cast<uLong>(block.inputSize)) + 16;
        if (block.output.size() < bound)
            block.output.resize(bound);
    } catch (const std::bad_alloc&) {
        return;
    }
    zs.next_in = block.input.data();
    zs.avail_in = static_cast<uInt>(block.inputSize);
    const int flush = block.last ? Z_FINISH : Z_SYNC_FLUSH;
    for (;;) {
        zs.next_out = block.output.data() + block.outputSize;
        zs.avail_out = static_cast<uInt>(block.output.size() - block.outputSize);
        const int rc = deflate(&zs, flush);
        block.outputSize = block.output.size() - zs.avail_out;
        if (rc == Z_STREAM_ERROR)
            return;
        const bool complete = block.last ? rc == Z_STREAM_END : zs.avail_out != 0;
        if (complete)
            break;
        if (zs.avail_out != 0)
            return; // no progress with room to spare: zlib refuses
        try {
            block.output.resize(block.output.size() * 2);
        } catch (const std::bad_alloc&) {
            return;
        }
    }
    block.ok = zs.avail_in == 0;
}

} // namespace zip
