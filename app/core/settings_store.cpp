#include "settings_store.h"

#include "retry_schedule.h"

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

QVariant inUse(const QString &path, const QString &group, const QString &key, const QVariant &stored);

bool readKey(const QString &path, const QString &group, const QMap<int, QString> &keys, int id, QVariant &out)
{
    const auto key = keys.find(id);
    if (key == keys.end())
        return false;
    Ini ini(path);
    if (!ini.readable())
        return false;
    ini->beginGroup(group);
    const QVariant value = inUse(path, group, *key, ini->value(*key));
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

QMap<int, QVariant> readGroup(const QString &path, const QString &group, const QMap<int, QString> &keys)
{
    QMap<int, QVariant> result;
    Ini ini(path);
    if (!ini.readable())
        return result;
    ini->beginGroup(group);
    for (auto it = keys.cbegin(); it != keys.cend(); ++it) {
        const QVariant value = inUse(path, group, it.value(), ini->value(it.value()));
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

// Writes that did not reach their file (a full disk, a read-only file),
// by file: the values in use, kept until a later write of the file or a
// retry stores them, or the program closes. Each write of a file writes
// what is kept for it too.
struct KeptFile
{
    // "group/key" → value.
    QMap<QString, QVariant> keys;
    // Calibrations removed and added, by id and in the order made.
    QStringList removedCalibrations;
    QList<CalibrationRecord> addedCalibrations;
    bool crossKept = false;
    QList<CrossInfo> crossLines;
};

struct KeptWrites
{
    QMutex mutex;
    QHash<QString, KeptFile> files;
};

KeptWrites &keptWrites()
{
    static KeptWrites kept;
    return kept;
}

QString keyPath(const QString &group, const QString &key)
{
    return group + QLatin1Char('/') + key;
}

void writeCrossLines(QSettings &settings, const QList<CrossInfo> &lines)
{
    settings.beginWriteArray(QStringLiteral("cross"), lines.size());
    for (int i = 0; i < lines.size(); ++i) {
        const CrossInfo &line = lines.at(i);
        settings.setArrayIndex(i);
        settings.setValue(QStringLiteral("direct"), line.direct);
        settings.setValue(QStringLiteral("width"), line.width);
        settings.setValue(QStringLiteral("color"), line.color);
        settings.setValue(QStringLiteral("pos"), line.pos);
        settings.setValue(QStringLiteral("lock"), line.lock);
        settings.setValue(QStringLiteral("visible"), line.visible);
    }
    settings.endArray();
}

// Lays what is kept for a file over its settings object.
void applyKept(QSettings &settings, const KeptFile &kept)
{
    if (!kept.removedCalibrations.isEmpty()) {
        // The entries left keep their order and every key they had.
        QList<StoredCalibration> entries = readCalibrations(settings);
        entries.erase(std::remove_if(entries.begin(), entries.end(),
                                     [&kept](const StoredCalibration &entry) {
                                         return kept.removedCalibrations.contains(entry.record.id);
                                     }),
                      entries.end());
        settings.remove(kCalibrateArray);
        settings.beginWriteArray(kCalibrateArray, entries.size());
        for (int i = 0; i < entries.size(); ++i) {
            settings.setArrayIndex(i);
            const StoredCalibration &entry = entries.at(i);
            for (auto key = entry.keys.cbegin(); key != entry.keys.cend(); ++key)
                settings.setValue(key.key(), key.value());
            // An entry known by its place keeps that id from now on.
            settings.setValue(QStringLiteral("id"), entry.record.id);
        }
        settings.endArray();
    }
    if (!kept.addedCalibrations.isEmpty()) {
        const int count = qMax(0, settings.beginReadArray(kCalibrateArray));
        settings.endArray();
        settings.beginWriteArray(kCalibrateArray);
        for (int i = 0; i < kept.addedCalibrations.size(); ++i) {
            settings.setArrayIndex(count + i);
            writeCalibration(settings, kept.addedCalibrations.at(i));
        }
        settings.endArray();
    }
    for (auto key = kept.keys.cbegin(); key != kept.keys.cend(); ++key)
        settings.setValue(key.key(), key.value());
    if (kept.crossKept)
        writeCrossLines(settings, kept.crossLines);
}

// Whether a write was made and reached the file.
enum class Written { Skipped, Done, Failed };

// Keeps a change for `path` (`keep` adds it to what is kept) and writes
// everything kept for the file in one go; what reached the file is no
// longer kept. A file that is not used is not written, and nothing is kept
// for it.
Written writeKept(const QString &path, const std::function<void(KeptFile &)> &keep = {})
{
    KeptWrites &kept = keptWrites();
    const QMutexLocker lock(&kept.mutex);
    Ini ini(path);
    if (!ini.writable())
        return Written::Skipped;
    if (keep)
        keep(kept.files[path]);
    const auto file = kept.files.find(path);
    if (file == kept.files.end())
        return Written::Skipped;
    applyKept(*ini, *file);
    if (!flush(*ini))
        return Written::Failed;
    kept.files.erase(file);
    return Written::Done;
}

Written writeKey(const QString &path, const QString &group, const QMap<int, QString> &keys, int id,
                 const QVariant &value)
{
    const auto key = keys.find(id);
    if (key == keys.end())
        return Written::Skipped;
    return writeKept(path, [&](KeptFile &file) { file.keys.insert(keyPath(group, *key), value); });
}

// The value of a key as the program uses it: what is kept for it, else `stored`.
QVariant inUse(const QString &path, const QString &group, const QString &key, const QVariant &stored)
{
    KeptWrites &kept = keptWrites();
    const QMutexLocker lock(&kept.mutex);
    const auto file = kept.files.constFind(path);
    if (file == kept.files.cend())
        return stored;
    return file->keys.value(keyPath(group, key), stored);
}

// What is kept for `path`, for the log: the keys, the calibrations added
// and removed, the overlay lines.
QStringList keptItems(const KeptFile &file)
{
    QStringList items = file.keys.keys();
    for (const CalibrationRecord &record : file.addedCalibrations)
        items << QStringLiteral("calibration \"%1\"").arg(record.displayText());
    for (const QString &id : file.removedCalibrations)
        items << QStringLiteral("removal of calibration %1").arg(id);
    if (file.crossKept)
        items << QStringLiteral("%1 overlay lines").arg(file.crossLines.size());
    return items;
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

// Why a file could not be written, as far as the system tells, for the user.
QString writeFailureOf(const QString &path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return translated("a folder has its name");
    if (info.exists() && !info.isWritable())
        return translated("the file is read-only");
    // Qt writes a new file beside the old one and renames it over: a file of
    // the same size meets what that write met (a full disk, a folder
    // without permission).
    QTemporaryFile probe(info.absolutePath() + QStringLiteral("/.settings-XXXXXX"));
    if (!probe.open())
        return probe.errorString();
    const QByteArray bytes(int(qBound<qint64>(1, info.size() + 1, kMaxSettingsFileSize)), '\n');
    if (probe.write(bytes) != bytes.size() || !probe.flush())
        return probe.errorString();
    return translated("the file could not be written");
}

// The files whose settings are not all stored, with the cause told, and who
// hears of a new one.
struct WriteFailures
{
    QMutex mutex;
    QMap<QString, QString> notStored;
    SettingsStore::WriteFailureHandler handler;
};

WriteFailures &writeFailures()
{
    static WriteFailures failures;
    return failures;
}

// A file that fails is told once, with every other file not stored at that
// moment, until a write of it goes through and ends its failure; another
// file failing meanwhile, for whatever cause, is told in its turn, and so is
// a new cause. Every failed write is logged, also one told already. Returns
// the cause of a failed write, else an empty text.
QString noteWrite(const QString &path, Written written, bool callerReports = false, const QString &knownCause = {})
{
    WriteFailures &failures = writeFailures();
    if (written == Written::Done) {
        const QMutexLocker lock(&failures.mutex);
        failures.notStored.remove(path);
    }
    if (written != Written::Failed)
        return QString();
    const QString cause = knownCause.isEmpty() ? writeFailureOf(path) : knownCause;
    qWarning().noquote() << "Settings not saved to" << path << "-" << cause;
    SettingsStore::WriteFailureHandler handler;
    SettingsWriteFailure told{path, cause, {}};
    {
        const QMutexLocker lock(&failures.mutex);
        if (failures.notStored.value(path) == cause)
            return cause;
        failures.notStored.insert(path, cause);
        if (!callerReports)
            handler = failures.handler;
        told.othersNotStored = failures.notStored;
        told.othersNotStored.remove(path);
    }
    if (handler)
        handler(told);
    return cause;
}

// Writes everything kept, file by file, without telling a failure again;
// true when nothing is left to try (a file no longer used is not tried).
bool storeAllKept()
{
    QStringList paths;
    {
        KeptWrites &kept = keptWrites();
        const QMutexLocker lock(&kept.mutex);
        paths = kept.files.keys();
    }
    bool left = false;
    for (const QString &path : paths) {
        const Written written = writeKept(path);
        if (written == Written::Done) {
            qDebug().noquote() << "Kept settings stored in" << path;
            noteWrite(path, written);
        }
        left = left || written == Written::Failed;
    }
    return !left;
}

RetrySchedule &keptRetry()
{
    // As the camera settings are tried again: 1 s after the last failure,
    // then at twice the interval before, up to 4 s.
    static RetrySchedule retry(QStringLiteral("Kept settings"), 1000, 4000, storeAllKept);
    return retry;
}

// A write of the store's own files: one that failed is tried again later.
QString noteStoreWrite(const QString &path, Written written, bool callerReports = false)
{
    if (written == Written::Failed)
        keptRetry().restart();
    return noteWrite(path, written, callerReports);
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
        failures.notStored.clear();
    }
    {
        KeptWrites &kept = keptWrites();
        const QMutexLocker lock(&kept.mutex);
        kept.files.clear();
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
    noteStoreWrite(configPath_, writeKey(configPath_, kDrawGroup, drawKeys_, id, value));
}

bool SettingsStore::baseValue(int id, QVariant &out) const
{
    return readKey(configPath_, kBaseGroup, baseKeys_, id, out);
}

void SettingsStore::setBaseValue(int id, const QVariant &value) const
{
    noteStoreWrite(configPath_, writeKey(configPath_, kBaseGroup, baseKeys_, id, value));
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
    noteStoreWrite(configPath_, writeKey(configPath_, kKeyBindGroup, keyBindKeys_, id, value));
}

QMap<int, QVariant> SettingsStore::loadBurstMode() const
{
    return readGroup(configPath_, kBurstGroup, burstModeKeys_);
}

void SettingsStore::setBurstModeValue(int id, const QVariant &value) const
{
    noteStoreWrite(configPath_, writeKey(configPath_, kBurstGroup, burstModeKeys_, id, value));
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
    noteStoreWrite(calibrationPath_, writeKey(calibrationPath_, kSettingsGroup, settingsKeys_, id, value));
}

QVariantMap SettingsStore::loadCommonTools() const
{
    Ini ini(configPath_);
    if (!ini.readable())
        return {};
    const QString group = QStringLiteral("CommonTool");
    const QString key = QStringLiteral("commontool");
    return inUse(configPath_, group, key, ini->value(keyPath(group, key))).toMap();
}

void SettingsStore::saveCommonTools(const QVariantMap &tools) const
{
    noteStoreWrite(configPath_, writeKept(configPath_, [&tools](KeptFile &file) {
                       file.keys.insert(keyPath(QStringLiteral("CommonTool"), QStringLiteral("commontool")), tools);
                   }));
}

bool SettingsStore::addCalibration(const CalibrationRecord &record, QString *cause) const
{
    CalibrationRecord stored = record;
    if (stored.id.isEmpty())
        stored.id = CalibrationRecord::newId();
    // Appending to a file Qt cannot parse would write over what it holds.
    const Written written =
        writeKept(calibrationPath_, [&stored](KeptFile &file) { file.addedCalibrations.append(stored); });
    if (written == Written::Skipped) {
        if (cause)
            *cause = notUsedCause(calibrationPath_);
        return false;
    }
    const QString failure = noteStoreWrite(calibrationPath_, written, true);
    if (cause)
        *cause = failure;
    return written == Written::Done;
}

namespace {

// The calibrations of the file as the program uses them: without those whose
// removal is kept, with those whose addition is.
QList<StoredCalibration> calibrationsInUse(const QString &path, QSettings &settings)
{
    QList<StoredCalibration> entries = readCalibrations(settings);
    KeptWrites &kept = keptWrites();
    const QMutexLocker lock(&kept.mutex);
    const auto file = kept.files.constFind(path);
    if (file == kept.files.cend())
        return entries;
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&file](const StoredCalibration &entry) {
                                     return file->removedCalibrations.contains(entry.record.id);
                                 }),
                  entries.end());
    for (const CalibrationRecord &record : file->addedCalibrations) {
        StoredCalibration entry;
        entry.record = record;
        entries.append(entry);
    }
    return entries;
}

} // namespace

QList<CalibrationRecord> SettingsStore::calibrations() const
{
    Ini ini(calibrationPath_);
    if (!ini.readable())
        return {};
    QList<CalibrationRecord> records;
    for (const StoredCalibration &entry : calibrationsInUse(calibrationPath_, *ini))
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
    for (const StoredCalibration &entry : calibrationsInUse(calibrationPath_, *ini))
        ids << entry.record.id;
    return ids;
}

bool SettingsStore::removeCalibration(const QString &id, QString *cause) const
{
    if (cause)
        cause->clear();
    {
        // One the file never took goes without a write.
        KeptWrites &kept = keptWrites();
        const QMutexLocker lock(&kept.mutex);
        const auto file = kept.files.find(calibrationPath_);
        if (file != kept.files.end()) {
            QList<CalibrationRecord> &added = file->addedCalibrations;
            const auto found = std::find_if(added.begin(), added.end(),
                                            [&id](const CalibrationRecord &record) { return record.id == id; });
            if (found != added.end()) {
                added.erase(found);
                if (added.isEmpty() && file->removedCalibrations.isEmpty() && file->keys.isEmpty())
                    kept.files.erase(file);
                return true;
            }
        }
    }
    Ini ini(calibrationPath_);
    if (!ini.readable()) {
        if (cause)
            *cause = notUsedCause(calibrationPath_);
        return false;
    }
    if (!calibrationIds().contains(id))
        return false;
    const Written written =
        writeKept(calibrationPath_, [&id](KeptFile &file) { file.removedCalibrations.append(id); });
    const QString failure = noteStoreWrite(calibrationPath_, written, true);
    if (cause)
        *cause = failure;
    return written == Written::Done;
}

void SettingsStore::saveCrossLines(const QList<CrossInfo> &lines) const
{
    noteStoreWrite(crossPath_, writeKept(crossPath_, [&lines](KeptFile &file) {
                       file.crossKept = true;
                       file.crossLines = lines;
                   }));
}

void SettingsStore::storeKeptAtExit() const
{
    storeAllKept();
    KeptWrites &kept = keptWrites();
    const QMutexLocker lock(&kept.mutex);
    for (auto file = kept.files.cbegin(); file != kept.files.cend(); ++file) {
        const QString cause = Ini(file.key()).writable() ? writeFailureOf(file.key()) : notUsedCause(file.key());
        qWarning().noquote() << QStringLiteral("Settings lost: %1 could not be stored in %2 (%3)")
                                    .arg(keptItems(*file).join(QStringLiteral(", ")), file.key(), cause);
    }
    kept.files.clear();
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
