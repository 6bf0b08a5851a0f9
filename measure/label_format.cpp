#include "label_format.h"

#include "settings_store.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QPair>
#include <QVector>

#include <cmath>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

const char *const kCollinearNote = QT_TRANSLATE_NOOP("GraphicsText", "Collinear points");

namespace {

constexpr double kPi = 3.141592653589793;
const char *const kTranslationContext = "GraphicsText";

QString fixed(double value, int decimals)
{
    if (!std::isfinite(value))
        return QStringLiteral("-");
    return QString::number(value, 'f', decimals);
}

bool isLengthUnit(int unit)
{
    return unit == UnitPixels || unit == UnitMillimetres || unit == UnitMicrometres || unit == UnitMils;
}

}  // namespace

QString unitText(int unit)
{
    switch (unit) {
    case UnitPixels:
        return QStringLiteral("pix");
    case UnitMicrometres:
        return QStringLiteral("um");
    case UnitMillimetres:
        return QStringLiteral("mm");
    case UnitMils:
        return QStringLiteral("mil");
    default:
        return QString();
    }
}

double lengthToPixels(double length, int unit, double calibration, double scale)
{
    if (!std::isfinite(length) || !std::isfinite(calibration) || !std::isfinite(scale) || calibration <= 0.0
        || scale <= 0.0)
        return 0.0;
    double pixels = 0.0;
    switch (unit) {
    case UnitMillimetres:
        pixels = length * 1000.0 / scale / calibration;
        break;
    case UnitMicrometres:
        pixels = length / scale / calibration;
        break;
    case UnitMils:
        pixels = length * 25.4 / scale / calibration;
        break;
    default:
        return 0.0;
    }
    return std::isfinite(pixels) ? pixels : 0.0;
}

namespace {

// State of the running LabelFormatBatch, if any.
int gBatchDepth = 0;
bool gBatchDecimalsRead = false;
int gBatchDecimals = 0;
bool gBatchWordsRead = false;
QVector<QPair<QString, QString>> gBatchWords;

// The label words whose translation differs from the word, in replacement order.
QVector<QPair<QString, QString>> translatedWords()
{
    if (gBatchDepth > 0 && gBatchWordsRead)
        return gBatchWords;
    static const char *const kWords[] = {"CLen", "Len", "Wid", "Hei", "Dis", "Area", "Radian", "R", "Angle"};
    QVector<QPair<QString, QString>> words;
    for (const char *word : kWords) {
        const QString source = QString::fromLatin1(word);
        const QString translated = QCoreApplication::translate(kTranslationContext, word);
        if (translated != source)
            words.append({source, translated});
    }
    if (gBatchDepth > 0) {
        gBatchWords = words;
        gBatchWordsRead = true;
    }
    return words;
}

}  // namespace

LabelFormatBatch::LabelFormatBatch()
{
    ++gBatchDepth;
}

LabelFormatBatch::~LabelFormatBatch()
{
    if (--gBatchDepth == 0) {
        gBatchDecimalsRead = false;
        gBatchWordsRead = false;
        gBatchWords.clear();
    }
}

QString translateLabelWords(const QString &text)
{
    QString result = text;
    for (const auto &word : translatedWords())
        result.replace(word.first, word.second, Qt::CaseSensitive);
    return result;
}

namespace {

// What formatting needs to know of a format, found once per format: the
// words it holds and where its "%1" and "%2" stand.
struct FormatInfo {
    bool rect = false;
    bool circle = false;
    bool width = false;
    bool height = false;
    bool radius = false;  // also "R1", "R2", "R3"
    bool area = false;
    int numberAt = -1;  // -1: not the plain "...%1...%2..." form
    int unitAt = -1;
};

FormatInfo formatInfo(const QString &format)
{
    // Label formats are a few dozen constants: the cache stays small.
    static QHash<QString, FormatInfo> known;
    const auto found = known.constFind(format);
    if (found != known.constEnd())
        return *found;
    FormatInfo info;
    info.rect = format.contains(QLatin1String("Rect"));
    info.circle = format.contains(QLatin1String("Cir"));
    info.width = format.contains(QLatin1String("Wid"));
    info.height = format.contains(QLatin1String("Hei"));
    info.radius = format.contains(QLatin1Char('R'));
    info.area = format.contains(QLatin1String("Area"));
    const int number = format.indexOf(QLatin1String("%1"));
    const int unit = format.indexOf(QLatin1String("%2"));
    if (number >= 0 && unit > number && format.count(QLatin1Char('%')) == 2) {
        info.numberAt = number;
        info.unitAt = unit;
    }
    if (known.size() < 1024)
        known.insert(format, info);
    return info;
}

// format.arg(number).arg(unit), without parsing the format each time.
QString fillFormat(const QString &format, const FormatInfo &info, const QString &number, const QString &unit)
{
    if (info.numberAt < 0)
        return format.arg(number).arg(unit);
    QString line;
    line.reserve(format.size() + number.size() + unit.size());
    line.append(format.constData(), info.numberAt);
    line.append(number);
    line.append(format.constData() + info.numberAt + 2, info.unitAt - info.numberAt - 2);
    line.append(unit);
    line.append(format.constData() + info.unitAt + 2, format.size() - info.unitAt - 2);
    return line;
}

}  // namespace

