// The frame driver: runs the machine's frames between the window's events.
//
// Frames run only while nothing holds them: the window inactive or
// minimised, a modal dialog or message box open, the debugger open, Pause,
// or the program not started (or closing). At the Normal rate frames keep to
// a fixed 20 ms grid: a timer wakes shortly before each deadline, the rest is
// slept precisely, and the next deadline is the previous one plus 20 ms, so
// the sleeps' overshoot never adds up (counting from the moment of waking
// instead ran the machine at about 49.5 frames a second, and the speaker then
// fell short of what the device played). A frame woken more than a period
// late does not wait, and the grid restarts from it. At the Maximum rate
// frames run back to back in slices of 12 ms, the event loop running between
// slices so the window stays responsive.
#pragma once

#include <QObject>

#include <chrono>
#include <functional>

class QTimer;

using FrameClock = std::chrono::steady_clock;
inline constexpr std::chrono::microseconds kFramePeriod{20000};

// The deadline after a frame woken at `woke` for `deadline`.
FrameClock::time_point next_frame_deadline(FrameClock::time_point deadline, FrameClock::time_point woke);

class FrameDriver : public QObject {
    Q_OBJECT
public:
    enum Hold : unsigned {
        NotStarted = 1u << 0,
        Inactive = 1u << 1,   // the window is not the active one, or is minimised
        Blocked = 1u << 2,    // a modal dialog or message box is open
        InDebugger = 1u << 3,
        Paused = 1u << 4,
    };

    explicit FrameDriver(QObject* parent = nullptr);

    // One frame step; returns false when a breakpoint stopped the frame.
    std::function<bool()> runFrame;

    void setHold(Hold hold, bool on);
    bool held(Hold hold) const { return (holds_ & hold) != 0; }
    bool running() const { return holds_ == 0; }

    void setMaximumRate(bool maximum);
    bool maximumRate() const { return maximum_; }

    // The grid starts again from now (after a reset).
    void restartPacing();

signals:
    // Frames started or stopped running, or the rate changed.
    void stateChanged();

private:
    void schedule();
    void onTimer();

    QTimer* timer_;
    unsigned holds_ = NotStarted;
    bool maximum_ = false;
    FrameClock::time_point deadline_;
};
