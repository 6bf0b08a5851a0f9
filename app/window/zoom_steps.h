// The zoom percentages of the main window's zoom box, as plain functions.
#pragma once

#include <QList>
#include <QString>

#include <optional>

// The percentage a zoom text asks for ("37.5%", "37.5", " 50 % "): a finite
// number above 0 and at most kMaxZoomPercent; nothing for any other text.
constexpr double kMaxZoomPercent = 1000.0;
std::optional<double> parseZoomPercent(const QString &text);

// How a percentage is shown: up to 6 significant digits and "%".
QString zoomText(double percent);

// The box's items after a view fitted itself at `bestPercent`: 1, 10, 20 ...
// 100, with the fitted value inserted in order when its whole part is no
// multiple of 10 and it is at least 1.
QList<double> zoomLevels(double bestPercent);

// The item a zoom step selects, or -1 for none. `current` is the selected
// item's index, `shown` the percentage the box shows: when it is not the
// current item's value (typed, or a fit not in the list), the step goes to
// the first item above it (in) or the item before that (out).
int zoomInIndex(const QList<double> &levels, int current, double shown);
int zoomOutIndex(const QList<double> &levels, int current, double shown);
