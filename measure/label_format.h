// Units and label text: how a measured value in pixels, square pixels or
// degrees becomes the text a user reads, in the chosen unit, with the chosen
// number of decimals, numbered and with its words translated.
#pragma once

#include <QList>
#include <QString>

// Unit codes kept by the scene and by every label. A calibration is
// micrometres per pixel; 1 mm = 1000 um, 1 mil = 25.4 um.
enum UnitCode : int {
    UnitNone = 0,         // free text (text labels); formats to nothing
    UnitPixels = 1,       // "pix", the scene's default
    UnitDegrees = 2,      // "°", angle shapes whatever the scene's unit
    UnitMillimetres = 3,  // "mm"
    UnitMicrometres = 4,  // "um"
    UnitMils = 5,         // "mil"
};

// One label line before formatting. The format holds "%1" for the number and
// "%2" for the unit text, for example "R = %1%2\n".
struct LabelEntry {
    QString format;
    double value = 0.0;   // pixels, square pixels or degrees
    bool area = false;    // the value is an area (square pixels)
    bool radian = false;  // show the value, given in degrees, in radians
    // The format is a complete remark (e.g. that three points make no
    // circle): shown translated, without number or unit.
    bool note = false;

    bool operator==(const LabelEntry &other) const
    {
        return format == other.format && value == other.value && area == other.area && radian == other.radian
            && note == other.note;
    }
};

// The remark a circle-based shape shows when its three points are collinear.
extern const char *const kCollinearNote;

// Label state that formatting reads and updates.
struct LabelFormatState {
    int unit = UnitPixels;
    double calibration = 1.0;  // micrometres per pixel
    double scale = 1.0;        // picture pixels per scene unit
    int number = 0;            // 0 = unnumbered
    double storedWidth = 0.0;  // last width (or radius) as displayed
    double storedHeight = 0.0;
    int areaMode = 0;  // 0 none, 1 rectangle, 2 circle; never left once entered
};

// Largest number of decimals a label shows; the setting is clamped to 0..this.
constexpr int kMaxDecimalPlaces = 10;

// One formatted line, with the given number of decimals. Updates the area
// bookkeeping in `state`. Never yields "inf" or "nan": a value that is not a
// finite number is shown as "-".
QString formatLabelLine(const LabelEntry &entry, LabelFormatState &state, int decimals);

// The label words ("CLen", "Len", "Wid", "Hei", "Dis", "Area", "Radian", "R",
// "Angle") replaced by their translations, in that order.
QString translateLabelWords(const QString &text);

// The unit text of a length unit: "pix", "um", "mm", "mil"; empty otherwise.
QString unitText(int unit);

// A length given in `unit` converted to pixels with the calibration and
// scale: 0 for pixels, degrees and none, and 0 when calibration or scale is
// not a positive finite number.
double lengthToPixels(double length, int unit, double calibration, double scale);

// While one exists, label lines read the number of decimals and the
// translated label words once rather than for every line, so a unit or
// calibration change reformats all labels of a scene in one go. Neither can
// change in the middle of such a synchronous run. Nestable; GUI thread only.
class LabelFormatBatch
{
public:
    LabelFormatBatch();
    ~LabelFormatBatch();
    LabelFormatBatch(const LabelFormatBatch &) = delete;
    LabelFormatBatch &operator=(const LabelFormatBatch &) = delete;
};

// The process-wide number of decimals, read from the "FloatNum" draw setting.
// The settings file is read again only when it has changed on disk (its
// identity, size or modification time differs) or after `invalidate`, so a
// label line does not cost a file read, while a value written by anyone is
// seen at the next formatting. A missing or unreadable key keeps the last
// value; it is 0 at start. GUI thread only.
namespace DecimalPlaces {
int current();
// Forget the cached file identity: the next `current` reads the file.
void invalidate();
}  // namespace DecimalPlaces
