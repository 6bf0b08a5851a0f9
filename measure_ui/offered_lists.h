// The lists of the panels and property dialogs, built from the choices the
// settings store names (settings_store.h), so that what a list offers and
// what the store accepts from a file are one and the same.
#pragma once

#include "line_width_combobox.h"
#include "settings_store.h"

#include <QComboBox>
#include <QSignalBlocker>
#include <QSpinBox>

// Rows for the numbers of `range`, the first at row 0. The box's handlers
// are not run: filling a list is no choice of the user's.
inline void addOfferedNumbers(QComboBox *box, OfferedRange range)
{
    const QSignalBlocker blocker(box);
    for (int number = range.first; number <= range.last; ++number)
        box->addItem(QString::number(number));
}

inline void setOfferedRange(QSpinBox *box, OfferedRange range)
{
    const QSignalBlocker blocker(box);
    box->setRange(range.first, range.last);
}

inline void addOfferedPenStyles(QLineWidthCombobox *picker)
{
    for (int style = kOfferedPenStyles.first; style <= kOfferedPenStyles.last; ++style)
        picker->appendItem(static_cast<Qt::PenStyle>(style));
}