QString formatLabelLine(const LabelEntry &entry, LabelFormatState &state, int decimals)
{
    decimals = qBound(0, decimals, kMaxDecimalPlaces);
    const QString &format = entry.format;
    QString line;
    if (entry.note) {
        line = QCoreApplication::translate(kTranslationContext, format.toUtf8().constData());
    } else if (entry.radian) {
        // Radians always with two decimals, whatever the decimal setting.
        line = fillFormat(format, formatInfo(format), fixed(entry.value / 180.0 * kPi, 2), QStringLiteral(" rad"));
    } else if (state.unit == UnitDegrees) {
        line = fillFormat(format, formatInfo(format), fixed(entry.value, decimals), QStringLiteral("°"));
    } else if (isLengthUnit(state.unit)) {
        const FormatInfo info = formatInfo(format);
        // Rectangle and circle bookkeeping entries show nothing; they make the
        // area line use the sizes exactly as displayed.
        if (info.rect) {
            state.areaMode = 1;
            return QString();
        }
        if (info.circle) {
            state.areaMode = 2;
            return QString();
        }
        const double c = state.calibration;
        const double s = state.scale;
        const double v = entry.value;
        double converted = 0.0;
        switch (state.unit) {
        case UnitPixels:
            converted = entry.area ? v * s * s : v * s;
            break;
        case UnitMicrometres:
            converted = entry.area ? v * c * c * s * s : v * c * s;
            break;
        case UnitMillimetres:
            converted = entry.area ? v * c * c * s * s / 1000000.0 : v * c * s / 1000.0;
            break;
        case UnitMils:
            converted = entry.area ? v * c * c * s * s / 645.16 : v * c * s / 25.4;
            break;
        }
        QString number = fixed(converted, decimals);
        if (std::isfinite(converted) && (info.width || info.height || info.radius)) {
            const double shown = number.toDouble();
            if (info.width)
                state.storedWidth = shown;
            if (info.height)
                state.storedHeight = shown;
            if (info.radius)
                state.storedWidth = shown;
        }
        if (info.area) {
            if (state.areaMode == 1)
                number = fixed(state.storedHeight * state.storedWidth, decimals);
            else if (state.areaMode == 2)
                number = fixed(state.storedWidth * state.storedWidth * kPi, decimals);
        }
        QString unit = unitText(state.unit);
        if (entry.area)
            unit += QStringLiteral("²");
        line = fillFormat(format, info, number, unit);
    } else {
        return QString();
    }
    if (state.number != 0)
        line = QLatin1Char('[') + QString::number(state.number) + QLatin1String("] ") + line;
    return translateLabelWords(line);
}

namespace DecimalPlaces {
namespace {

struct FileStamp {
    bool exists = false;
    qint64 size = 0;
    qint64 inode = 0;
    qint64 modifiedNs = 0;
    qint64 changedNs = 0;
    bool operator==(const FileStamp &o) const
    {
        return exists == o.exists && size == o.size && inode == o.inode && modifiedNs == o.modifiedNs
            && changedNs == o.changedNs;
    }
};

FileStamp stampOf(const QString &path)
{
    FileStamp stamp;
#ifdef Q_OS_UNIX
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) == 0) {
        stamp.exists = true;
        stamp.size = info.st_size;
        stamp.inode = static_cast<qint64>(info.st_ino);
        stamp.modifiedNs = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
        stamp.changedNs = qint64(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec;
    }
#else
    const QFileInfo info(path);
    if (info.exists()) {
        stamp.exists = true;
        stamp.size = info.size();
        stamp.modifiedNs = info.lastModified().toMSecsSinceEpoch() * 1000000;
    }
#endif
    return stamp;
}

int gDecimals = 0;
bool gStampValid = false;
FileStamp gStamp;
QString gPath;

}  // namespace

int current()
{
    if (gBatchDepth > 0 && gBatchDecimalsRead)
        return gBatchDecimals;
    const QString path = SettingsStore::instance().configPath();
    const FileStamp stamp = stampOf(path);
    if (gStampValid && stamp == gStamp && path == gPath) {
        if (gBatchDepth > 0) {
            gBatchDecimals = gDecimals;
            gBatchDecimalsRead = true;
        }
        return gDecimals;
    }
    QVariant value;
    if (SettingsStore::instance().drawValue(FloatNum, value)) {
        bool ok = false;
        const int decimals = value.toInt(&ok);
        if (ok)
            gDecimals = qBound(0, decimals, kMaxDecimalPlaces);
    }
    gStamp = stamp;
    gPath = path;
    gStampValid = true;
    if (gBatchDepth > 0) {
        gBatchDecimals = gDecimals;
        gBatchDecimalsRead = true;
    }
    return gDecimals;
}

void invalidate()
{
    gStampValid = false;
    gBatchDecimalsRead = false;
}

}  // namespace DecimalPlaces
