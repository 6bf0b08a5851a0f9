// CSV export and the table text of a shape.
#include "measure_export.h"
#include "test_support.h"

#include <QFile>
#include <QMap>
#include <gtest/gtest.h>

namespace {

QByteArray golden(const char *name)
{
    QFile file(QStringLiteral(VIDEO_VIEW_DATA "/") + name);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll();
}

QMap<QString, int> englishColumns()
{
    QMap<QString, int> columns;
    const QStringList keys = measureColumnKeys();
    for (int i = 0; i < keys.size(); ++i)
        columns.insert(keys[i], kFirstValueColumn + i);
    return columns;
}

}  // namespace

TEST(MeasureCsv, MatchesGoldenFile)
{
    const QList<MeasurementRecord> records = {
        {1, "Line", "[1] Len = 120.50um"},
        {2, "Rect", "[2] Wid = 10.00pix\n[2] Hei = 5.00pix\n[2] CLen = 30.00pix\n[2] Area = 50.00pix²"},
        {4, "LText", "say \"hello\""},
        {5, "LText", "=HYPERLINK(\"http://example.invalid\")"},
        {6, "LText", "+1"},
        {7, "LText", "-2 mm"},
        {8, "LText", "@SUM(A1)"},
        {9, "LText", "测量 – 中文"},
        {0, "Cir", "R = 3.00pix"},
    };
    EXPECT_EQ(measurementCsv(records), golden("measurements.csv"));
}

TEST(MeasureCsv, EmptyListIsJustTheByteOrderMark)
{
    EXPECT_EQ(measurementCsv({}), QByteArray("\xEF\xBB\xBF"));
}

TEST(MeasureCsv, FieldRules)
{
    EXPECT_EQ(csvField("a\"b"), QByteArray("\"a\"\"b\""));
    EXPECT_EQ(csvField("=1+1"), QByteArray("\"'=1+1\""));
    EXPECT_EQ(csvField("\t=1"), QByteArray("\"'\t=1\""));
    EXPECT_EQ(csvField("1-2"), QByteArray("\"1-2\""));
    EXPECT_EQ(csvField("a\nb"), QByteArray("\"a\r\nb\""));
    EXPECT_EQ(csvField(""), QByteArray("\"\""));
}

TEST(MeasureCsv, WritesWholeFileOrReportsFailure)
{
    QString error;
    const QString path = testHomeFolder() + "/export.csv";
    ASSERT_TRUE(writeMeasurementCsv({{1, "Line", "[1] Len = 1pix"}}, path, &error));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().startsWith("\xEF\xBB\xBF" "1,\"Line\""));
    EXPECT_FALSE(writeMeasurementCsv({}, testHomeFolder() + "/no/such/folder/x.csv", &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(MeasureTableText, ValuesSpreadOverColumnsByKey)
{
    const MeasurementRow row =
        measurementRow("Rect\n[2] Wid = 10pix\n[2] Hei = 5pix\n[2] CLen = 30pix\n[2] Area = 50pix²", englishColumns());
    EXPECT_EQ(row.name, "Rect");
    EXPECT_EQ(row.values[8], "10pix");
    EXPECT_EQ(row.values[9], "5pix");
    EXPECT_EQ(row.values[4], "30pix");
    EXPECT_EQ(row.values[5], "50pix²");
    for (int column : {2, 3, 6, 7, 10})
        EXPECT_FALSE(row.hasValue[column]) << column;
}

TEST(MeasureTableText, LinesWithoutValueFillNothingAndExtraEqualsStops)
{
    const MeasurementRow row = measurementRow("Cir\nthree points make no circle\nR = 2 = 3\n\n", englishColumns());
    EXPECT_EQ(row.values[10], "2");
    int filled = 0;
    for (bool has : row.hasValue)
        filled += has;
    EXPECT_EQ(filled, 1);
}

TEST(MeasureTableText, ShapeNamesWithoutTranslationStay)
{
    EXPECT_EQ(translateShapeNames("HLine\nAngle = 3"), "HLine\nAngle = 3");
}
