#include "settings_store.h"

#include <QColor>
#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QSettings>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QUuid>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include <sys/stat.h>

namespace {

const char *const kDrawKeyNames[kDrawPropertyCount] = {
    "PointWidth", "PointColor", "Line_Width", "Line_Style", "Line_Color", "TextSize", "TextFont", "TextColor",
    "Antialiasing", "QuickSavePath", "DrawCross_Width", "DrawCross_Style", "DrawCross_Color",
    "DrawGridlines_Width", "DrawGridlines_Style", "DrawGridlines_Color", "DrawGridlines_HLines",
    "DrawGridlines_VLines", "DrawMark_Width", "DrawMark_Style", "DrawMark_Color", "LText_Width", "LText_Font",
    "LText_Color", "LLine_Width", "LLine_Style", "LLine_Color", "RingDistance1", "RingDistance2",
    "LineDistance1", "LineDistance2", "FloatNum", "SaveType", "PrefixData", "QuickSave", "PhotoFormat",
    "Language", "SnapOpenImage", "SaveGraphics",
};

const QString kDrawGroup = QStringLiteral("draw");
const QString kBaseGroup = QStringLiteral("base");
const QString kSettingsGroup = QStringLiteral("settings");
const QString kBurstGroup = QStringLiteral("burst_mode");
const QString kKeyBindGroup = QStringLiteral("key_bind");
const QString kCalibrateArray = QStringLiteral("calibrate");

// More entries than any list the program keeps (at most a thousand overlay
// lines, a few dozen calibrations): a larger count is damage, and reading up
// to it would take the program's memory and time.
constexpr int kMaxArrayEntries = 10000;

// What a stored value may be. A value outside its rule is damage (a
// hand-edited or broken file): it reads as absent, so the default applies.
enum class Kind { Any, Integer, Number, Flag, Colour, Text };
struct ValueRule
{
    Kind kind;
    double low;
    double high;  // Text: the longest text, in characters
};

constexpr ValueRule kAnything{Kind::Any, 0, 0};
constexpr ValueRule kAnyInteger{Kind::Integer, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()};
// A choice from a list a panel offers.
constexpr ValueRule offered(OfferedRange range)
{
    return {Kind::Integer, double(range.first), double(range.last)};
}
// The widest pen the drawing code draws: point handles, which no panel sets.
constexpr ValueRule kPointWidth{Kind::Integer, 0, 36};
constexpr ValueRule kPenWidth = offered(kOfferedPenWidths);
constexpr ValueRule kFontSize = offered(kOfferedFontSizes);
constexpr ValueRule kPenStyle = offered(kOfferedPenStyles);
constexpr ValueRule kColour{Kind::Colour, 0, 0};
constexpr ValueRule kFlag{Kind::Flag, 0, 0};
constexpr ValueRule kFontFamily{Kind::Text, 0, 256};
constexpr ValueRule kPath{Kind::Text, 0, 4096};
// Offset distances in the current length unit; the shapes take at most 1e6.
constexpr ValueRule kDistance{Kind::Number, -1e6, 1e6};
constexpr ValueRule kLineCount = offered(kOfferedGridLines);

const ValueRule kDrawRules[kDrawPropertyCount] = {
    kPointWidth, kColour, kPenWidth, kPenStyle, kColour, kFontSize, kFontFamily, kColour,  // PointWidth..TextColor
    kFlag, kPath, kPenWidth, kPenStyle, kColour,                                           // ..CrossColor
    kPenWidth, kPenStyle, kColour, kLineCount, kLineCount,                                 // gridlines
    kPenWidth, kPenStyle, kColour,                                                         // marks
    kFontSize, kFontFamily, kColour, kPenWidth, kPenStyle, kColour,                        // annotations
    kDistance, kDistance, kDistance, kDistance,                                            // ring and line offsets
    offered(kOfferedDecimals),                                                             // FloatNum
    {Kind::Integer, 0, 7},                                                // SaveType: naming bits
    {Kind::Text, 0, double(kLongestPhotoPrefix)},                         // PrefixData: part of a file name
    kFlag,                                                                // QuickSave
    {Kind::Integer, double(ImgFormat::Jpg), double(ImgFormat::Tiff)},     // PhotoFormat
    offered(kOfferedLanguages),                                           // Language
    kFlag, kFlag,                                                         // SnapOpenImage, SaveGraphics
};

ValueRule ruleOf(const QString &group, const QString &key)
{
    if (group == kDrawGroup) {
        for (int id = 0; id < kDrawPropertyCount; ++id)
            if (key == QLatin1String(kDrawKeyNames[id]))
                return kDrawRules[id];
    } else if (group == kBaseGroup) {
        return kPath;
    } else if (group == kBurstGroup) {
        return offered(kBurstModeValues);
    } else if (group == kKeyBindGroup) {
        if (key == QLatin1String("MouseWheel"))
            return offered(kOfferedWheelFunctions);
        return kAnyInteger;
    } else if (group == kSettingsGroup) {
        if (key == QLatin1String("Unit"))
            return offered(kOfferedUnits);
        // A place in the list of stored calibrations; -1 for none.
        if (key == QLatin1String("Index"))
            return {Kind::Integer, -1, kMaxArrayEntries - 1};
        return kAnyInteger;
    }
    return kAnything;
}

bool acceptable(const ValueRule &rule, const QVariant &value)
{
    switch (rule.kind) {
    case Kind::Any:
        return true;
    case Kind::Integer:
    case Kind::Number: {
        bool ok = false;
        const double number = value.toDouble(&ok);
        if (!ok || !std::isfinite(number) || number < rule.low || number > rule.high)
            return false;
        return rule.kind == Kind::Number || number == std::floor(number);
    }
    case Kind::Flag: {
        if (value.type() == QVariant::Bool)
            return true;
        const QString text = value.toString().trimmed().toLower();
        return text == QLatin1String("true") || text == QLatin1String("false") || text == QLatin1String("1")
               || text == QLatin1String("0");
    }
    case Kind::Colour:
        if (value.type() == QVariant::Color)
            return value.value<QColor>().isValid();
        return value.type() == QVariant::String && QColor::isValidColor(value.toString());
    case Kind::Text:
        return value.type() == QVariant::String && value.toString().size() <= rule.high;
    }
    return false;
}

// The groups whose values have rules, in the two files that hold them.
const QString *const kRuledGroups[] = {&kBaseGroup, &kDrawGroup, &kBurstGroup, &kKeyBindGroup, &kSettingsGroup};

// Keys whose stored values break their rule, in file order.
QStringList ignoredKeys(QSettings &settings)
{
    QStringList keys;
    for (const QString *group : kRuledGroups) {
        settings.beginGroup(*group);
        for (const QString &key : settings.childKeys())
            if (!acceptable(ruleOf(*group, key), settings.value(key)))
                keys << key;
        settings.endGroup();
    }
    return keys;
}

// Settings files are a few kilobytes; anything this large is not one of ours,
// and parsing it on every read would stall the program.
constexpr qint64 kMaxSettingsFileSize = 1024 * 1024;

QString translated(const char *text)
{
    return QCoreApplication::translate("SettingsStore", text);
}

// Why the file at `path` can't be used as a settings file, judged from its
// bytes; empty when it can (a missing file can: it reads as empty and is
// created by the first write).
QString unusableReason(const QString &path)
{
    QFile file(path);
    if (!file.exists())
        return QString();
    if (file.size() > kMaxSettingsFileSize)
        return translated("The file is larger than %1 bytes.").arg(kMaxSettingsFileSize);
    if (!file.open(QIODevice::ReadOnly))
        return translated("The file cannot be read.");
    // Qt writes INI files as text; control characters other than tabs and
    // line ends never occur in one.
    const QByteArray bytes = file.read(kMaxSettingsFileSize + 1);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r') || byte == 0x7f)
            return translated("The file is not a settings file.");
    }
    return QString();
}

