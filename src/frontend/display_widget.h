// The picture area between toolbar and status bar: the 320 x 240 picture
// (frameBuffer rows 0-239 through the palette), scaled nearest-neighbour and
// centred on black: in a window to the largest whole multiple that fits (the
// x1, x2 and x3 sizes fit it exactly), in full screen the doubled 640 x 480
// picture scaled to the screen height at 4:3.
#pragma once

#include <QImage>
#include <QWidget>

#include <array>
#include <cstdint>

#include "video/palette.h"
#include "video/renderer.h"

struct Machine;

class DisplayWidget : public QWidget {
    Q_OBJECT
public:
    explicit DisplayWidget(QWidget* parent = nullptr);

    // Takes the machine's picture and schedules a repaint when it changed.
    // The conversion through the palette waits for the paint: at the Maximum
    // rate many frames are presented between two paints, and converting each
    // cost half as much again as running it.
    void present(const Machine& m);
    uint64_t picturesTaken() const { return presented_; } // changed pictures presented so far
    void setFullScreenLayout(bool fullScreen);

    // The last presented picture, converted.
    const QImage& image();
    QRect pictureRect() const; // where the picture is drawn, in widget coordinates

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void convert();

    std::array<uint8_t, kFrameWidth * kShownRows> frame_{};
    std::array<uint32_t, kPaletteSize> colours_{};
    bool converted_ = true;
    uint64_t presented_ = 0;
    QImage image_;
    bool fullScreen_ = false;
};
