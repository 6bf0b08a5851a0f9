// The settings store: the one place that reads and writes the user's INI
// files ("config.ini", "calibration.ini", "cross.ini" in the application-data
// folder). Nothing is cached: every call opens the file, so a value written by
// one caller is what the next caller reads.
#pragma once

#include <QColor>
#include <QList>
#include <QMap>
#include <QMetaType>
#include <QPointF>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <functional>

// Drawing, naming and photo properties; the id is also the key's place in
// group "draw" of "config.ini".
enum DrawProperty : int {
    PointWidth = 0,
    PointColor = 1,
    LineWidth = 2,
    LineStyle = 3,
    LineColor = 4,
    TextSize = 5,
    TextFont = 6,
    TextColor = 7,
    Antialiasing = 8,
    QuickSavePath = 9,
    CrossWidth = 10,
    CrossStyle = 11,
    CrossColor = 12,
    GridlinesWidth = 13,
    GridlinesStyle = 14,
    GridlinesColor = 15,
    GridlinesHLines = 16,
    GridlinesVLines = 17,
    MarkWidth = 18,
    MarkStyle = 19,
    MarkColor = 20,
    LTextWidth = 21,
    LTextFont = 22,
    LTextColor = 23,
    LLineWidth = 24,
    LLineStyle = 25,
    LLineColor = 26,
    RingDistance1 = 27,
    RingDistance2 = 28,
    LineDistance1 = 29,
    LineDistance2 = 30,
    FloatNum = 31,
    SaveType = 32,
    PrefixData = 33,
    QuickSave = 34,
    PhotoFormat = 35,
    Language = 36,
    SnapOpenImage = 37,
    SaveGraphics = 38,
};
constexpr int kDrawPropertyCount = 39;

// What the mouse wheel does over the live view.
enum class KeyFunction : int { ZoomVideoWindow = 0, Focus = 1, Zoom = 2 };
enum class MyLanguage : int { English = 0, Chinese = 1 };
enum class ImgFormat : int { Jpg = 0, Bmp = 1, Tiff = 2 };

// The choices the panels offer for settings picked from a fixed list. The
// panels build their lists from these, and the store takes a stored value
// outside them for damage like any other value out of range: it reads as
// absent, so the default applies, and ignoredSettings names it.
struct OfferedRange
{
    int first;
    int last;
    constexpr int count() const { return last - first + 1; }
    constexpr bool contains(int value) const { return value >= first && value <= last; }
};
// The pen widths of the width lists (measurements, crosshair, grid lines,
// marks, the pointer lines of text labels).
constexpr OfferedRange kOfferedPenWidths{1, 9};
// The label font pixel sizes of the size lists (measurements, text labels).
constexpr OfferedRange kOfferedFontSizes{13, 32};
// The pen styles of the style pickers: solid, dash and dot.
constexpr OfferedRange kOfferedPenStyles{Qt::SolidLine, Qt::DotLine};
// Grid lines each way.
constexpr OfferedRange kOfferedGridLines{1, 10};
// Decimal places of measurement values.
constexpr OfferedRange kOfferedDecimals{0, 4};
// The measuring panel's length units; "Unit" of "calibration.ini" is the
// chosen one's place. The same in every language.
constexpr const char *kLengthUnits[] = {"pix", "um", "mm", "mil"};
constexpr OfferedRange kOfferedUnits{0, int(sizeof kLengthUnits / sizeof *kLengthUnits) - 1};
// The title bar menu's languages and mouse-wheel functions.
constexpr OfferedRange kOfferedLanguages{int(MyLanguage::English), int(MyLanguage::Chinese)};
constexpr OfferedRange kOfferedWheelFunctions{int(KeyFunction::ZoomVideoWindow), int(KeyFunction::Zoom)};
// What the entry fields take is what the store takes from a file: the
// fields are bounded by these, and a stored value outside them is damage.
// Pictures in a time-lapse series and seconds between them ("burst_mode"),
// nine digits; 0, an empty field, is kept and a series refuses to start on it.
constexpr OfferedRange kBurstModeValues{0, 214748364};
// The photo settings' picture-name prefix ("PrefixData"), in characters.
constexpr int kLongestPhotoPrefix = 255;
// ".jpg", ".bmp" or ".tiff"; ".jpg" for anything else.
QString imgFormatExtension(ImgFormat format);

// One saved calibration.
struct CalibrationRecord {
    QString name;
    double length = 0.0;  // the real length the user entered
    QString unit;         // "um", "mm" or "mil"
    double real = 0.0;    // micrometres per pixel
    // Width in pixels of the pictures the scale was measured on: it holds for
    // pictures of that width and, for other widths of the same field, in
    // proportion. 0: not known (records of older versions), the scale holds
    // for the width the picture has when the calibration is chosen.
    int width = 0;
    // Tells calibrations with the same text apart. Entries stored without
    // one (by older versions) are known by their place in the file as
    // "#<n>" until the list is next rewritten, which stores it.
    QString id;

    // "name, <length>unit" as the measuring panel lists it (length in Qt's
    // general notation with 6 significant digits).
    QString displayText() const;
    // A new identity for a calibration about to be stored.
    static QString newId();
};

// One overlay line of the live view (crosshair or grid line).
struct CrossInfo {
    int direct = 0;  // 1 vertical, 2 horizontal
    int width = 1;
    QColor color;
    QPointF pos;
    bool lock = false;
    bool visible = true;
};

Q_DECLARE_METATYPE(DrawProperty)
Q_DECLARE_METATYPE(KeyFunction)
Q_DECLARE_METATYPE(MyLanguage)
Q_DECLARE_METATYPE(ImgFormat)