// Why a parsed file can't be used; empty when it can.
QString unusableReason(const QSettings &settings)
{
    if (settings.status() == QSettings::FormatError)
        return translated("The file is not a settings file.");
    for (const QString &group : settings.childGroups()) {
        const QString sizeKey = group + QStringLiteral("/size");
        if (!settings.contains(sizeKey))
            continue;
        bool ok = false;
        const int size = settings.value(sizeKey).toInt(&ok);
        if (!ok || size < 0 || size > kMaxArrayEntries)
            return translated("The list \"%1\" claims %2 entries; more than %3 are taken for damage.")
                .arg(group, settings.value(sizeKey).toString().left(20))
                .arg(kMaxArrayEntries);
    }
    return QString();
}

// What tells one state of a file on disk from another without reading it.
// Size and modification time alone miss a file put back in one step from a
// copy of the same size and time (a restored backup, an editor's save: a new
// file renamed over the old one), and a change of its permissions, which
// decide whether it can be read.
struct FileStamp
{
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};  // status change: permissions, owner, renames
    bool operator==(const FileStamp &other) const
    {
        const auto same = [](const timespec &a, const timespec &b) {
            return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
        };
        return exists == other.exists && device == other.device && inode == other.inode && size == other.size
               && same(modified, other.modified) && same(changed, other.changed);
    }
};

