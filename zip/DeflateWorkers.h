// Worker threads that compress the blocks of one raw deflate stream side by
// side: each block is primed with the end of the block before it and ends on
// a byte boundary, so the outputs written in order form one valid stream.
#pragma once
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace zip {

// Uncompressed bytes per block: large enough that the dictionary cut at each
// boundary costs next to nothing, small enough to keep memory flat.
inline constexpr std::size_t kDeflateBlockSize = 128 * 1024;
// The deflate window: the dictionary each block gets from the one before.
inline constexpr std::size_t kDeflateDictionarySize = 32 * 1024;

// One block of input and, once compressed, its output. The submitter owns it
// and must not touch it between Submit and the moment Done reports it.
struct DeflateBlock {
    std::vector<unsigned char> input;
    std::size_t inputSize = 0;
    std::vector<unsigned char> dictionary;
    std::size_t dictionarySize = 0;
    bool last = false; // ends the stream; otherwise ends with a sync flush
    std::vector<unsigned char> output;
    std::size_t outputSize = 0;
    std::uint32_t crc = 0; // CRC-32 of the input
    bool ok = false;
    bool done = false; // guarded by the workers' mutex
};

class DeflateWorkers {
public:
    // Starts up to threads threads; fewer when the system refuses more.
    explicit DeflateWorkers(unsigned threads);
    // Drops what is queued, waits for the blocks in hand and joins.
    ~DeflateWorkers();
    DeflateWorkers(const DeflateWorkers&) = delete;
    DeflateWorkers& operator=(const DeflateWorkers&) = delete;

    unsigned Count() const { return static_cast<unsigned>(threads_.size()); }

    void Submit(DeflateBlock& block);
    // True when the block is compressed; otherwise waits up to timeout for it.
    bool WaitDone(DeflateBlock& block, std::chrono::milliseconds timeout);
    // Forgets every queued block and waits until no worker holds one, so the
    // submitter may free or reuse all of them.
    void Cancel();

private:
    void Work();
    static void Compress(void* stream, DeflateBlock& block);

    std::mutex mutex_;
    std::condition_variable wake_;     // work queued, or stop
    std::condition_variable finished_; // a block done, or a worker idle
    std::deque<DeflateBlock*> queue_;
    unsigned busy_ = 0;
    bool stop_ = false;
    std::vector<std::thread> threads_;
};

} // namespace zip
