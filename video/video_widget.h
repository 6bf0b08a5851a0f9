// One tab of the view area: the live camera picture (or a still picture)
// with the measurement scene over it, the floating tool panel, the zoom
// buttons, the recording marker and the measurement table below. Row i of the
// table and shape i of the scene's list are always the same shape.
#pragma once

#include "displayed_video_size.h"
#include "draw_type.h"
#include "settings_store.h"
#include "video_frame.h"

#include <QMap>
#include <QPixmap>
#include <QPointer>
#include <QRect>
#include <QVariant>
#include <QWidget>

#include <atomic>

class Base;
class GraphicsView;
class MainScene;
class MeasureFlowPanel;
class OpenGLVideoWidget;
class QMenu;
class QTableWidget;
class ShowPicScrollArea;
class ZoomWidget;
class flashitem;

namespace Ui {
class VideoWidget;
}

class VideoWidget : public QWidget
{
    Q_OBJECT
public:
    struct LayoutState
    {
        bool tableVisible = false;
        bool zoomVisible = false;
        QRect containerGeometry;
        QRect windowGeometry;  // kept here by the main window while full screen
    };

    explicit VideoWidget(QWidget *parent = nullptr, bool isLive = false);
    ~VideoWidget() override;

    QSize sizeHint() const override { return QSize(500, 350); }
    QSize minimumSizeHint() const override { return QSize(50, 35); }

    // Live picture. `playThread` is only remembered (the main window hands
    // frames over through showFrame); any QObject will do, so this library
    // does not depend on the capture thread's class.
    void connectToPlayThread(QObject *playThread);
    QObject *playThread() const { return playThread_; }
    void showFrame(const VideoFrame &frame);

    // Still picture: shown with the scene's current shapes painted in.
    // `frameWidth`: the width of the camera frames whose pixels it holds (a
    // stitched picture's); 0 for a picture of its own, such as an opened file.
    void setPicture(const QPixmap &picture, int frameWidth = 0);
    QPixmap picture() const { return picture_; }
    // The width of pictures whose pixels are as large as this one's: the
    // frames' it was made of, else its own.
    int pixelWidth() const { return frameWidth_ > 0 ? frameWidth_ : picture_.width(); }

    bool isLive() const { return isLive_; }
    void setLive(bool live) { isLive_ = live; }
    bool isModified() const { return isModified_; }
    void setModified(bool modified);
    bool hasMeasurements() const;
    double videoAreaWidth() const;
    void setManualScale(bool manual) { manualScale = manual; }
    void setFlowEnable(bool enable) { flowEnable = enable; }
    // Both scales; values that are not finite and above zero are refused.
    void setScale(double scale);
    // Fits a picture of this size into the view (unless the user chose the
    // scale) and reports the fitted scale by videoWidgetScaleChanged.
    void fitScale(int width, int height);
    void refitScale();
    double liveScaleValue() const { return liveScale; }
    double stillScaleValue() const { return stillScale; }
    void setRecordingBlink(bool on);
    void setZoomButtonsVisible(bool visible);
    void setFullScreen(bool on);
    LayoutState layoutState() const { return layoutState_; }
    void setLayoutState(const LayoutState &state) { layoutState_ = state; }
    void retranslateTable();

    // Still view: saves the picture with the shapes painted in. The shapes
    // and their rows go only when the file was written; on failure nothing
    // changes and errorString says why. An empty path picks the next free
    // capture name in the Pictures folder's subfolder named after the program.
    bool savePicture(const QString &path);
    // Shows a picture file as a still view; shapes stored behind the image
    // data are rebuilt on the scene once the event loop runs.
    void openPicture(const QString &path);
    // CSV of the measurements (marks left out); false with errorString set
    // when the file could not be written.
    bool exportTable(const QString &path);
    QString errorString() const { return lastError; }
    QString savePathValue() const { return savePath; }