// A settings file the store does not use: it reads as empty and is never
// written, so what it holds stays as it is.
struct SettingsFileProblem {
    QString path;
    QString reason;  // for the user
};

// A setting that did not reach its file.
struct SettingsWriteFailure {
    QString path;
    QString cause;  // for the user, as the system puts it ("No space left on device")
    // The other files whose settings are not all stored at this moment,
    // by path, with the cause told for each.
    QMap<QString, QString> othersNotStored;
};

// Keys of a settings file whose values are out of range (a negative width,
// a number that is none, a text far longer than any such setting): they read
// as absent, so the defaults apply, and the file keeps them as they are.
// Calibrations whose length, scale or width is none are left out of the
// list the same way; they are named by name and place ("ruler (entry 2)").
struct IgnoredSettings {
    QString path;
    QStringList keys;
    QStringList calibrations;
};

class SettingsStore
{
public:
    static SettingsStore &instance();

    QMap<int, QVariant> loadDraw() const;
    bool drawValue(int id, QVariant &out) const;
    void setDrawValue(int id, const QVariant &value) const;

    bool baseValue(int id, QVariant &out) const;
    void setBaseValue(int id, const QVariant &value) const;
    QString openedImagePath() const;
    void setOpenedImagePath(const QString &path) const;

    bool keyBindValue(int id, QVariant &out) const;
    void setKeyBindValue(int id, const QVariant &value) const;

    QMap<int, QVariant> loadBurstMode() const;
    void setBurstModeValue(int id, const QVariant &value) const;

    // Mode, Index and Unit; an Index that names no stored entry is left out.
    QMap<int, QVariant> loadCalibrationSettings() const;
    void setCalibrationSetting(int id, const QVariant &value) const;

    QVariantMap loadCommonTools() const;
    void saveCommonTools(const QVariantMap &tools) const;

    // Appends the record (given a new id when it has none). False when the
    // file could not be written, or could not be read and would have lost
    // the calibrations already in it; `cause` then says why, for the user.
    // One the file could not take is kept like any setting (see below).
    bool addCalibration(const CalibrationRecord &record, QString *cause = nullptr) const;
    // Every usable stored calibration in stored order, each with its id. An
    // entry whose length or scale is not a positive number, or whose width
    // is none, is damage: it is left out (ignoredSettings names it).
    QList<CalibrationRecord> calibrations() const;
    // The id of every stored entry in stored order, damaged ones included:
    // "Index" of group "settings" counts these places, so that it names the
    // same entry to every version, whichever entries it can use.
    QStringList calibrationIds() const;
    // Removes the one calibration with this id; the others, damaged ones
    // included, keep their order and every key they had. False when none has
    // it (`cause` is then empty), or when the file can't be used or written
    // (`cause` says why, for the user; a removal the file could not take is
    // kept like any setting).
    bool removeCalibration(const QString &id, QString *cause = nullptr) const;

    void saveCrossLines(const QList<CrossInfo> &lines) const;
    // At exit: writes what is still kept and logs by file what still can't
    // be stored ("Settings lost: ..."). Nothing is kept after it.
    void storeKeptAtExit() const;

    // The three files that are there but can't be used (not a settings file,
    // larger than any settings file, unreadable), with the reason.
    QList<SettingsFileProblem> unusableFiles() const;
    // The files in use that hold values out of range, with those keys and
    // the damaged calibrations.
    QList<IgnoredSettings> ignoredSettings() const;

    // A write that did not reach its file (a full disk, a read-only file) is
    // kept: reads give the value written, every later write of the file
    // writes it too, and it is tried again by itself on the application's
    // thread 1 s after the last failure, then at twice the interval before,
    // up to 4 s, until the file takes it. Files that are not used are never
    // written (unusableFiles), and nothing is kept for them.
    //
    // Who hears of settings that could not be written, on the thread that
    // wrote them: once for each file and cause until a write of that file
    // goes through, with every other file not stored at that moment. A
    // failed addCalibration or removeCalibration counts but is not handed
    // on: its caller tells the user itself.
    using WriteFailureHandler = std::function<void(const SettingsWriteFailure &)>;
    void setWriteFailureHandler(WriteFailureHandler handler);
    // A write of another file the program keeps (the camera database) that
    // went through (cause empty) or did not (cause for the user), told to
    // the same handler by the same rule.
    void noteWriteOf(const QString &path, const QString &cause);

    QString configPath() const { return configPath_; }
    QString calibrationPath() const { return calibrationPath_; }
    QString crossPath() const { return crossPath_; }

    // Pictures folder + "/" + the application's display name.
    static QString defaultPicturePath();
    // The INI key of a draw id, or an empty text for ids outside 0..38.
    static QString drawKey(int id);

    // Points the store at another folder. Only tests use this.
    void setBaseFolderForTesting(const QString &folder);

private:
    SettingsStore();
    SettingsStore(const SettingsStore &) = delete;
    SettingsStore &operator=(const SettingsStore &) = delete;

    QString configPath_;
    QString calibrationPath_;
    QString crossPath_;
    QMap<int, QString> baseKeys_;
    QMap<int, QString> drawKeys_;
    QMap<int, QString> settingsKeys_;
    QMap<int, QString> burstModeKeys_;
    QMap<int, QString> keyBindKeys_;
};

// Registers DrawProperty, KeyFunction, MyLanguage and ImgFormat with Qt's meta-type system
// under their own names.
void registerSettingsMetaTypes();
