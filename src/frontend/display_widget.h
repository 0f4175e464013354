// The picture area between toolbar and status bar: the 320 x 240 picture
// (frameBuffer rows 0-239 through the palette), scaled nearest-neighbour to
// fill the area in a window; in full screen the doubled 640 x 480 picture
// scaled to the screen height at 4:3, centred on black.
#pragma once

#include <QImage>
#include <QWidget>

struct Machine;

class DisplayWidget : public QWidget {
    Q_OBJECT
public:
    explicit DisplayWidget(QWidget* parent = nullptr);

    // Converts the machine's picture and schedules a repaint.
    void present(const Machine& m);
    void setFullScreenLayout(bool fullScreen);

    const QImage& image() const { return image_; }
    QRect pictureRect() const; // where the picture is drawn, in widget coordinates

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage image_;
    bool fullScreen_ = false;
};
