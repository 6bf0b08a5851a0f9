// The graphics items that show the shapes on the measurement scene: one
// outline item per shape (GraphicsConnect and its subclasses), one handle per
// point (GraphicsPoint), one label (GraphicsText), the overlay lines
// (GraphicsCross) and the blinking recording dot (flashitem). Items keep
// their geometry in their own coordinates and measure through the geometry
// functions. GUI thread only.
#pragma once

#include "geometry.h"
#include "label_format.h"

#include <QFont>
#include <QGlyphRun>
#include <QGraphicsLineItem>
#include <QGraphicsPathItem>
#include <QGraphicsTextItem>
#include <QImage>
#include <QObject>
#include <QPainter>
#include <QPen>
#include <QRawFont>

class Base;
class GraphicsConnect;
class MainScene;

// The complement of a colour (255 - r, 255 - g, 255 - b), opaque.
QColor complementColor(const QColor &color);
// A copy of `pen` in the complement colour: how a highlighted shape is drawn.
QPen inversePen(const QPen &pen);
// A pen style read from a setting value, limited to NoPen..DashDotDotLine;
// anything else gives `fallback`.
Qt::PenStyle penStyleFromValue(const QVariant &value, Qt::PenStyle fallback);
// A hit-test outline of `path`: 4 units wide for pens up to 1, else pen width + 3.
QPainterPath strokeShape(const QPainterPath &path, const QPen &pen);

class GraphicsPoint : public QGraphicsPathItem
{
public:
    enum { Type = QGraphicsItem::UserType + 2 };
    enum Orientation { Free = 0, Vertical = 1, Horizontal = 2 };

    GraphicsPoint(const QPointF &pos, MainScene *scene, int orientation, QGraphicsItem *parent = nullptr);
    int type() const override { return Type; }

    int orientation() const { return orientation_; }
    void setOrientation(int orientation) { orientation_ = orientation; }
    GraphicsConnect *item() const { return item_; }
    void setItem(GraphicsConnect *item) { item_ = item; }
    // The last set position; a vertical handle keeps its x, a horizontal one its y.
    QPointF point() const { return point_; }
    void setPoint(const QPointF &point) { point_ = point; }
    // Sets the stored point, then the position.
    void moveTo(const QPointF &pos);
    // The round handle outline, or a bar (relative to the centre) while a line is drawn.
    void setCircularOutline();
    void setBarOutline(const QLineF &bar);

protected:
    QVariant itemChange(GraphicsItemChange change, const QVariant &value) override;

private:
    int orientation_;
    GraphicsConnect *item_ = nullptr;
    QPointF point_;
    MainScene *scene_;
};

// A shape's label. A measurement label paints its own lines: laying out a
// text document for every label made a unit change over many shapes take
// several frames. A text label (unit UnitNone) keeps the document, which the
// user edits.
class GraphicsText : public QGraphicsTextItem
{
    Q_OBJECT
public:
    enum { Type = QGraphicsItem::UserType + 3 };

    GraphicsText(double calibration, int unit, QGraphicsItem *parent = nullptr);
    ~GraphicsText() override;
    int type() const override { return Type; }

    // The text shown. Use this rather than toPlainText, which is empty for
    // a measurement label.
    QString text() const;
    // These hide QGraphicsTextItem's own so that a measurement label keeps
    // its lines and their size in step.
    void setPlainText(const QString &text);
    void setFont(const QFont &font);

    QRectF boundingRect() const override;
    QPainterPath shape() const override;
    bool contains(const QPointF &point) const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;

    // Formats the entries into the label. The entries are always kept, so a
    // later unit or calibration change formats the current values; the result
    // says whether the shown text changed.
    bool setEntries(const QList<LabelEntry> &entries);
    bool setEntry(const LabelEntry &entry);
    QList<LabelEntry> entries() const { return entries_; }
    // A length in the label's unit in pixels (0 for pixels, degrees and none).
    double toPixels(double length) const;
    // Ignores calibrations that are not positive finite numbers.
    bool setCalibration(double calibration);
    double calibration() const { return format_.calibration; }
    void setScale(double scale);
    double scale() const { return format_.scale; }
    void setNumber(int number) { format_.number = number; }
    int number() const { return format_.number; }
    int unit() const { return format_.unit; }
    // Takes the unit and re-formats the stored entries.
    bool setUnit(int unit);

