// Measurement export: the table text of a shape and the CSV file of the live
// view's measurements. Pure functions over plain records, so the view, the
// export and the tests share one definition.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// One measuring shape as exported: its own number (as drawn on the picture;
// 0 for shapes without one), its name and its label text.
struct MeasurementRecord
{
    int number = 0;
    QString name;
    QString label;
};

// Every English shape name in `text` replaced by its translation (context
// "QObject"), longer names before the shorter names they contain. Only whole
// names are replaced (not followed by a lower-case letter, not preceded by a
// letter), so label words such as "Angle" stay intact.
QString translateShapeNames(QString text);

// One CSV field: quoted, quotes doubled, and a leading "=", "+", "-", "@",
// tab or carriage return defused with an apostrophe, so that a spreadsheet
// shows the text instead of running it as a formula.
QByteArray csvField(const QString &text);

// The CSV file: UTF-8 with a byte-order mark (spreadsheet programs need it to
// read the Chinese names), no header, one record per measurement: number,
// name, label text; records end with CR LF (RFC 4180), and line breaks inside
// a label are written as CR LF as well.
QByteArray measurementCsv(const QList<MeasurementRecord> &records);

// Writes the CSV file whole or not at all.
bool writeMeasurementCsv(const QList<MeasurementRecord> &records, const QString &path, QString *error);

// Table row of a shape: the name line and the " = " value lines of its label,
// spread over the value columns by key.
constexpr int kMeasureColumnCount = 11;
constexpr int kFirstValueColumn = 2;
// Label keys of columns 2 to 10, in column order.
QStringList measureColumnKeys();
struct MeasurementRow
{
    QString name;
    QString values[kMeasureColumnCount];  // columns 0 and 1 unused here
    bool hasValue[kMeasureColumnCount] = {};
};
// `columnOfKey` maps key texts (and their translations) to columns. A value
// line's key is the last word before the first " = "; its value runs up to a
// further " = ", if any. Lines without " = " fill nothing.
template <typename Map>
MeasurementRow measurementRow(const QString &nameAndLabel, const Map &columnOfKey)
{
    MeasurementRow row;
    const QStringList lines = nameAndLabel.split(QLatin1Char('\n'));
    row.name = lines.value(0);
    for (int i = 1; i < lines.size(); ++i) {
        const QStringList parts = lines[i].split(QStringLiteral(" = "));
        if (parts.size() < 2)
            continue;
        const QString key = parts[0].split(QLatin1Char(' ')).last();
        for (auto it = columnOfKey.begin(); it != columnOfKey.end(); ++it) {
            if (it.key() == key && it.value() >= kFirstValueColumn && it.value() < kMeasureColumnCount) {
                row.values[it.value()] = parts[1];
                row.hasValue[it.value()] = true;
            }
        }
    }
    return row;
}
