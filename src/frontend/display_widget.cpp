#include "frontend/display_widget.h"

#include <QPainter>

#include <algorithm>

#include "machine/machine.h"

DisplayWidget::DisplayWidget(QWidget* parent)
    : QWidget(parent), image_(kFrameWidth, kShownRows, QImage::Format_RGB32) {
    image_.fill(Qt::black);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
}

// A picture that did not change is not drawn again: at 50 frames a second
// an idle screen would otherwise cost a repaint every 20 ms.
void DisplayWidget::present(const Machine& m) {
    std::array<uint32_t, kPaletteSize> colours;
    for (int i = 0; i < kPaletteSize; ++i) colours[size_t(i)] = 0xFF000000u | m.palette.packed[size_t(i)];
    if (colours == colours_ && std::equal(frame_.begin(), frame_.end(), m.frameBuffer.begin())) return;
    std::copy_n(m.frameBuffer.begin(), frame_.size(), frame_.begin());
    colours_ = colours;
    converted_ = false;
    ++presented_;
    update();
}

void DisplayWidget::convert() {
    for (int y = 0; y < kShownRows; ++y) {
        auto* line = reinterpret_cast<uint32_t*>(image_.scanLine(y));
        const uint8_t* source = &frame_[size_t(y) * kFrameWidth];
        for (int x = 0; x < kFrameWidth; ++x) line[x] = colours_[source[x] < kPaletteSize ? source[x] : uint8_t(kBlack)];
    }
    converted_ = true;
}

const QImage& DisplayWidget::image() {
    if (!converted_) convert();
    return image_;
}

void DisplayWidget::setFullScreenLayout(bool fullScreen) {
    fullScreen_ = fullScreen;
    update();
}

// In a window: the largest whole multiple of 320 x 240 that fits, so every
// machine pixel is the same size; a window too small for even one, the
// largest 4:3 that fits. Full screen: the screen's height at 4:3.
QRect DisplayWidget::pictureRect() const {
    QSize size;
    const int whole = std::min(width() / kFrameWidth, height() / kShownRows);
    if (fullScreen_ || whole < 1) {
        size = QSize(height() * 4 / 3, height());
        if (size.width() > width()) size = QSize(width(), width() * 3 / 4);
    } else {
        size = QSize(kFrameWidth * whole, kShownRows * whole);
    }
    return QRect((width() - size.width()) / 2, (height() - size.height()) / 2, size.width(), size.height());
}

void DisplayWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    const QRect target = pictureRect();
    if (target != rect()) painter.fillRect(rect(), Qt::black);
    painter.drawImage(target, image());
}