    void setTextColor(const QColor &color);
    // Hides QGraphicsTextItem's own: the colour is kept for painting, where
    // asking the text document for it costs more than drawing the line.
    void setDefaultTextColor(const QColor &color);
    QColor textColor() const { return textPen_.color(); }
    bool isHighlighted() const { return highlighted_; }
    void setHighlighted(bool on);
    // Unless selected, moves to (x, y) plus the offset the user dragged it by.
    void placeAt(qreal x, qreal y);
    void setDragOrigin(const QPointF &origin) { dragOrigin_ = origin; }
    QPointF dragOrigin() const { return dragOrigin_; }
    QPointF labelOffset() const { return labelOffset_; }
    void scaleBy(double factor);

protected:
    QVariant itemChange(GraphicsItemChange change, const QVariant &value) override;
    void mouseDoubleClickEvent(QGraphicsSceneMouseEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    QString formatEntries(const QList<LabelEntry> &entries);
    bool paintsOwnLines() const { return format_.unit != UnitNone; }
    // Shows `text` as the label's own lines.
    void showLines(const QString &text);
    void takeLinesFont();
    // Blends the lines from linesImage_, drawn from the glyphs once the same
    // lines were painted before: the same text in the same colour at the same
    // fraction of a device pixel. False where the glyphs are to be drawn.
    bool drawLinesImage(QPainter *painter);
    // Takes `image` as linesImage_, counting the bytes all labels' images hold.
    void setLinesImage(const QImage &image);

    QString lines_;
    QFont linesFont_;
    QRawFont linesRawFont_;
    bool linesGreyGlyphs_ = false;
    qreal linesAscent_ = 0.0;
    qreal linesHeight_ = 0.0;
    // The glyphs of all lines at their places; empty: the lines are drawn as text.
    QGlyphRun linesRun_;
    QRectF linesRect_;
    // The lines as drawn at linesImageFraction_ of a device pixel, in
    // linesImageColor_, in the top left linesImageSize_ of linesImage_ (empty:
    // not drawn yet), whose corner is at linesImageCorner_ (item coordinates,
    // whole pixels).
    bool linesPainted_ = false;
    QImage linesImage_;
    QSize linesImageSize_;
    QPoint linesImageCorner_;
    QPointF linesImageFraction_;
    QRgb linesImageColor_ = 0;
    QPainter::RenderHints linesImageHints_;
    QPointF dragOrigin_;
    QPointF labelOffset_;
    LabelFormatState format_;
    QList<LabelEntry> entries_;
    bool highlighted_ = false;
    QPen textPen_;
    QColor shownColor_;
};

class GraphicsConnect : public QGraphicsItem
{
public:
    enum { Type = QGraphicsItem::UserType + 1 };

    GraphicsConnect(Base *owner, GraphicsText *label, MainScene *scene, QGraphicsItem *parent = nullptr);
    ~GraphicsConnect() override;
    int type() const override { return Type; }

    QRectF boundingRect() const override;
    QPainterPath shape() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;

    // Pulls the geometry from the handles and re-measures.
    virtual void updateGeometry() = 0;
    virtual QPainterPath outline() const = 0;
    // A bool: false with too few points, true without a label, else whether
    // the label text changed.
    virtual QVariant measure() = 0;
    // The per-class step at the end of painting.
    virtual bool refresh(QPainter *painter) = 0;
    // Where the two lines of an angle cross; (0,0) for other items.
    virtual QPointF crossingPoint() const { return QPointF(); }
    // Distance between the calibration ends of a calibration line; 0 otherwise.
    virtual double lineLength() const { return 0.0; }
    // Radius of a calibration circle; -1 when there is none.
    virtual double radius() const { return -1.0; }

    void addHandle(GraphicsPoint *handle);
    void removeLastHandle();
    QList<GraphicsPoint *> handles() const { return handles_; }
    GraphicsText *label() const { return label_; }
    Base *owner() const { return owner_; }
    MainScene *mainScene() const { return scene_; }
    bool isMark() const { return mark_; }
    void setMark(bool mark) { mark_ = mark; }