FileStamp stampOf(const QString &path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    return {true, info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
}

// What was found out about each file, until it changes: Qt reports a format
// error only to the settings object that parses a file (later objects share
// that parse while the file is unchanged and see none), and a file that is
// not used is named in the log once, not on every read.
struct Verdict
{
    FileStamp stamp;
    QString reason;
};

struct Verdicts
{
    QMutex mutex;
    QHash<QString, Verdict> byPath;
};

Verdicts &fileVerdicts()
{
    static Verdicts verdicts;
    return verdicts;
}

// A settings object on one INI file. A file that is not a settings file, or
// one that Qt cannot parse, reads as empty: the caller sees no keys rather
// than half-parsed garbage. Such a file is never written either, so what it
// holds stays as it is.
class Ini
{
public:
    explicit Ini(const QString &path)
    {
        const FileStamp stamp = stampOf(path);
        Verdicts &verdicts = fileVerdicts();
        const QMutexLocker lock(&verdicts.mutex);
        const auto known = verdicts.byPath.constFind(path);
        const bool fresh = known == verdicts.byPath.cend() || !(known->stamp == stamp);
        reason_ = fresh ? unusableReason(path) : known->reason;
        if (reason_.isEmpty()) {
            settings_ = std::make_unique<QSettings>(path, QSettings::IniFormat);
            if (fresh)
                reason_ = unusableReason(*settings_);
        }
        if (!fresh)
            return;
        verdicts.byPath.insert(path, {stamp, reason_});
        if (!reason_.isEmpty())
            qWarning().noquote() << "Settings file not used:" << path << "-" << reason_;
    }
    bool readable() const { return reason_.isEmpty(); }
    // Writes only go to a file that was read whole (or that does not exist yet).
    bool writable() const { return readable(); }
    QString reason() const { return reason_; }
    QSettings &operator*() { return *settings_; }
    QSettings *operator->() { return settings_.get(); }

private:
    QString reason_;
    std::unique_ptr<QSettings> settings_;
};

bool readKey(const QString &path, const QString &group, const QMap<int, QString> &keys, int id, QVariant &out)
{
    const auto key = keys.find(id);
    if (key == keys.end())
        return false;
    Ini ini(path);
    if (!ini.readable())
        return false;
    ini->beginGroup(group);
    const QVariant value = ini->value(*key);
    ini->endGroup();
    if (!value.isValid() || !acceptable(ruleOf(group, *key), value))
        return false;
    out = value;
    return true;
}

// Writes the pending changes out; false when the file could not be written.
bool flush(QSettings &settings)
{
    settings.sync();
    return settings.status() == QSettings::NoError;
}

// Whether a write was made and reached the file.
enum class Written { Skipped, Done, Failed };

Written writeKey(const QString &path, const QString &group, const QMap<int, QString> &keys, int id,
                 const QVariant &value)
{
    const auto key = keys.find(id);
    if (key == keys.end())
        return Written::Skipped;
    Ini ini(path);
    if (!ini.writable())
        return Written::Skipped;
    ini->beginGroup(group);
    ini->setValue(*key, value);
    ini->endGroup();
    return flush(*ini) ? Written::Done : Written::Failed;
}

QMap<int, QVariant> readGroup(const QString &path, const QString &group, const QMap<int, QString> &keys)
{
    QMap<int, QVariant> result;
    Ini ini(path);
    if (!ini.readable())
        return result;
    ini->beginGroup(group);
    for (auto it = keys.cbegin(); it != keys.cend(); ++it) {
        const QVariant value = ini->value(it.value());
        if (value.isValid() && acceptable(ruleOf(group, it.value()), value))
            result.insert(it.key(), value);
    }
    ini->endGroup();
    return result;
}

// Wider than any camera picture: a larger width is damage.
constexpr int kMaxPictureWidth = 100000;

// A stored calibration number that is a positive finite number, else 0.
double positiveNumber(const QVariant &value)
{
    bool ok = false;
    const double number = value.toDouble(&ok);
    return ok && std::isfinite(number) && number > 0.0 ? number : 0.0;
}

// One element of array "calibrate" as the file holds it.
struct StoredCalibration
{
    CalibrationRecord record;
    // Damaged: the length or the scale is not a positive number, or a width
    // is there but is none. Such an entry is not measured with.
    bool usable = true;
    // Every key of the element as stored, so that a rewrite of the list
    // keeps what this version does not read.
    QVariantMap keys;
};

StoredCalibration readCalibration(QSettings &settings)
{
    StoredCalibration stored;
    for (const QString &key : settings.childKeys())
        stored.keys.insert(key, settings.value(key));
    CalibrationRecord &record = stored.record;
    record.name = stored.keys.value(QStringLiteral("name")).toString();
    record.length = positiveNumber(stored.keys.value(QStringLiteral("length")));
    record.unit = stored.keys.value(QStringLiteral("unit")).toString();
    record.real = positiveNumber(stored.keys.value(QStringLiteral("real")));
    record.id = stored.keys.value(QStringLiteral("id")).toString();
    stored.usable = record.length > 0.0 && record.real > 0.0;
    const QVariant width = stored.keys.value(QStringLiteral("width"));
    if (width.isValid()) {
        const double pixels = positiveNumber(width);
        if (pixels >= 1.0 && pixels <= kMaxPictureWidth && pixels == std::floor(pixels))
            record.width = int(pixels);
        else
            stored.usable = false;
    }
    return stored;
}

void writeCalibration(QSettings &settings, const CalibrationRecord &record)
{
    settings.setValue(QStringLiteral("name"), record.name);
    settings.setValue(QStringLiteral("length"), record.length);
    settings.setValue(QStringLiteral("unit"), record.unit);
    settings.setValue(QStringLiteral("real"), record.real);
    settings.setValue(QStringLiteral("id"), record.id);
    // Without a width the record reads as older versions wrote it.
    if (record.width > 0)
        settings.setValue(QStringLiteral("width"), record.width);
}


// The array "calibrate" with an id on every entry. An entry without one, or
// with one an earlier entry already has (a hand-edited file), is known by
// its place: the same file always gives the same ids.
QList<StoredCalibration> readCalibrations(QSettings &settings)
{
    QList<StoredCalibration> entries;
    QSet<QString> seen;
    const int count = settings.beginReadArray(kCalibrateArray);
    for (int i = 0; i < count; ++i) {
        settings.setArrayIndex(i);
        StoredCalibration entry = readCalibration(settings);
        QString &id = entry.record.id;
        if (id.isEmpty() || seen.contains(id)) {
            id = QStringLiteral("#") + QString::number(i + 1);
            while (seen.contains(id))
                id += QStringLiteral("#");
        }
        seen.insert(id);
        entries.append(entry);
    }
    settings.endArray();
    return entries;
}

// "Index" of group "settings" is a place in array "calibrate": one at or
// past its end names no stored entry (a list cut short or edited by hand)
// and is damage like a value out of its range.
bool indexPastTheList(QSettings &settings)
{
    const QString key = QStringLiteral("Index");
    settings.beginGroup(kSettingsGroup);
    const QVariant index = settings.value(key);
    settings.endGroup();
    if (!index.isValid() || !acceptable(ruleOf(kSettingsGroup, key), index))
        return false;
    const int count = qMax(0, settings.beginReadArray(kCalibrateArray));
    settings.endArray();
    return index.toInt() >= count;
}

// Why a file could not be written, as far as the system tells, and what
// the cause lies in: the file itself, or the folder it is written in.
struct WriteFailure
{
    QString scope;
    QString cause;  // for the user
};

WriteFailure writeFailureOf(const QString &path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return {path, translated("a folder has its name")};
    if (info.exists() && !info.isWritable())
        return {path, translated("the file is read-only")};
    // Qt writes a new file beside the old one and renames it over: a file of
    // the same size meets what that write met (a full disk, a folder
    // without permission).
    const QString folder = info.absolutePath();
    QTemporaryFile probe(folder + QStringLiteral("/.settings-XXXXXX"));
    if (!probe.open())
        return {folder, probe.errorString()};
    const QByteArray bytes(int(qBound<qint64>(1, info.size() + 1, kMaxSettingsFileSize)), '\n');
    if (probe.write(bytes) != bytes.size() || !probe.flush())
        return {folder, probe.errorString()};
    return {path, translated("the file could not be written")};
}

// The causes of failing writes by what they lie in, and who hears of a new one.
struct WriteFailures
{
    QMutex mutex;
    QHash<QString, QString> causes;
    SettingsStore::WriteFailureHandler handler;
};

WriteFailures &writeFailures()
{
    static WriteFailures failures;
    return failures;
}

// A cause is told once; a write that went through ends what lay in its
// file and its folder, so that a failure after it is told again. Every
// failed write is logged, also one whose cause was told already. Returns the
// cause of a failed write, else an empty text.
QString noteWrite(const QString &path, Written written, bool callerReports = false, const QString &knownCause = {})
{
    WriteFailures &failures = writeFailures();
    if (written == Written::Done) {
        const QMutexLocker lock(&failures.mutex);
        failures.causes.remove(path);
        failures.causes.remove(QFileInfo(path).absolutePath());
    }
    if (written != Written::Failed)
        return QString();
    const WriteFailure failure = knownCause.isEmpty() ? writeFailureOf(path) : WriteFailure{path, knownCause};
    qWarning().noquote() << "Settings not saved to" << path << "-" << failure.cause;
    SettingsStore::WriteFailureHandler handler;
    {
        const QMutexLocker lock(&failures.mutex);
        if (failures.causes.value(failure.scope) == failure.cause)
            return failure.cause;
        failures.causes.insert(failure.scope, failure.cause);
        if (!callerReports)
            handler = failures.handler;
    }
    if (handler)
        handler({path, failure.cause});
    return failure.cause;
}

// Why a settings file that can't be used was not written, for the caller
// that tells the user; the reason a file is not used was told when it was
// found.
QString notUsedCause(const QString &path)
{
    if (QFileInfo(path).isDir())
        return translated("a folder has its name");
    return translated("the file is not used");
}

} // namespace

