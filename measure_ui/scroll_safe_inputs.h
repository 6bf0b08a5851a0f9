// A slider and a spin box that ignore the mouse wheel unless they have
// keyboard focus (from a click or the Tab key), so that wheeling over a long
// scrolling settings page scrolls the page instead of changing values.
#pragma once

#include <QSlider>
#include <QSpinBox>

class SliderIgnoreScroll : public QSlider
{
    Q_OBJECT
public:
    explicit SliderIgnoreScroll(QWidget *parent = nullptr);

protected:
    void wheelEvent(QWheelEvent *event) override;
};

class SpinBoxIgnoreScroll : public QSpinBox
{
    Q_OBJECT
public:
    explicit SpinBoxIgnoreScroll(QWidget *parent = nullptr);

protected:
    void wheelEvent(QWheelEvent *event) override;
};
