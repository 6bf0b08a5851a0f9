// The measurement scene: turns mouse input into shapes according to the
// drawing mode, finishes and numbers them, carries drawing properties, unit,
// calibration and display scale to every shape, holds the crosshair and
// gridline overlay and the focus-region rectangle, paints its shapes into
// pictures and rebuilds shapes from a stored graphics list. GUI thread only.
#pragma once

#include "draw_type.h"
#include "settings_store.h"
#include "shapes.h"

#include <QGraphicsScene>
#include <QList>
#include <QMap>
#include <QPointF>
#include <QVariant>

class GraphicsCross;
class QGraphicsRectItem;
class QPaintDevice;

Q_DECLARE_METATYPE(Base *)

class MainScene : public QGraphicsScene
{
    Q_OBJECT
public:
    explicit MainScene(QObject *parent = nullptr);
    ~MainScene() override;

    // Drawing. `setDrawMode` abandons the shape in progress when the mode changes.
    void setDrawMode(int mode);
    int drawMode() const { return mode_; }
    void setEdgeSnap(bool on) { edgeSnap_ = on; }
    bool edgeSnap() const { return edgeSnap_; }
    // Point of the shape in progress that the next edge-search answer sets.
    int edgeIndex() const { return edgeIndex_; }
    // Replaces the property map; existing shapes are not restyled.
    void setPropertyMap(const QMap<int, QVariant> &properties) { properties_ = properties; }
    QMap<int, QVariant> propertyMap() const { return properties_; }
    // Micrometres per pixel; values that are not positive finite numbers are refused.
    void setCalibration(double umPerPixel);
    double calibration() const { return calibration_; }
    void setUnit(int unit);
    int unit() const { return unit_; }
    // Formats every label again: after the number of decimals or the
    // language changed.
    void refreshLabels();
    // Called before the view gives the scene a new rectangle, then `applyScale` after.
    void setViewScale(double newWidth, double pictureWidth);
    void applyScale();
    // Picture pixels per scene unit.
    double scale() const { return scale_; }

    QList<Base *> shapes() const { return shapes_; }
    int indexOfShape(Base *shape) const { return shapes_.indexOf(shape); }
    void removeShape(int index);
    void clearShapes();
    void setLastText(const QString &text);
    // The shape being drawn, or none.
    Base *currentShape() const { return current_; }
    // A new, styled, empty shape for the current mode; none for modes without shapes.
    Base *createShape();

    // Crosshair and gridlines.
    void setLinesVisible(bool visible);
    bool linesVisible() const { return linesVisible_; }
    void setGridMode(bool on) { gridMode_ = on; }
    bool gridMode() const { return gridMode_; }
    void setHorizontalLineCount(int count);
    void setVerticalLineCount(int count);
    int horizontalLineCount() const { return hLineCount_; }
    int verticalLineCount() const { return vLineCount_; }
    QList<GraphicsCross *> lines() const { return lines_; }
    void removeCrossLine(GraphicsCross *line);
    // Pen width in scene units of an overlay line of drawing size `size`.
    int overlayPenWidth(int size) const;

    // Focus region: a cell of the 17 by 15 grid.
    void setFocusRegionFlags(bool regionMode, bool grid5x5, bool showRect, bool keep);
    void setFocusCell(int column, int row);
    void updateFocusRect(bool keep);
    bool regionMode() const { return regionMode_; }
    int focusColumn() const { return focusCol_; }
    int focusRow() const { return focusRow_; }
    // The highlighted focus cell, or none while it is not shown.
    QGraphicsRectItem *focusRect() const { return focusRect_; }

    // Paints every finished shape onto `device` at the picture's resolution.
    void renderShapes(QPaintDevice *device);
    // Adds the shapes of a stored graphics list (untrusted JSON).
    void loadShapes(const QByteArray &json);

signals:
    void itemInsert(Base *shape);
    void itemUpdate(Base *shape);
    void itemSelected(QList<int> selection);
    void caliOver(double length);
    void ltextEdit();
    void blinkArea(int column, int row);
    void changeProperty(void *item);
    void crossStatusChanged(void *item);
    void clearDrawType();
    void mousePressPoint(int x, int y, DrawType type);

public slots:
    void setDrawProperty(DrawProperty id, const QVariant &value);
    void recvEdgepos(const QPointF &pos);
    void slotRecvOffset(int x, int y);

protected:
    void mousePressEvent(QGraphicsSceneMouseEvent *event) override;
    void mouseMoveEvent(QGraphicsSceneMouseEvent *event) override;
    void mouseReleaseEvent(QGraphicsSceneMouseEvent *event) override;
    void mouseDoubleClickEvent(QGraphicsSceneMouseEvent *event) override;

private:
    void abandonCurrent();
    void finishCurrent();
    void passDistances(Base *shape);
    void reportSelection();
    void rescaleShape(Base *shape);
    void layoutLines();
    QPen overlayPen(int widthId, int styleId, int colorId) const;
    int overlaySize(int widthId) const;
    void styleOverlayLines();
    void rebuildLines(int direction, int count);
    void requestEdge(const QPointF &at);

    bool edgeSnap_ = false;
    QList<Base *> shapes_;
    int mode_ = DrawType::Hand;
    Base *current_ = nullptr;
    bool gridMode_ = false;
    int focusCol_ = 8;
    int focusRow_ = 7;
    QMap<int, QVariant> properties_;
    double calibration_ = 1.0;
    int unit_ = 1;
    QList<GraphicsCross *> lines_;
    QGraphicsRectItem *focusRect_ = nullptr;
    bool linesVisible_ = false;
    int hLineCount_ = 0;
    int vLineCount_ = 0;
    double ratio_ = 1.0;  // width change not yet applied to the shapes
    double scale_ = 1.0;
    bool regionMode_ = false;
    bool grid5x5_ = false;
    bool showRect_ = false;
    QPointF pressPoint_{-1, -1};
    int edgeIndex_ = 0;
    int numberOffset_ = 0;
    int scrollX_ = 0;
    int scrollY_ = 0;
    // Edge snapping: the answer is taken only for the request of the shape
    // and mode that asked.
    quint64 shapeSerial_ = 0;
    quint64 currentSerial_ = 0;
    bool edgePending_ = false;
    quint64 edgeSerial_ = 0;
    int edgeMode_ = 0;
};