QString imgFormatExtension(ImgFormat format)
{
    switch (format) {
    case ImgFormat::Bmp: return QStringLiteral(".bmp");
    case ImgFormat::Tiff: return QStringLiteral(".tiff");
    case ImgFormat::Jpg: break;
    }
    return QStringLiteral(".jpg");
}

QString CalibrationRecord::displayText() const
{
    return name + QStringLiteral(", ") + QString::number(length, 'g', 6) + unit;
}

QString CalibrationRecord::newId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

SettingsStore &SettingsStore::instance()
{
    static SettingsStore store;  // thread-safe first-use creation
    return store;
}

SettingsStore::SettingsStore()
{
    setBaseFolderForTesting(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
    baseKeys_ = {{0, QStringLiteral("UpgradeFilePath")}, {1, QStringLiteral("OpenedImgPath")}};
    for (int id = 0; id < kDrawPropertyCount; ++id)
        drawKeys_.insert(id, QString::fromLatin1(kDrawKeyNames[id]));
    settingsKeys_ = {{0, QStringLiteral("Mode")}, {1, QStringLiteral("Index")}, {2, QStringLiteral("Unit")}};
    burstModeKeys_ = {{0, QStringLiteral("Number")}, {1, QStringLiteral("Interval")}};
    keyBindKeys_ = {{0, QStringLiteral("MouseWheel")}};
}

void SettingsStore::setWriteFailureHandler(WriteFailureHandler handler)
{
    WriteFailures &failures = writeFailures();
    const QMutexLocker lock(&failures.mutex);
    failures.handler = std::move(handler);
}

void SettingsStore::noteWriteOf(const QString &path, const QString &cause)
{
    noteWrite(path, cause.isEmpty() ? Written::Done : Written::Failed, false, cause);
}

void SettingsStore::setBaseFolderForTesting(const QString &folder)
{
    {
        WriteFailures &failures = writeFailures();
        const QMutexLocker lock(&failures.mutex);
        failures.causes.clear();
    }
    configPath_ = folder + QStringLiteral("/config.ini");
    calibrationPath_ = folder + QStringLiteral("/calibration.ini");
    crossPath_ = folder + QStringLiteral("/cross.ini");
}

QString SettingsStore::drawKey(int id)
{
    return id >= 0 && id < kDrawPropertyCount ? QString::fromLatin1(kDrawKeyNames[id]) : QString();
}

QString SettingsStore::defaultPicturePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::PicturesLocation) + QStringLiteral("/")
           + QCoreApplication::applicationName();
}

