#include "frontend/frame_driver.h"

#include <QTimer>

#include <algorithm>
#include <thread>

namespace {

constexpr auto kTimerEarly = std::chrono::microseconds(1500); // the timer wakes this early, then sleeps precisely
constexpr auto kMaximumSlice = std::chrono::milliseconds(12);

} // namespace

FrameClock::time_point next_frame_deadline(FrameClock::time_point deadline, FrameClock::time_point woke) {
    return woke - deadline < kFramePeriod ? deadline + kFramePeriod : woke + kFramePeriod;
}

FrameDriver::FrameDriver(QObject* parent) : QObject(parent), timer_(new QTimer(this)) {
    timer_->setSingleShot(true);
    timer_->setTimerType(Qt::PreciseTimer);
    connect(timer_, &QTimer::timeout, this, &FrameDriver::onTimer);
}

void FrameDriver::setHold(Hold hold, bool on) {
    const bool wasRunning = running();
    holds_ = on ? holds_ | hold : holds_ & ~unsigned(hold);
    if (running() == wasRunning) return;
    if (running()) {
        restartPacing();
    } else {
        timer_->stop();
    }
    emit stateChanged();
}

void FrameDriver::setMaximumRate(bool maximum) {
    if (maximum == maximum_) return;
    maximum_ = maximum;
    restartPacing();
    emit stateChanged();
}

void FrameDriver::restartPacing() {
    deadline_ = FrameClock::now();
    if (running()) schedule();
}

void FrameDriver::schedule() {
    if (!running()) return;
    if (maximum_) {
        timer_->start(0);
        return;
    }
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - FrameClock::now() - kTimerEarly);
    timer_->start(int(std::max<int64_t>(0, wait.count())));
}

void FrameDriver::onTimer() {
    if (!running() || !runFrame) return;
    if (!maximum_) {
        std::this_thread::sleep_until(deadline_);
        deadline_ = next_frame_deadline(deadline_, FrameClock::now());
        runFrame();
    } else {
        const auto sliceEnd = FrameClock::now() + kMaximumSlice;
        while (FrameClock::now() < sliceEnd && maximum_ && running())
            if (!runFrame()) break;
        deadline_ = FrameClock::now();
    }
    schedule();
}
