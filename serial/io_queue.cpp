#include "serial/io_queue.h"

namespace linograf::serial {

void TIOQueue::Push(std::unique_ptr<TIOBuffer> item) {
    {
        std::lock_guard lock(mutex_);
        bytes_ += item->Size();
        items_.push_back(std::move(item));
        added_flag_ = true;
    }
    added_.notify_all();
}

TIOBuffer* TIOQueue::Peek() {
    std::lock_guard lock(mutex_);
    if (items_.empty() || items_.front()->InUse()) return nullptr;
    items_.front()->SetInUse(true);
    return items_.front().get();
}

void TIOQueue::Release(TIOBuffer* item) {
    std::lock_guard lock(mutex_);
    item->SetInUse(false);
}

std::unique_ptr<TIOBuffer> TIOQueue::Pop() {
    std::lock_guard lock(mutex_);
    if (items_.empty()) return nullptr;
    std::unique_ptr<TIOBuffer> item = std::move(items_.front());
    items_.pop_front();
    bytes_ -= item->Size();
    item->SetInUse(false);
    return item;
}

void TIOQueue::Clear() {
    std::lock_guard lock(mutex_);
    std::deque<std::unique_ptr<TIOBuffer>> kept;
    for (auto& item : items_) {
        if (item->InUse()) {
            kept.push_back(std::move(item));
        } else {
            bytes_ -= item->Size();
        }
    }
    items_.swap(kept);
}

void TIOQueue::Wait(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!items_.empty()) return;
    added_.wait_for(lock, timeout, [&] { return added_flag_; });
    added_flag_ = false;
}

void TIOQueue::Wake() {
    {
        std::lock_guard lock(mutex_);
        added_flag_ = true;
    }
    added_.notify_all();
}

uint64_t TIOQueue::BytesQueued() const {
    std::lock_guard lock(mutex_);
    return bytes_;
}

size_t TIOQueue::Count() const {
    std::lock_guard lock(mutex_);
    return items_.size();
}

}  // namespace linograf::serial