QMap<int, QVariant> SettingsStore::loadDraw() const
{
    QMap<int, QVariant> result = readGroup(configPath_, kDrawGroup, drawKeys_);
    auto fill = [&result](int id, const QVariant &value) {
        if (!result.contains(id))
            result.insert(id, value);
    };
    fill(QuickSavePath, defaultPicturePath());
    for (int id : {LineStyle, CrossStyle, GridlinesStyle, MarkStyle, LLineStyle, SaveType})
        fill(id, 1);
    fill(TextSize, 13);
    fill(LTextWidth, 13);
    for (int id : {LineWidth, CrossWidth, PointWidth})
        fill(id, 1);
    return result;
}

bool SettingsStore::drawValue(int id, QVariant &out) const
{
    return readKey(configPath_, kDrawGroup, drawKeys_, id, out);
}

void SettingsStore::setDrawValue(int id, const QVariant &value) const
{
    noteWrite(configPath_, writeKey(configPath_, kDrawGroup, drawKeys_, id, value));
}

bool SettingsStore::baseValue(int id, QVariant &out) const
{
    return readKey(configPath_, kBaseGroup, baseKeys_, id, out);
}

void SettingsStore::setBaseValue(int id, const QVariant &value) const
{
    noteWrite(configPath_, writeKey(configPath_, kBaseGroup, baseKeys_, id, value));
}

