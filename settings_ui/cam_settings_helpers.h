// Small helpers shared by the camera settings panel's source files: value
// conversions of the zoom boxes, resolution texts, and slider/spin-box pairs
// that change without telling the camera.
#pragma once

#include "cam_settings.h"

#include <QComboBox>
#include <QDebug>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QStandardItemModel>

#include <initializer_list>

namespace cam_settings_detail {

inline QDebug logLine()
{
    return qDebug().nospace().noquote();
}

// Pixels of 1920x1080: the frame-rate lists and the remembered rates switch above it.
constexpr quint64 kFullHdArea = 2073600;

// Width and height of a text such as "1920x1080"; 0 for a part that is missing or no number.
inline QSize parseResolution(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('x'));
    return QSize(int(parts.value(0).toUInt()), int(parts.value(1).toUInt()));
}

inline quint64 areaOf(const QSize &size)
{
    return quint64(uint(size.width())) * uint(size.height());
}

// The zoom box shows a magnification: 1.0 to 14.0 in tenths over the slider's
// first 131 positions, then whole steps (15, 16, ...).
inline double zoomFactor(int position)
{
    return position <= 130 ? (position + 10) / 10.0 : position - 116;
}

inline int zoomPosition(double factor)
{
    const int tenths = qRound(factor * 10);  // the box holds one decimal
    if (tenths <= 140)
        return tenths - 10;
    return 130 + (tenths - 140) / 10;  // whole steps above 14.0: 14.1 stays at 130, 15.0 is 131
}

inline double digitalZoomFactor(int position)
{
    return (position + 10) / 10.0;
}

inline int digitalZoomPosition(double factor)
{
    return qRound(factor * 10) - 10;
}

inline QStandardItem *comboItem(QComboBox *combo, int index)
{
    auto *model = qobject_cast<QStandardItemModel *>(combo->model());
    return model ? model->item(index) : nullptr;
}

inline void setItemEnabled(QComboBox *combo, int index, bool enabled)
{
    if (QStandardItem *item = comboItem(combo, index))
        item->setEnabled(enabled);
}

inline bool isItemEnabled(QComboBox *combo, int index)
{
    QStandardItem *item = comboItem(combo, index);
    return item && item->isEnabled();
}

inline int findExactText(QComboBox *combo, const QString &text)
{
    return combo->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
}

// Slider and spin box take a new range without telling anyone: a value that
// the new range clamps must not reach the camera. The pair shows one value.
inline void setPairRange(QSlider *slider, QSpinBox *spinBox, int minimum, int maximum)
{
    const QSignalBlocker sliderBlocker(slider);
    const QSignalBlocker spinBlocker(spinBox);
    slider->setRange(minimum, maximum);
    spinBox->setRange(minimum, maximum);
    spinBox->setValue(slider->value());
}

// Shows a value the camera keeps for itself (a control in automatic mode):
// nothing is sent or stored for it.
inline void showPairValue(QSlider *slider, QSpinBox *spinBox, int value)
{
    const QSignalBlocker sliderBlocker(slider);
    const QSignalBlocker spinBlocker(spinBox);
    slider->setValue(value);
    spinBox->setValue(slider->value());
}

inline void setPairEnabled(QWidget *slider, QWidget *spinBox, bool enabled)
{
    slider->setEnabled(enabled);
    spinBox->setEnabled(enabled);
}

inline void hideAll(std::initializer_list<QWidget *> widgets)
{
    for (QWidget *widget : widgets)
        widget->hide();
}

inline void fillResolutionBox(QComboBox *combo, const QList<Resolution> &sizes, const QString &current)
{
    const QSignalBlocker blocker(combo);
    combo->clear();
    for (const Resolution &size : sizes)
        combo->addItem(size.text);
    const int index = findExactText(combo, current);
    combo->setCurrentIndex(index >= 0 ? index : 0);
}


} // namespace cam_settings_detail
