#include "settings_store.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QPair>
#include <QSettings>
#include <QSet>
#include <QStandardPaths>
#include <QUuid>

#include <algorithm>

#include <memory>

namespace {

// Files Qt could not parse, with their size and modification time then. Qt
// reports a format error only to the settings object that parses a file;
// later objects share that parse while the file is unchanged and see none.
struct BrokenFiles
{
    QMutex mutex;
    QHash<QString, QPair<qint64, QDateTime>> stamps;
};

BrokenFiles &brokenFiles()
{
    static BrokenFiles files;
    return files;
}

// Settings files are a few kilobytes; anything this large is not one of ours,
// and parsing it on every read would stall the program.
constexpr qint64 kMaxSettingsFileSize = 1024 * 1024;

// Why the file at `path` can't be used as a settings file; empty when it can
// (a missing file can: it reads as empty and is created by the first write).
QString unusableReason(const QString &path)
{
    QFile file(path);
    if (!file.exists())
        return QString();
    if (file.size() > kMaxSettingsFileSize)
        return QCoreApplication::translate("SettingsStore", "The file is larger than %1 bytes.").arg(kMaxSettingsFileSize);
    if (!file.open(QIODevice::ReadOnly))
        return QCoreApplication::translate("SettingsStore", "The file cannot be read.");
    // Qt writes INI files as text; control characters other than tabs and
    // line ends never occur in one.
    const QByteArray bytes = file.read(kMaxSettingsFileSize + 1);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r') || byte == 0x7f)
            return QCoreApplication::translate("SettingsStore", "The file is not a settings file.");
    }
    return QString();
}

// A settings object on one INI file. A file that is not a settings file, or
// one that Qt cannot parse, reads as empty: the caller sees no keys rather
// than half-parsed garbage. Such a file is never written either, so what it
// holds stays as it is.
class Ini
{
public:
    explicit Ini(const QString &path)
        : usable_(unusableReason(path).isEmpty()),
          settings_(usable_ ? path : QString(), QSettings::IniFormat)
    {
        if (!usable_) {
            qWarning().noquote() << "Settings file not used:" << path;
            return;
        }
        const QFileInfo info(path);
        const QPair<qint64, QDateTime> stamp(info.size(), info.lastModified());
        BrokenFiles &broken = brokenFiles();
        const QMutexLocker lock(&broken.mutex);
        if (settings_.status() == QSettings::FormatError)
            broken.stamps.insert(path, stamp);
        else if (broken.stamps.contains(path))
            knownBroken_ = broken.stamps.value(path) == stamp;
        if (!knownBroken_ && settings_.status() != QSettings::FormatError)
            broken.stamps.remove(path);
    }
    bool readable() const { return usable_ && settings_.status() == QSettings::NoError && !knownBroken_; }
    // Writes only go to a file that was read whole (or that does not exist yet).
    bool writable() const { return readable(); }
    QSettings &operator*() { return settings_; }
    QSettings *operator->() { return &settings_; }

private:
    bool usable_;
    QSettings settings_;
    bool knownBroken_ = false;
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
    const bool present = ini->contains(*key);
    if (present)
        out = ini->value(*key);
    ini->endGroup();
    return present;
}

void writeKey(const QString &path, const QString &group, const QMap<int, QString> &keys, int id,
              const QVariant &value)
{
    const auto key = keys.find(id);
    if (key == keys.end())
        return;
    Ini ini(path);
    if (!ini.writable())
        return;
    ini->beginGroup(group);
    ini->setValue(*key, value);
    ini->endGroup();
}

QMap<int, QVariant> readGroup(const QString &path, const QString &group, const QMap<int, QString> &keys)
{
    QMap<int, QVariant> result;
    Ini ini(path);
    if (!ini.readable())
        return result;
    ini->beginGroup(group);
    for (auto it = keys.cbegin(); it != keys.cend(); ++it) {
        if (ini->contains(it.value()))
            result.insert(it.key(), ini->value(it.value()));
    }
    ini->endGroup();
    return result;
}

double toNumber(const QVariant &value)
{
    bool ok = false;
    const double number = value.toDouble(&ok);
    return ok && qIsFinite(number) ? number : 0.0;
}

CalibrationRecord readCalibration(QSettings &settings)
{
    CalibrationRecord record;
    record.name = settings.value(QStringLiteral("name")).toString();
    record.length = toNumber(settings.value(QStringLiteral("length")));
    record.unit = settings.value(QStringLiteral("unit")).toString();
    record.real = toNumber(settings.value(QStringLiteral("real")));
    record.id = settings.value(QStringLiteral("id")).toString();
    return record;
}