QString SettingsStore::openedImagePath() const
{
    QVariant value;
    if (baseValue(1, value))
        return value.toString();
    return defaultPicturePath();
}

void SettingsStore::setOpenedImagePath(const QString &path) const
{
    setBaseValue(1, path);
}

bool SettingsStore::keyBindValue(int id, QVariant &out) const
{
    return readKey(configPath_, kKeyBindGroup, keyBindKeys_, id, out);
}

void SettingsStore::setKeyBindValue(int id, const QVariant &value) const
{
    noteWrite(configPath_, writeKey(configPath_, kKeyBindGroup, keyBindKeys_, id, value));
}

QMap<int, QVariant> SettingsStore::loadBurstMode() const
{
    return readGroup(configPath_, kBurstGroup, burstModeKeys_);
}

void SettingsStore::setBurstModeValue(int id, const QVariant &value) const
{
    noteWrite(configPath_, writeKey(configPath_, kBurstGroup, burstModeKeys_, id, value));
}

QMap<int, QVariant> SettingsStore::loadCalibrationSettings() const
{
    QMap<int, QVariant> values = readGroup(calibrationPath_, kSettingsGroup, settingsKeys_);
    if (values.contains(1)) {
        Ini ini(calibrationPath_);
        if (ini.readable() && indexPastTheList(*ini))
            values.remove(1);
    }
    return values;
}