    void setLabelVisible(bool visible);
    bool isLabelVisible() const;
    void setMovable(bool movable);
    bool isMovable() const;
    QPen pen() const { return linePen_; }
    QPen pointPen() const { return pointPen_; }
    QPen textLinePen() const { return textLinePen_; }
    void setColor(const QColor &color);
    void setLineStyle(Qt::PenStyle style);
    void setPenWidth(int width);
    void setPointColor(const QColor &color);
    void setPointWidth(int width);
    void setTextLineColor(const QColor &color);
    void setTextLineStyle(Qt::PenStyle style);
    void setTextLineWidth(int width);
    void setHandlesVisible(bool visible);
    bool isHighlighted() const { return highlighted_; }
    void setHighlighted(bool on);
    void remeasure();
    void setHandleColor(GraphicsPoint *handle, const QColor &color);
    void setHandleWidth(GraphicsPoint *handle, int width);
    int handleWidth(GraphicsPoint *handle) const;

    // A handle moved by the user or the shape: follow it.
    void handleMoved(GraphicsPoint *handle);
    // Handle positions mapped into item coordinates.
    QVector<QPointF> handlePoints() const;

protected:
    QVariant itemChange(GraphicsItemChange change, const QVariant &value) override;
    int ownerType() const;
    QPen currentPen(const QPen &pen) const { return highlighted_ ? inversePen(pen) : pen; }
    // Places the label at `anchor` (item coordinates) plus its offset.
    void placeLabel(const QPointF &anchor);
    void emitItemUpdate();
    qreal margin() const;
    bool syncingHandles() const { return syncing_; }

private:
    void changePens();

    QList<GraphicsPoint *> handles_;
    GraphicsText *label_;
    MainScene *scene_;
    Base *owner_;
    QPen linePen_;
    QPen pointPen_;
    QPen textLinePen_;
    bool highlighted_ = false;
    bool mark_ = false;
    bool syncing_ = false;
    QPointF lastPos_;
};

// Line family: Line, HLine, VLine, Par, Ver, Ang, ThreeAng, LCali.
class GraphicsLine : public GraphicsConnect
{
public:
    using GraphicsConnect::GraphicsConnect;

    QRectF boundingRect() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;
    void updateGeometry() override;
    QPainterPath outline() const override;
    QVariant measure() override;
    bool refresh(QPainter *painter) override;

    QLineF mainLine() const { return main_; }
    QLineF secondLine() const { return second_; }
    QLineF thirdLine() const { return third_; }
    QPointF footPoint() const { return foot_; }
    double lineDistance1() const { return lineDistance1_; }
    double lineDistance2() const { return lineDistance2_; }
    void setLineDistance1(double distance);
    void setLineDistance2(double distance);

protected:
    QLineF main_, second_, third_;
    QPointF foot_;
    double lineDistance1_ = 0.0;
    double lineDistance2_ = 0.0;
};

class GraphicsHLine : public GraphicsLine
{
public:
    using GraphicsLine::GraphicsLine;
};

class GraphicsVLine : public GraphicsLine
{
public:
    using GraphicsLine::GraphicsLine;
};

class GraphicsPar : public GraphicsLine
{
public:
    using GraphicsLine::GraphicsLine;
    bool refresh(QPainter *painter) override;
};

class GraphicsVer : public GraphicsLine
{
public:
    using GraphicsLine::GraphicsLine;
    bool refresh(QPainter *painter) override;
};

class GraphicsAng : public GraphicsLine
{
public:
    using GraphicsLine::GraphicsLine;
    bool refresh(QPainter *painter) override;
    QPointF crossingPoint() const override;
};

class GraphicsThreeAng : public GraphicsLine
{
public:
    using GraphicsLine::GraphicsLine;
    bool refresh(QPainter *painter) override;
    QPointF crossingPoint() const override;
};

class GraphicsLCali : public GraphicsLine
{
public:
    using GraphicsLine::GraphicsLine;
    void updateGeometry() override;
    QVariant measure() override;
    bool refresh(QPainter *painter) override;
    double lineLength() const override;
    QPointF firstEnd() const { return firstEnd_; }
    QPointF secondEnd() const { return secondEnd_; }

private:
    QPointF firstEnd_, secondEnd_;
};

// Rectangle and rectangular mark.
class GraphicsRect : public GraphicsConnect
{
public:
    using GraphicsConnect::GraphicsConnect;