void writeCalibration(QSettings &settings, const CalibrationRecord &record)
{
    settings.setValue(QStringLiteral("name"), record.name);
    settings.setValue(QStringLiteral("length"), record.length);
    settings.setValue(QStringLiteral("unit"), record.unit);
    settings.setValue(QStringLiteral("real"), record.real);
    settings.setValue(QStringLiteral("id"), record.id);
}

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

// The array "calibrate" with an id on every entry. An entry without one, or
// with one an earlier entry already has (a hand-edited file), is known by
// its place: the same file always gives the same ids.
QList<CalibrationRecord> readCalibrations(QSettings &settings)
{
    QList<CalibrationRecord> records;
    QSet<QString> seen;
    const int count = settings.beginReadArray(kCalibrateArray);
    for (int i = 0; i < count; ++i) {
        settings.setArrayIndex(i);
        CalibrationRecord record = readCalibration(settings);
        if (record.id.isEmpty() || seen.contains(record.id)) {
            record.id = QStringLiteral("#") + QString::number(i + 1);
            while (seen.contains(record.id))
                record.id += QStringLiteral("#");
        }
        seen.insert(record.id);
        records.append(record);
    }
    settings.endArray();
    return records;
}

// Writes the pending changes out; false when the file could not be written.
bool flush(QSettings &settings)
{
    settings.sync();
    return settings.status() == QSettings::NoError;
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

void SettingsStore::setBaseFolderForTesting(const QString &folder)
{
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
    writeKey(configPath_, kDrawGroup, drawKeys_, id, value);
}

bool SettingsStore::baseValue(int id, QVariant &out) const
{
    return readKey(configPath_, kBaseGroup, baseKeys_, id, out);
}

void SettingsStore::setBaseValue(int id, const QVariant &value) const
{
    writeKey(configPath_, kBaseGroup, baseKeys_, id, value);
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
    writeKey(configPath_, kKeyBindGroup, keyBindKeys_, id, value);
}

QMap<int, QVariant> SettingsStore::loadBurstMode() const
{
    return readGroup(configPath_, kBurstGroup, burstModeKeys_);
}

void SettingsStore::setBurstModeValue(int id, const QVariant &value) const
{
    writeKey(configPath_, kBurstGroup, burstModeKeys_, id, value);
}

QMap<int, QVariant> SettingsStore::loadCalibrationSettings() const
{
    return readGroup(calibrationPath_, kSettingsGroup, settingsKeys_);
}

void SettingsStore::setCalibrationSetting(int id, const QVariant &value) const
{
    writeKey(calibrationPath_, kSettingsGroup, settingsKeys_, id, value);
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
}

bool SettingsStore::addCalibration(const CalibrationRecord &record) const
{
    Ini ini(calibrationPath_);
    // Appending to a file Qt cannot parse would write over what it holds.
    if (!ini.readable())
        return false;
    const int count = qMax(0, ini->beginReadArray(kCalibrateArray));
    ini->endArray();
    CalibrationRecord stored = record;
    if (stored.id.isEmpty())
        stored.id = CalibrationRecord::newId();
    ini->beginWriteArray(kCalibrateArray);
    ini->setArrayIndex(count);
    writeCalibration(*ini, stored);
    ini->endArray();
    return flush(*ini);
}

QList<CalibrationRecord> SettingsStore::calibrations() const
{
    Ini ini(calibrationPath_);
    if (!ini.readable())
        return {};
    return readCalibrations(*ini);
}

bool SettingsStore::removeCalibration(const QString &id) const
{
    Ini ini(calibrationPath_);
    if (!ini.readable())
        return false;
    QList<CalibrationRecord> kept = readCalibrations(*ini);
    const auto found = std::find_if(kept.begin(), kept.end(), [&id](const CalibrationRecord &r) { return r.id == id; });
    if (found == kept.end())
        return false;
    kept.erase(found);
    ini->remove(kCalibrateArray);
    ini->beginWriteArray(kCalibrateArray, kept.size());
    for (int i = 0; i < kept.size(); ++i) {
        ini->setArrayIndex(i);
        writeCalibration(*ini, kept.at(i));
    }
    ini->endArray();
    return flush(*ini);
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
}

QList<SettingsFileProblem> SettingsStore::unusableFiles() const
{
    QList<SettingsFileProblem> problems;
    for (const QString &path : {configPath_, calibrationPath_, crossPath_}) {
        QString reason = unusableReason(path);
        if (reason.isEmpty() && QFileInfo::exists(path) && !Ini(path).readable())
            reason = QCoreApplication::translate("SettingsStore", "The file is not a settings file.");
        if (!reason.isEmpty())
            problems.append({path, reason});
    }
    return problems;
}

void registerSettingsMetaTypes()
{
    qRegisterMetaType<DrawProperty>("DrawProperty");
    qRegisterMetaType<KeyFunction>("KeyFunction");
    qRegisterMetaType<MyLanguage>("MyLanguage");
    qRegisterMetaType<ImgFormat>("ImgFormat");
}