void SettingsStore::setCalibrationSetting(int id, const QVariant &value) const
{
    noteWrite(calibrationPath_, writeKey(calibrationPath_, kSettingsGroup, settingsKeys_, id, value));
}

QVariantMap SettingsStore::loadCommonTools() const
{
    Ini ini(configPath_);
    if (!ini.readable())
        return {};
    ini->beginGroup(QStringLiteral("CommonTool"));
    const QVariant value = ini->value(QStringLiteral("commontool"));
    ini->endGroup();
    return value.toMap();
}

void SettingsStore::saveCommonTools(const QVariantMap &tools) const
{
    Ini ini(configPath_);
    if (!ini.writable())
        return;
    ini->beginGroup(QStringLiteral("CommonTool"));
    ini->setValue(QStringLiteral("commontool"), tools);
    ini->endGroup();
    noteWrite(configPath_, flush(*ini) ? Written::Done : Written::Failed);
}

bool SettingsStore::addCalibration(const CalibrationRecord &record, QString *cause) const
{
    Ini ini(calibrationPath_);
    // Appending to a file Qt cannot parse would write over what it holds.
    if (!ini.readable()) {
        if (cause)
            *cause = notUsedCause(calibrationPath_);
        return false;
    }
    const int count = qMax(0, ini->beginReadArray(kCalibrateArray));
    ini->endArray();
    CalibrationRecord stored = record;
    if (stored.id.isEmpty())
        stored.id = CalibrationRecord::newId();
    ini->beginWriteArray(kCalibrateArray);
    ini->setArrayIndex(count);
    writeCalibration(*ini, stored);
    ini->endArray();
    const bool written = flush(*ini);
    const QString failure = noteWrite(calibrationPath_, written ? Written::Done : Written::Failed, true);
    if (cause)
        *cause = failure;
    return written;
}

QList<CalibrationRecord> SettingsStore::calibrations() const
{
    Ini ini(calibrationPath_);
    if (!ini.readable())
        return {};
    QList<CalibrationRecord> records;
    for (const StoredCalibration &entry : readCalibrations(*ini))
        if (entry.usable)
            records.append(entry.record);
    return records;
}

QStringList SettingsStore::calibrationIds() const
{
    Ini ini(calibrationPath_);
    if (!ini.readable())
        return {};
    QStringList ids;
    for (const StoredCalibration &entry : readCalibrations(*ini))
        ids << entry.record.id;
    return ids;
}