    QRectF boundingRect() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;
    void updateGeometry() override;
    QPainterPath outline() const override;
    QVariant measure() override;
    bool refresh(QPainter *painter) override;
    QRectF rect() const { return rect_; }

private:
    QRectF rect_;
};

// Path family: the shapes whose outline is a painter path.
class GraphicsPathBased : public GraphicsConnect
{
public:
    using GraphicsConnect::GraphicsConnect;

    QRectF boundingRect() const override;
    QPainterPath shape() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;
    void updateGeometry() override;
    QPainterPath outline() const override { return path_; }
    QVariant measure() override;
    bool refresh(QPainter *painter) override;
    double radius() const override { return radius_; }

    QVector<QPointF> pointList() const { return points_; }
    QPainterPath path() const { return path_; }
    QVector<geometry::Circle> circles() const { return circles_; }

protected:
    virtual QPointF labelAnchor() const;
    virtual geometry::GeometryInput geometryInput() const { return {}; }

    QVector<QPointF> points_;
    QPainterPath path_;
    QVector<geometry::Circle> circles_;
    double radius_ = -1.0;
};

class GraphicsArc : public GraphicsPathBased
{
public:
    using GraphicsPathBased::GraphicsPathBased;

protected:
    QPointF labelAnchor() const override;
};

class GraphicsCir : public GraphicsPathBased
{
public:
    using GraphicsPathBased::GraphicsPathBased;
};

class GraphicsRing : public GraphicsPathBased
{
public:
    using GraphicsPathBased::GraphicsPathBased;
    double ringDistance1() const { return ringDistance1_; }
    double ringDistance2() const { return ringDistance2_; }
    void setRingDistance1(double distance);
    void setRingDistance2(double distance);

protected:
    geometry::GeometryInput geometryInput() const override;

private:
    double ringDistance1_ = 0.0;
    double ringDistance2_ = 0.0;
};

class GraphicsPoly : public GraphicsPathBased
{
public:
    using GraphicsPathBased::GraphicsPathBased;
};

class GraphicsAnyLine : public GraphicsPathBased
{
public:
    using GraphicsPathBased::GraphicsPathBased;
};

class GraphicsLCir : public GraphicsPathBased
{
public:
    using GraphicsPathBased::GraphicsPathBased;
};

class GraphicsTCir : public GraphicsPathBased
{
public:
    using GraphicsPathBased::GraphicsPathBased;
};

class GraphicsLText : public GraphicsPathBased
{
public:
    using GraphicsPathBased::GraphicsPathBased;

protected:
    QPointF labelAnchor() const override;
};

class GraphicsCCali : public GraphicsPathBased
{
public:
    using GraphicsPathBased::GraphicsPathBased;
};

// One crosshair or gridline line across the whole scene. Its place is kept
// relative to the scene's size, so it stays put over the picture through any
// sequence of resizes.
class GraphicsCross : public QGraphicsLineItem
{
public:
    enum { Type = QGraphicsItem::UserType + 4 };
    enum Direction { Vertical = 1, Horizontal = 2 };

    GraphicsCross(int direction, MainScene *scene, QGraphicsItem *parent = nullptr);
    int type() const override { return Type; }
    int direction() const { return direction_; }
    void setColor(const QColor &color);
    void setPenWidth(int width);
    // The drawing size the user chose for the line; its pen width follows
    // from it and the scene's scale.
    int size() const { return size_; }
    void setSize(int size);
    // Asks the scene to take this line out of its list and delete it.
    void remove();

    // Position as a fraction of the scene's width (vertical) or height (horizontal).
    double relativePosition() const { return relative_; }
    void setRelativePosition(double fraction);
    // Lays the line out across `sceneRect` at its relative position.
    void layoutIn(const QRectF &sceneRect);

    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;

protected:
    QVariant itemChange(GraphicsItemChange change, const QVariant &value) override;

private:
    int direction_;
    MainScene *scene_;
    double relative_ = 0.0;
    bool laying_ = false;
    int size_ = 0;
};

// The blinking recording dot. The owner starts a 500 ms coarse timer on it
// and shows it; each timer event flips it between red and transparent.
class flashitem : public QObject, public QGraphicsItem
{
    Q_OBJECT
    Q_INTERFACES(QGraphicsItem)
public:
    explicit flashitem(QGraphicsItem *parent = nullptr);
    QRectF boundingRect() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;
    bool isLit() const { return lit_; }
    int timerId() const { return timerId_; }

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    bool lit_ = true;
    int timerId_ = 0;
};
