#include "measure_export.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QSaveFile>

QString translateShapeNames(QString text)
{
    // Order matters: "HLine" must be replaced whole before "Line" is looked for.
    static const char *const names[] = {
        QT_TRANSLATE_NOOP("QObject", "HLine"),    QT_TRANSLATE_NOOP("QObject", "VLine"),
        QT_TRANSLATE_NOOP("QObject", "AnyLine"),  QT_TRANSLATE_NOOP("QObject", "Line"),
        QT_TRANSLATE_NOOP("QObject", "Par"),      QT_TRANSLATE_NOOP("QObject", "Ver"),
        QT_TRANSLATE_NOOP("QObject", "ThreeAng"), QT_TRANSLATE_NOOP("QObject", "Ang"),
        QT_TRANSLATE_NOOP("QObject", "MarkRect"), QT_TRANSLATE_NOOP("QObject", "Rect"),
        QT_TRANSLATE_NOOP("QObject", "Arc"),      QT_TRANSLATE_NOOP("QObject", "LCir"),
        QT_TRANSLATE_NOOP("QObject", "TCir"),     QT_TRANSLATE_NOOP("QObject", "MarkCir"),
        QT_TRANSLATE_NOOP("QObject", "Cir"),      QT_TRANSLATE_NOOP("QObject", "Ring"),
        QT_TRANSLATE_NOOP("QObject", "Poly"),     QT_TRANSLATE_NOOP("QObject", "LText"),
        QT_TRANSLATE_NOOP("QObject", "LCali"),    QT_TRANSLATE_NOOP("QObject", "CCali"),
    };
    for (const char *name : names) {
        const QString translated = QCoreApplication::translate("QObject", name);
        if (translated == QLatin1String(name))
            continue;
        // Whole names only: "Ang" must not eat the start of the label word
        // "Angle", nor "Cir" the start of "Circle".
        const QRegularExpression whole(QStringLiteral("(?<![A-Za-z])%1(?![a-z])").arg(QLatin1String(name)));
        text.replace(whole, translated);
    }
    return text;
}

QByteArray csvField(const QString &text)
{
    QString field = text;
    if (!field.isEmpty()) {
        const QChar first = field.at(0);
        if (first == QLatin1Char('=') || first == QLatin1Char('+') || first == QLatin1Char('-')
            || first == QLatin1Char('@') || first == QLatin1Char('\t') || first == QLatin1Char('\r'))
            field.prepend(QLatin1Char('\''));
    }
    field.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    field.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    field.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return '"' + field.toUtf8() + '"';
}

QByteArray measurementCsv(const QList<MeasurementRecord> &records)
{
    QByteArray csv("\xEF\xBB\xBF");
    for (const MeasurementRecord &record : records) {
        if (record.number > 0)  // shapes rebuilt from a picture carry no number
            csv += QByteArray::number(record.number);
        csv += ',';
        csv += csvField(translateShapeNames(record.name));
        csv += ',';
        csv += csvField(translateShapeNames(record.label));
        csv += "\r\n";
    }
    return csv;
}

bool writeMeasurementCsv(const QList<MeasurementRecord> &records, const QString &path, QString *error)
{
    QSaveFile file(path);
    const QByteArray csv = measurementCsv(records);
    if (!file.open(QIODevice::WriteOnly) || file.write(csv) != csv.size() || !file.commit()) {
        if (error)
            *error = QCoreApplication::translate("VideoWidget", "Cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

QStringList measureColumnKeys()
{
    return {QStringLiteral("Len"), QStringLiteral("Dis"), QStringLiteral("CLen"), QStringLiteral("Area"),
            QStringLiteral("Angle"), QStringLiteral("Radian"), QStringLiteral("Wid"), QStringLiteral("Hei"),
            QStringLiteral("R")};
}