    // Forwarders to the scene.
    void paintGraphics(QPaintDevice *device);
    void setCrossVisible(bool visible);
    bool isCrossVisible() const;
    void setGridMode(bool on);
    void setCrossHorizontalCount(int count);
    void setCrossVerticalCount(int count);
    void setEdgeEnable(bool enable);
    void setLabelText(const QString &text);
    void setCalibration(double umPerPixel);
    void setUnit(int unit);
    void setDrawMode(DrawType mode);
    void setDrawProperty(DrawProperty id, const QVariant &value);
    void setDrawProperties(const QMap<int, QVariant> &properties);

    // Parts, for the main window and for tests.
    MainScene *measureScene() const { return scene; }
    GraphicsView *graphicsView() const { return view; }
    QTableWidget *table() const;
    MeasureFlowPanel *flowPanelWidget() const { return flowPanel; }
    ZoomWidget *zoomWidget() const { return zoomButtons; }
    OpenGLVideoWidget *liveView() const { return glView; }
    ShowPicScrollArea *scrollAreaWidget() const { return scrollArea; }
    QWidget *videoContainer() const;
    QMenu *tableMenu() const { return contextMenu; }

signals:
    void modified(VideoWidget *view);
    void caliOver(double length);
    void ltextEdit();
    void changeProperty(void *item);
    void crossStatusChanged(void *item);
    void wheelAdd(bool forward);
    void blinkArea(int column, int row);
    void mousePressPoint(int x, int y, DrawType type);
    void sendEdgepos(QPointF point);
    void signalSetDrawMode(DrawType type);
    void increaseOrDecreaseZoom(bool increase);
    void videoWidgetScaleChanged(double bestScale, double prevScale, bool isManual);
    void clearDrawType();

public slots:
    void onStart();
    void onStop();
    void onSetFocusRegionUI(int x, int y);
    void blinkChange(bool regionMode, bool grid5x5, bool showRect, bool init = false);
    void slotclearDrawType();
    void slotChangePos();

    // Measurement table.
    void itemInsert(Base *shape);
    void itemUpdate(Base *shape);
    void itemSelectedChange(QList<int> rows);
    void menuRequest(const QPoint &pos);
    void delItem();
    void delAllItem();

private slots:
    void on_ShowHide_Btn_clicked();
    void on_TableWidget_tWid_itemSelectionChanged();

protected:
    void wheelEvent(QWheelEvent *event) override;
    void enterEvent(QEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void setupTable();
    void relayout();
    void relayoutLive();
    void relayoutStill();
    void applyCursorRule(int mode);
    void placeZoomButtons();
    void clearTableRows();
    void markTableChange();

    bool flowEnable = false;
    GraphicsView *view = nullptr;
    ShowPicScrollArea *scrollArea = nullptr;
    MainScene *scene = nullptr;
    flashitem *recordMarker = nullptr;
    int recordTimer = 0;
    OpenGLVideoWidget *glView = nullptr;
    double liveScale = -1.0;  // -1: not fitted yet
    double stillScale = 1.0;
    QPixmap picture_;
    int frameWidth_ = 0;
    bool isLive_ = false;
    bool isModified_ = false;
    bool trackModified = false;
    QMenu *contextMenu = nullptr;
    QAction *deleteAction = nullptr;
    QAction *deleteAllAction = nullptr;
    QMap<int, QVariant> drawProperties;
    QString savePath;
    QString lastError;
    MeasureFlowPanel *flowPanel = nullptr;
    ZoomWidget *zoomButtons = nullptr;
    QPointer<QObject> playThread_;
    LayoutState layoutState_;
    Ui::VideoWidget *ui = nullptr;
    bool panelAtTop = true;
    int panelMargin = 5;
    std::atomic<bool> needsRefit{false};
    int lastFrameWidth = 0;
    int lastFrameHeight = 0;
    QMap<QString, int> columnOfKey;
    bool manualScale = false;
};
