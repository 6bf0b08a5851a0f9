#include "measure_test_support.h"

#include <QFontMetricsF>
#include <QGraphicsScene>
#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

#include <cmath>

namespace {

QString line(const char *format, double value, int unit, int decimals, double calibration = 1.0, bool area = false)
{
    LabelEntry entry;
    entry.format = QString::fromUtf8(format);
    entry.value = value;
    entry.area = area;
    LabelFormatState state;
    state.unit = unit;
    state.calibration = calibration;
    return formatLabelLine(entry, state, decimals);
}

}  // namespace

TEST(LabelFormat, DecimalsFollowTheSetting)
{
    EXPECT_EQ(line("Len = %1%2", 12.6, UnitPixels, 0), "Len = 13pix");
    EXPECT_EQ(line("Len = %1%2", 12.6, UnitPixels, 3), "Len = 12.600pix");
}

TEST(LabelFormat, LengthUnitsUseCalibrationAndScale)
{
    EXPECT_EQ(line("Len = %1%2", 100, UnitMicrometres, 0, 2.5), "Len = 250um");
    EXPECT_EQ(line("Len = %1%2", 100, UnitMillimetres, 2, 2.5), "Len = 0.25mm");
    EXPECT_EQ(line("Len = %1%2", 100, UnitMils, 2, 2.5), "Len = 9.84mil");
    EXPECT_EQ(line("Area = %1%2", 100, UnitMicrometres, 0, 2.5, true), "Area = 625um²");
    EXPECT_EQ(line("Area = %1%2", 100, UnitMillimetres, 6, 2.5, true), "Area = 0.000625mm²");
    EXPECT_EQ(line("Area = %1%2", 100, UnitMils, 2, 2.5, true), "Area = 0.97mil²");

    LabelEntry entry{QStringLiteral("Len = %1%2"), 10.0};
    LabelFormatState state;
    state.unit = UnitPixels;
    state.scale = 2.0;
    EXPECT_EQ(formatLabelLine(entry, state, 1), "Len = 20.0pix");
}

TEST(LabelFormat, AnglesAndRadians)
{
    EXPECT_EQ(line("Angle = %1%2", 90, UnitDegrees, 2), "Angle = 90.00°");
    LabelEntry radian{QStringLiteral("Radian = %1%2\n"), 90.0, false, true};
    LabelFormatState state;
    EXPECT_EQ(formatLabelLine(radian, state, 0), "Radian = 1.57 rad\n");
    EXPECT_EQ(formatLabelLine(radian, state, 5), "Radian = 1.57 rad\n");
}

TEST(LabelFormat, NumberPrefixesEveryLineAndUnitNoneIsEmpty)
{
    LabelFormatState state;
    state.number = 3;
    EXPECT_EQ(formatLabelLine({QStringLiteral("Len = %1%2\n"), 5}, state, 0), "[3] Len = 5pix\n");
    EXPECT_EQ(formatLabelLine({QStringLiteral("Dis = %1%2"), 7}, state, 0), "[3] Dis = 7pix");
    state.unit = UnitNone;
    EXPECT_EQ(formatLabelLine({QStringLiteral("Len = %1%2"), 5}, state, 2), QString());
}

TEST(LabelFormat, AreaUsesSizesAsDisplayed)
{
    LabelFormatState state;
    state.unit = UnitPixels;
    QString text;
    for (const LabelEntry &e : QList<LabelEntry>{{"GraphicsRect\n", 0}, {"Wid = %1%2\n", 2.346}, {"Hei = %1%2\n", 1.116},
                                                  {"CLen = %1%2\n", 6.924}, {"Area = %1%2", 2.346 * 1.116, true}})
        text += formatLabelLine(e, state, 2);
    EXPECT_EQ(text, "Wid = 2.35pix\nHei = 1.12pix\nCLen = 6.92pix\nArea = 2.63pix²");

    LabelFormatState circle;
    QString circleText;
    for (const LabelEntry &e : QList<LabelEntry>{{"GraphicsCir\n", 0}, {"R = %1%2\n", 1.004}, {"Area = %1%2", 3.2, true}})
        circleText += formatLabelLine(e, circle, 1);
    EXPECT_EQ(circleText, QStringLiteral("R = 1.0pix\nArea = %1pix²").arg(M_PI, 0, 'f', 1));
}

TEST(LabelFormat, NeverShowsInfinityOrNan)
{
    EXPECT_EQ(line("Len = %1%2", std::nan(""), UnitPixels, 2), "Len = -pix");
    EXPECT_EQ(line("Len = %1%2", HUGE_VAL, UnitMicrometres, 2, 2.0), "Len = -um");
}

TEST(LabelFormat, ToPixelsByUnit)
{
    EXPECT_DOUBLE_EQ(lengthToPixels(1.0, UnitMillimetres, 2.5, 1.0), 400.0);
    EXPECT_DOUBLE_EQ(lengthToPixels(10.0, UnitMicrometres, 2.5, 2.0), 2.0);
    EXPECT_DOUBLE_EQ(lengthToPixels(1.0, UnitMils, 25.4, 1.0), 1.0);
    EXPECT_EQ(lengthToPixels(5.0, UnitPixels, 2.5, 1.0), 0.0);
    EXPECT_EQ(lengthToPixels(5.0, UnitDegrees, 2.5, 1.0), 0.0);
    // A calibration or scale of 0 gives no distance rather than infinity.
    EXPECT_EQ(lengthToPixels(5.0, UnitMillimetres, 0.0, 1.0), 0.0);
    EXPECT_EQ(lengthToPixels(5.0, UnitMillimetres, 1.0, 0.0), 0.0);
}

