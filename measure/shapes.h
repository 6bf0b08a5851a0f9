// The shape model: a measurement or mark the user draws (Base and its twenty
// subclasses, one per DrawType). A shape is no graphics item itself; it owns
// its point handles, its label and its outline item, and keeps the drawing
// properties that style them. GUI thread only.
#pragma once

#include "draw_type.h"

#include <QFont>
#include <QList>
#include <QPointF>
#include <QString>
#include <QVariant>
#include <QVector>

class GraphicsConnect;
class GraphicsPoint;
class GraphicsText;
class MainScene;

class Base
{
public:
    // Property slots (the DrawProperty values that style the shape).
    enum Slot {
        SlotPointWidth = 0,
        SlotPointColor = 1,
        SlotLineStyle = 2,
        SlotLineColor = 3,
        SlotTextSize = 4,
        SlotTextColor = 5,
        SlotTextFont = 6,
        SlotLineWidth = 7,
        SlotLTextSize = 8,
        SlotLTextFont = 9,
        SlotLTextColor = 10,
        SlotLLineWidth = 11,
        SlotLLineStyle = 12,
        SlotLLineColor = 13,
        SlotCount = 14,
    };

    Base(MainScene *scene, int drawType, int unit, int orientation);
    virtual ~Base();
    Base(const Base &) = delete;
    Base &operator=(const Base &) = delete;

    virtual bool isMark() const;
    // Complete, and the last point differs from every earlier point.
    virtual bool canFinish() const;
    virtual void moveLastPoint(const QPointF &pos);
    // Angle (2) and text (0) shapes keep their unit.
    virtual void setUnit(int unit);
    virtual void removeLastPoint();
    virtual QString name() const = 0;
    virtual bool isComplete() const;
    virtual bool isType(int drawType) const { return drawType == type(); }
    virtual void addPoint(const QPointF &pos, double calibration);
    // The same as `addPoint` for each position in turn, but measured once at
    // the end: a long freehand line read from a file costs linear time.
    void addPoints(const QVector<QPointF> &positions, double calibration);
    virtual int type() const { return drawType_; }

    int pointCount() const { return points_.size(); }
    QList<GraphicsPoint *> points() const { return points_; }
    QVector<QPointF> pointPositions() const;
    QPointF lastPointPos() const;
    // Moves handle `index` (ignored outside 0..pointCount-1).
    void setPointPos(const QPointF &pos, int index);
    QString labelText() const;
    void setText(const QString &text);
    void setNumber(int number);
    int number() const;
    // Picture pixels per scene unit. Drawing sizes (line widths, text sizes)
    // count in picture pixels, so the items are restyled when it changes.
    void setScale(double scale);
    void setCalibration(double umPerPixel);
    bool isSelected() const;
    bool isItemAndLabelSelected() const;
    void storeLabelRest(bool follow);
    void setHighlighted(bool on);

    void setPointWidth(const QVariant &value);
    void setPointColor(const QVariant &value);
    // The outline's drawing size, as chosen (not its width in scene units).
    int lineSize() const;
    void setLineWidth(const QVariant &value);
    void setLineStyle(const QVariant &value);
    void setLineColor(const QVariant &value);
    void setTextSize(const QVariant &value);
    void setTextFont(const QVariant &value);
    void setTextColor(const QVariant &value);
    void setLTextSize(const QVariant &value);
    void setLTextFont(const QVariant &value);
    void setLTextColor(const QVariant &value);
    void setLLineWidth(const QVariant &value);
    void setLLineStyle(const QVariant &value);
    void setLLineColor(const QVariant &value);
    void setLineDistance1(const QVariant &value);
    void setLineDistance2(const QVariant &value);
    void setRingDistance1(const QVariant &value);
    void setRingDistance2(const QVariant &value);

    // Hides the handles, gives the first two the round outline and marks the
    // shape finished (the scene numbers it).
    void finish();
    bool isFinished() const { return finished_; }
    // Pixel length of a calibration line; 0 for other shapes.
    double itemLength() const;
    // Diameter of a calibration circle; 0 when there is no circle.
    double circleDiameter() const;

    GraphicsConnect *item() const { return item_; }
    GraphicsText *label() const { return label_; }
    MainScene *scene() const { return scene_; }
    int unit() const { return unit_; }
    int orientation() const { return orientation_; }
    QVariant property(int slot) const;
    QFont labelFont() const { return labelFont_; }

    // Points a shape of `drawType` needs to be complete; 0 for none (AnyLine).
    static int completionCount(int drawType);
    // The class name of the shape for `drawType`; empty when it builds none.
    static QString nameFor(int drawType);

protected:
    GraphicsConnect *createItem();

private:
    GraphicsPoint *createHandle(const QPointF &pos);
    void applyStyle();
    void applySizes();
    void applyHandlePen();
    // The drawing size in `slot` in scene units at the current scale, then
    // limited as a pen width or a font's pixel size.
    int sceneSize(int slot) const;
    int scenePenWidth(int slot) const;
    int scenePixelSize(int slot) const;
    bool isPlainLine() const;

    bool finished_ = false;
    MainScene *scene_;
    QList<GraphicsPoint *> points_;
    GraphicsText *label_ = nullptr;
    GraphicsConnect *item_ = nullptr;
    int unit_;
    int orientation_;
    double scale_ = 1.0;  // picture pixels per scene unit, handed to the label
    QVariant properties_[SlotCount];
    QFont labelFont_;
    int drawType_;
};

// The twenty shape classes. Each is a Base of its own DrawType.
namespace shape {
#define VORENTA_DECLARE_SHAPE(Class)                                                                    \
    class Class : public Base                                                                          \
    {                                                                                                  \
    public:                                                                                            \
        Class(MainScene *scene, int unit, int orientation) : Base(scene, DrawType::Class, unit, orientation) {} \
        QString name() const override { return QStringLiteral(#Class); }                               \
    };
VORENTA_DECLARE_SHAPE(Line)
VORENTA_DECLARE_SHAPE(HLine)
VORENTA_DECLARE_SHAPE(VLine)
VORENTA_DECLARE_SHAPE(AnyLine)
VORENTA_DECLARE_SHAPE(Par)
VORENTA_DECLARE_SHAPE(Ver)
VORENTA_DECLARE_SHAPE(Ang)
VORENTA_DECLARE_SHAPE(ThreeAng)
VORENTA_DECLARE_SHAPE(Rect)
VORENTA_DECLARE_SHAPE(Arc)
VORENTA_DECLARE_SHAPE(Cir)
VORENTA_DECLARE_SHAPE(Ring)
VORENTA_DECLARE_SHAPE(Poly)
VORENTA_DECLARE_SHAPE(LCir)
VORENTA_DECLARE_SHAPE(TCir)
VORENTA_DECLARE_SHAPE(LText)
VORENTA_DECLARE_SHAPE(LCali)
VORENTA_DECLARE_SHAPE(CCali)
VORENTA_DECLARE_SHAPE(MarkRect)
VORENTA_DECLARE_SHAPE(MarkCir)
#undef VORENTA_DECLARE_SHAPE
}  // namespace shape
