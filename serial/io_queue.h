#pragma once
// The hand-off from the read and status threads to the dispatcher thread: a list of finished
// items under its own lock. Producers push only finished items, the dispatcher thread is the only
// reader, and the GUI thread only empties it, so an item is never read while being filled.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace linograf::serial {

class TIOBuffer {
  public:
    explicit TIOBuffer(uint32_t size) : size_(size) {}
    virtual ~TIOBuffer() = default;
    uint32_t Size() const { return size_; }
    bool InUse() const { return in_use_; }
    void SetInUse(bool in_use) { in_use_ = in_use; }

  private:
    bool in_use_ = false;  // guarded by the owning queue's lock
    uint32_t size_;
};

// Received bytes: a zero-filled block of `size` bytes, of which `filled` hold data and `taken`
// have been copied out already.
class TDataBuffer : public TIOBuffer {
  public:
    explicit TDataBuffer(uint32_t size) : TIOBuffer(size), data_(size, 0) {}
    uint8_t* Data() { return data_.data(); }
    const uint8_t* Data() const { return data_.data(); }
    uint32_t filled = 0;
    uint32_t taken = 0;

  private:
    std::vector<uint8_t> data_;
};

// A comm-event mask (the Windows event bits the dispatcher understands: 8 CTS, 16 DSR, 32 DCD,
// 64 break, 128 line error, 256 ring, 8192 ring trailing edge).
class TStatusBuffer : public TIOBuffer {
  public:
    explicit TStatusBuffer(uint32_t mask) : TIOBuffer(sizeof(uint32_t)), mask(mask) {}
    uint32_t mask;
};

// One dispatch-log entry; its size is the length of its data.
class TLogBuffer : public TIOBuffer {
  public:
    TLogBuffer(uint8_t type, uint16_t subtype, uint32_t time, uint32_t other, std::vector<uint8_t> data)
        : TIOBuffer(static_cast<uint32_t>(data.size())),
          type(type),
          subtype(subtype),
          time(time),
          other_data(other),
          data(std::move(data)) {}
    uint8_t type;
    uint16_t subtype;
    uint32_t time;
    uint32_t other_data;
    std::vector<uint8_t> data;
};

class TIOQueue {
  public:
    void Push(std::unique_ptr<TIOBuffer> item);
    // The first item marked in use, or null when the queue is empty or the first item is in use.
    // Give it back with Release (it stays first) or take it with Pop.
    TIOBuffer* Peek();
    void Release(TIOBuffer* item);
    std::unique_ptr<TIOBuffer> Pop();
    // Frees every item that is not in use.
    void Clear();
    // Returns at once when the queue holds items, else waits at most `timeout` for one.
    void Wait(std::chrono::milliseconds timeout);
    // Ends a Wait at once without adding an item (a stop request).
    void Wake();
    uint64_t BytesQueued() const;
    size_t Count() const;

  private:
    mutable std::mutex mutex_;
    std::condition_variable added_;
    bool added_flag_ = false;  // the auto-reset "item added" event
    std::deque<std::unique_ptr<TIOBuffer>> items_;
    uint64_t bytes_ = 0;
};

}  // namespace linograf::serial