TEST(LabelText, SettingTheSameEntriesTwiceReportsOneChange)
{
    setDecimals(2);
    GraphicsText label(1.0, UnitPixels);
    const QList<LabelEntry> entries{{"Len = %1%2", 10.0}};
    EXPECT_TRUE(label.setEntries(entries));
    EXPECT_FALSE(label.setEntries(entries));
    EXPECT_EQ(label.text(), "Len = 10.00pix");
}

TEST(LabelText, KeepsTheCurrentValueEvenWhenTheShownTextIsUnchanged)
{
    setDecimals(0);
    GraphicsText label(1.0, UnitMicrometres);
    label.setEntry({"Len = %1%2", 10.2});
    EXPECT_FALSE(label.setEntry({"Len = %1%2", 10.4}));  // still shows 10um
    setDecimals(1);
    label.setCalibration(1.0);
    EXPECT_EQ(label.text(), "Len = 10.4um");
}

TEST(LabelText, DecimalsWrittenByAnotherCallerAreSeenAtTheNextChange)
{
    setDecimals(1);
    GraphicsText label(1.0, UnitPixels);
    label.setEntry({"Len = %1%2", 3.14159});
    EXPECT_EQ(label.text(), "Len = 3.1pix");
    // Written straight to the store, as the settings panel does, without
    // telling the measurement code.
    SettingsStore::instance().setDrawValue(FloatNum, 3);
    label.setEntry({"Len = %1%2", 3.14159});
    EXPECT_EQ(label.text(), "Len = 3.142pix");
}

TEST(LabelText, AbsentOrInvalidDecimalsKeepTheLastValue)
{
    setDecimals(2);
    EXPECT_EQ(DecimalPlaces::current(), 2);
    SettingsStore::instance().setDrawValue(FloatNum, QStringLiteral("many"));
    DecimalPlaces::invalidate();
    EXPECT_EQ(DecimalPlaces::current(), 2);
    // More places than the measuring panel offers, or fewer than none.
    for (int decimals : {kOfferedDecimals.last + 1, -3}) {
        setDecimals(decimals);
        EXPECT_EQ(DecimalPlaces::current(), 2) << decimals;
    }
}

TEST(LabelText, TextLabelsKeepTheirWords)
{
    GraphicsText label(1.0, UnitNone);
    EXPECT_EQ(label.text(), "...");
    label.setPlainText("note");
    EXPECT_FALSE(label.setCalibration(3.0));
    EXPECT_EQ(label.text(), "note");
}

TEST(LabelText, RefusesCalibrationsThatAreNotPositiveNumbers)
{
    GraphicsText label(0.0, UnitMicrometres);  // refused at construction too
    EXPECT_EQ(label.calibration(), 1.0);
    label.setCalibration(std::nan(""));
    label.setCalibration(-2.0);
    label.setCalibration(0.0);
    EXPECT_EQ(label.calibration(), 1.0);
    EXPECT_EQ(label.toPixels(1.0), 1.0);
}

TEST(LabelText, MeasurementLabelsPaintTheirOwnLines)
{
    setDecimals(0);
    QGraphicsScene scene;
    auto *label = new GraphicsText(1.0, UnitPixels);
    scene.addItem(label);
    QFont font;
    font.setPixelSize(20);
    label->setFont(font);
    label->setDefaultTextColor(Qt::white);
    label->setEntries({{"Len = %1%2\n", 10.0}, {"R = %1%2", 5.0}});
    EXPECT_EQ(label->text(), "Len = 10pix\nR = 5pix");
    const QRectF twoLines = label->boundingRect();
    EXPECT_GT(twoLines.width(), QFontMetricsF(font).horizontalAdvance("Len = 10pix"));
    EXPECT_GE(twoLines.height(), 2 * QFontMetricsF(font).height());
    EXPECT_TRUE(label->contains(twoLines.center()));
    EXPECT_FALSE(label->contains(twoLines.bottomRight() + QPointF(5, 5)));

    // A larger font grows the label at once.
    font.setPixelSize(40);
    label->setFont(font);
    EXPECT_GT(label->boundingRect().height(), twoLines.height() * 1.5);

    // The lines are painted in the label's colour.
    QImage image(label->boundingRect().size().toSize(), QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    scene.render(&painter, QRectF(QPointF(), image.size()), label->sceneBoundingRect());
    painter.end();
    int lit = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            lit += qGray(image.pixel(x, y)) > 128 ? 1 : 0;
    EXPECT_GT(lit, 100);
}

TEST(LabelText, ABatchReadsTheDecimalsOnce)
{
    setDecimals(1);
    GraphicsText label(1.0, UnitPixels);
    {
        const LabelFormatBatch batch;
        label.setEntry({"Len = %1%2", 3.14159});
        EXPECT_EQ(label.text(), "Len = 3.1pix");
        // Written meanwhile: not seen inside the batch ...
        SettingsStore::instance().setDrawValue(FloatNum, 3);
        label.setEntry({"Len = %1%2", 2.71828});
        EXPECT_EQ(label.text(), "Len = 2.7pix");
    }
    // ... but at the next line after it.
    label.setEntry({"Len = %1%2", 2.71828});
    EXPECT_EQ(label.text(), "Len = 2.718pix");
}