bool SettingsStore::removeCalibration(const QString &id, QString *cause) const
{
    Ini ini(calibrationPath_);
    if (!ini.readable()) {
        if (cause)
            *cause = notUsedCause(calibrationPath_);
        return false;
    }
    QList<StoredCalibration> kept = readCalibrations(*ini);
    const auto found = std::find_if(kept.begin(), kept.end(),
                                    [&id](const StoredCalibration &entry) { return entry.record.id == id; });
    if (found == kept.end()) {
        if (cause)
            cause->clear();
        return false;
    }
    kept.erase(found);
    ini->remove(kCalibrateArray);
    ini->beginWriteArray(kCalibrateArray, kept.size());
    for (int i = 0; i < kept.size(); ++i) {
        ini->setArrayIndex(i);
        const StoredCalibration &entry = kept.at(i);
        for (auto key = entry.keys.cbegin(); key != entry.keys.cend(); ++key)
            ini->setValue(key.key(), key.value());
        // An entry known by its place keeps that id from now on.
        ini->setValue(QStringLiteral("id"), entry.record.id);
    }
    ini->endArray();
    const bool written = flush(*ini);
    const QString failure = noteWrite(calibrationPath_, written ? Written::Done : Written::Failed, true);
    if (cause)
        *cause = failure;
    return written;
}

void SettingsStore::saveCrossLines(const QList<CrossInfo> &lines) const
{
    Ini ini(crossPath_);
    if (!ini.writable())
        return;
    ini->beginWriteArray(QStringLiteral("cross"), lines.size());
    for (int i = 0; i < lines.size(); ++i) {
        const CrossInfo &line = lines.at(i);
        ini->setArrayIndex(i);
        ini->setValue(QStringLiteral("direct"), line.direct);
        ini->setValue(QStringLiteral("width"), line.width);
        ini->setValue(QStringLiteral("color"), line.color);
        ini->setValue(QStringLiteral("pos"), line.pos);
        ini->setValue(QStringLiteral("lock"), line.lock);
        ini->setValue(QStringLiteral("visible"), line.visible);
    }
    ini->endArray();
    noteWrite(crossPath_, flush(*ini) ? Written::Done : Written::Failed);
}

QList<SettingsFileProblem> SettingsStore::unusableFiles() const
{
    QList<SettingsFileProblem> problems;
    for (const QString &path : {configPath_, calibrationPath_, crossPath_}) {
        const QString reason = Ini(path).reason();
        if (!reason.isEmpty())
            problems.append({path, reason});
    }
    return problems;
}

QList<IgnoredSettings> SettingsStore::ignoredSettings() const
{
    QList<IgnoredSettings> ignored;
    for (const QString &path : {configPath_, calibrationPath_}) {
        Ini ini(path);
        if (!ini.readable())
            continue;
        IgnoredSettings found{path, ignoredKeys(*ini), {}};
        if (path == calibrationPath_) {
            if (indexPastTheList(*ini))
                found.keys << QStringLiteral("Index");
            const QList<StoredCalibration> entries = readCalibrations(*ini);
            for (int i = 0; i < entries.size(); ++i)
                if (!entries.at(i).usable)
                    found.calibrations << translated("%1 (entry %2)").arg(entries.at(i).record.name.left(64)).arg(i + 1);
        }
        if (!found.keys.isEmpty() || !found.calibrations.isEmpty())
            ignored.append(found);
    }
    return ignored;
}

void registerSettingsMetaTypes()
{
    qRegisterMetaType<DrawProperty>("DrawProperty");
    qRegisterMetaType<KeyFunction>("KeyFunction");
    qRegisterMetaType<MyLanguage>("MyLanguage");
    qRegisterMetaType<ImgFormat>("ImgFormat");
}
