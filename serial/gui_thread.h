#pragma once
// The hand-off between the port's threads and the GUI thread.
//
// Trigger handlers run on the GUI thread. The dispatcher thread hands each trigger over and waits
// for it a bounded time ("send and wait at most 3000 ms"); the GUI thread, while it waits for the
// port threads to end, keeps handling what was handed over ("pump pending messages"), so a close
// never deadlocks against a delivery. This interface is all the serial layer knows of the GUI:
// the program implements it on Qt's event loop (serial/qt/), tests use PlainGuiThread.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace linograf::serial {

// One call sent to the GUI thread, shared by the sender and the GUI thread.
class GuiCall {
  public:
    enum class State { Queued, Running, Finished, Cancelled };

    explicit GuiCall(std::function<void()> body) : body_(std::move(body)) {}

    // GUI thread: runs the body unless the sender gave up on it before it started.
    void Run();
    // Sender: waits at most `timeout` for the call to finish.
    bool WaitFinished(std::chrono::milliseconds timeout);
    // Sender: cancels a call that has not started yet; true when it now never runs.
    bool CancelIfQueued();
    State state() const;

  private:
    std::function<void()> body_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    State state_ = State::Queued;
};

class GuiThread {
  public:
    virtual ~GuiThread() = default;

    // Queues `call` to run on the GUI thread, in the order of posting; returns at once.
    virtual void Post(std::function<void()> call) = 0;
    // GUI thread only: handles what is waiting for it, then returns (does not wait for more).
    virtual void PumpPending() = 0;
    // True when the calling thread is the GUI thread.
    virtual bool IsGuiThread() const = 0;
    // Shows an error raised on a port thread (the runtime's message box); callable from any thread.
    virtual void ShowError(const std::string& message) = 0;

    enum class SendResult {
        Handled,       // the call ran to its end within the time
        NotStarted,    // the time ran out before the GUI thread took it; it will never run
        StillRunning,  // the time ran out while it was running; `late` tells when it ends
    };
    // Runs `call` on the GUI thread and waits at most `timeout` for it. On the GUI thread itself
    // the call runs at once. With StillRunning, `*late` receives the call so the sender can wait
    // for its end before touching what the call uses.
    SendResult SendAndWait(std::function<void()> call, std::chrono::milliseconds timeout,
                           std::shared_ptr<GuiCall>* late = nullptr);
};

// A GuiThread for programs and tests without an event loop: posted calls wait in a queue until
// the thread that created the object (the "GUI thread") pumps.
class PlainGuiThread : public GuiThread {
  public:
    PlainGuiThread();
    void Post(std::function<void()> call) override;
    void PumpPending() override;
    bool IsGuiThread() const override;
    void ShowError(const std::string& message) override;

    // GUI thread: pumps until `done` holds or `limit` has passed (waking as soon as something is
    // posted); returns `done()`. The limit only guards against a hang; it is no measure of speed.
    bool PumpUntil(const std::function<bool()>& done,
                   std::chrono::milliseconds limit = std::chrono::seconds(20));

    std::vector<std::string> shown_errors() const;

  private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace linograf::serial
