#include "zoom_steps.h"

#include <QtMath>

#include <cmath>

namespace {

constexpr double kSameValue = 1e-4;

bool showsCurrent(const QList<double> &levels, int current, double shown)
{
    return current >= 0 && current < levels.size() && std::fabs(shown - levels[current]) < kSameValue;
}

int firstAbove(const QList<double> &levels, double value)
{
    for (int i = 0; i < levels.size(); ++i)
        if (levels[i] > value)
            return i;
    return -1;
}

} // namespace

std::optional<double> parseZoomPercent(const QString &text)
{
    QString number = text.trimmed();
    if (number.endsWith(QLatin1Char('%')))
        number.chop(1);
    bool ok = false;
    const double value = number.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value) || value <= 0.0 || value > kMaxZoomPercent)
        return std::nullopt;
    return value;
}

QString zoomText(double percent)
{
    return QString::number(percent, 'g', 6) + QLatin1Char('%');
}

QList<double> zoomLevels(double bestPercent)
{
    QList<double> levels{1};
    for (int value = 10; value <= 100; value += 10)
        levels.append(value);
    if (!std::isfinite(bestPercent) || bestPercent < 1.0)
        return levels;
    const auto whole = static_cast<long long>(std::floor(bestPercent));
    if (whole % 10 == 0)
        return levels;
    const int before = firstAbove(levels, bestPercent);
    if (before >= 0)
        levels.insert(before, bestPercent);
    return levels;
}

int zoomInIndex(const QList<double> &levels, int current, double shown)
{
    if (!showsCurrent(levels, current, shown))
        return firstAbove(levels, shown);
    return current + 1 < levels.size() ? current + 1 : -1;
}

int zoomOutIndex(const QList<double> &levels, int current, double shown)
{
    if (!showsCurrent(levels, current, shown)) {
        const int above = firstAbove(levels, shown);
        return above < 0 ? levels.size() - 1 : above - 1;
    }
    return current - 1;
}
