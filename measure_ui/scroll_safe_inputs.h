// A slider and a spin box that leave the mouse wheel to their scroll area
// unless they have keyboard focus, so that wheeling down a long settings page
// scrolls the page instead of changing every value the pointer passes over.
// Focus comes only from a click or the Tab key.
#pragma once

#include <QSlider>
#include <QSpinBox>

class QWheelEvent;

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
