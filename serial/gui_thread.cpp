#include "serial/gui_thread.h"

#include <deque>
#include <thread>
#include <vector>

namespace linograf::serial {

void GuiCall::Run() {
    {
        std::lock_guard lock(mutex_);
        if (state_ != State::Queued) return;
        state_ = State::Running;
    }
    // The body's exceptions are the caller's business (the component catches its handlers'); make
    // sure the sender is released whatever happens.
    struct Finish {
        GuiCall* call;
        ~Finish() {
            std::lock_guard lock(call->mutex_);
            call->state_ = State::Finished;
            call->changed_.notify_all();
        }
    } finish{this};
    body_();
}

bool GuiCall::WaitFinished(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout,
                             [&] { return state_ == State::Finished || state_ == State::Cancelled; });
}

bool GuiCall::CancelIfQueued() {
    std::lock_guard lock(mutex_);
    if (state_ != State::Queued) return false;
    state_ = State::Cancelled;
    changed_.notify_all();
    return true;
}

GuiCall::State GuiCall::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

GuiThread::SendResult GuiThread::SendAndWait(std::function<void()> call, std::chrono::milliseconds timeout,
                                             std::shared_ptr<GuiCall>* late) {
    if (IsGuiThread()) {
        call();
        return SendResult::Handled;
    }
    auto shared = std::make_shared<GuiCall>(std::move(call));
    Post([shared] { shared->Run(); });
    if (shared->WaitFinished(timeout)) return SendResult::Handled;
    if (shared->CancelIfQueued()) return SendResult::NotStarted;
    // It started meanwhile: it may also have finished between the two checks.
    if (shared->state() == GuiCall::State::Finished) return SendResult::Handled;
    if (late != nullptr) *late = shared;
    return SendResult::StillRunning;
}

struct PlainGuiThread::State {
    std::thread::id owner = std::this_thread::get_id();
    std::mutex mutex;
    std::condition_variable posted;
    std::deque<std::function<void()>> queue;
    std::vector<std::string> errors;
};

PlainGuiThread::PlainGuiThread() : state_(std::make_shared<State>()) {}

void PlainGuiThread::Post(std::function<void()> call) {
    {
        std::lock_guard lock(state_->mutex);
        state_->queue.push_back(std::move(call));
    }
    state_->posted.notify_all();
}

void PlainGuiThread::PumpPending() {
    std::deque<std::function<void()>> batch;
    {
        std::lock_guard lock(state_->mutex);
        batch.swap(state_->queue);
    }
    for (auto& call : batch) call();
}

bool PlainGuiThread::IsGuiThread() const {
    return std::this_thread::get_id() == state_->owner;
}

void PlainGuiThread::ShowError(const std::string& message) {
    std::lock_guard lock(state_->mutex);
    state_->errors.push_back(message);
}

std::vector<std::string> PlainGuiThread::shown_errors() const {
    std::lock_guard lock(state_->mutex);
    return state_->errors;
}

bool PlainGuiThread::PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        PumpPending();
        if (done()) return true;
        std::unique_lock lock(state_->mutex);
        if (std::chrono::steady_clock::now() >= end) return false;
        state_->posted.wait_for(lock, std::chrono::milliseconds(2), [&] { return !state_->queue.empty(); });
    }
}

}  // namespace linograf::serial
