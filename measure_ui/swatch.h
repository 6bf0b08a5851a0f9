// The look of a colour button: its background shows the chosen colour.
#pragma once

#include <QColor>
#include <QString>
#include <QVariant>

// "background-color: rgb(r,g,b)" with the colour's components in decimal.
inline QString swatchStyleSheet(const QColor &color)
{
    return QStringLiteral("background-color: rgb(%1,%2,%3)").arg(color.red()).arg(color.green()).arg(color.blue());
}

// A colour as the scene draws it: a missing or unreadable one (none stored)
// is black.
inline QColor storedColor(const QColor &color)
{
    return color.isValid() ? color : QColor(Qt::black);
}

inline QColor storedColor(const QVariant &value)
{
    return storedColor(value.value<QColor>());
}
