#include "video_widget.h"

#include "measure.h"
#include "measure_export.h"
#include "measure_flow_panel.h"
#include "opengl_video_widget.h"
#include "picture_file.h"
#include "show_pic_scroll_area.h"
#include "ui_videowidget.h"
#include "view_layout.h"
#include "zoom_widget.h"

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>
#include <functional>

namespace {

// Header texts of the table; "Nnumber" is the program's own source text.
const char *const kHeaders[kMeasureColumnCount] = {
    QT_TRANSLATE_NOOP("VideoWidget", "Nnumber"), QT_TRANSLATE_NOOP("VideoWidget", "Name"),
    QT_TRANSLATE_NOOP("VideoWidget", "Length"),  QT_TRANSLATE_NOOP("VideoWidget", "Distance"),
    QT_TRANSLATE_NOOP("VideoWidget", "Perimeter"), QT_TRANSLATE_NOOP("VideoWidget", "Area"),
    QT_TRANSLATE_NOOP("VideoWidget", "Angle"),   QT_TRANSLATE_NOOP("VideoWidget", "Radian"),
    QT_TRANSLATE_NOOP("VideoWidget", "Width"),   QT_TRANSLATE_NOOP("VideoWidget", "Height"),
    QT_TRANSLATE_NOOP("VideoWidget", "Radius"),
};

Qt::ScrollBarPolicy barPolicy(bool on)
{
    return on ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff;
}

QString numberText(const Base *shape)
{
    return shape->number() > 0 ? QString::number(shape->number()) : QString();
}

}  // namespace

VideoWidget::VideoWidget(QWidget *parent, bool isLive) : QWidget(parent), isLive_(isLive), ui(new Ui::VideoWidget)
{
    registerDrawTypeMetaType();
    ui->setupUi(this);
    setFocusPolicy(Qt::WheelFocus);

    scrollArea = new ShowPicScrollArea(ui->widget);
    glView = new OpenGLVideoWidget;
    scrollArea->setContent(glView);
    scrollArea->setStyleSheet(QStringLiteral("border: none;"));
    glView->setVisible(isLive_);
    setStyleSheet(QStringLiteral("border: none;"));

    scene = new MainScene;
    view = new GraphicsView(isLive_ ? static_cast<QWidget *>(glView) : static_cast<QWidget *>(scrollArea));
    setupTable();
    view->setStyleSheet(QStringLiteral("border: none; background: transparent;"));
    view->setFrameShape(QFrame::NoFrame);
    view->setScene(scene);
    if (isLive_) {
        // Over the live picture the scene always has the view's size.
        view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    }

    connect(scene, &MainScene::clearDrawType, this, &VideoWidget::slotclearDrawType);
    connect(scene, &MainScene::itemUpdate, this, &VideoWidget::itemUpdate);
    connect(scene, &MainScene::itemInsert, this, &VideoWidget::itemInsert);
    connect(scene, &MainScene::itemSelected, this, &VideoWidget::itemSelectedChange);
    connect(scene, &MainScene::caliOver, this, &VideoWidget::caliOver);
    connect(scene, &MainScene::ltextEdit, this, &VideoWidget::ltextEdit);
    connect(scene, &MainScene::blinkArea, this, &VideoWidget::blinkArea);
    connect(scene, &MainScene::changeProperty, this, &VideoWidget::changeProperty);
    connect(scene, &MainScene::crossStatusChanged, this, &VideoWidget::crossStatusChanged);
    connect(scene, &MainScene::mousePressPoint, this, &VideoWidget::mousePressPoint);
    connect(scrollArea, &ShowPicScrollArea::signalSendOffset, scene, &MainScene::slotRecvOffset);
    connect(this, &VideoWidget::sendEdgepos, scene, &MainScene::recvEdgepos);

    contextMenu = new QMenu(this);
    deleteAction = contextMenu->addAction(tr("delete"));
    deleteAllAction = contextMenu->addAction(tr("Delete all"));
    connect(deleteAction, &QAction::triggered, this, &VideoWidget::delItem);
    connect(deleteAllAction, &QAction::triggered, this, &VideoWidget::delAllItem);
    ui->TableWidget_tWid->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->TableWidget_tWid, &QWidget::customContextMenuRequested, this, &VideoWidget::menuRequest);

    flowPanel = new MeasureFlowPanel(this);
    flowPanel->hide();
    flowPanel->setViewSize(width(), height());
    connect(flowPanel, &MeasureFlowPanel::signalSetDrawMode, this, &VideoWidget::signalSetDrawMode);
    connect(flowPanel, &MeasureFlowPanel::signalChangePos, this, &VideoWidget::slotChangePos);

    zoomButtons = new ZoomWidget(this);
    connect(zoomButtons, &ZoomWidget::increaseOrDecreaseZoom, this, &VideoWidget::increaseOrDecreaseZoom);

    recordMarker = new flashitem;
    scene->addItem(recordMarker);
    recordMarker->hide();

    zoomButtons->hide();
    ui->TableWidget_tWid->hide();
}

VideoWidget::~VideoWidget()
{
    if (recordTimer)
        recordMarker->killTimer(recordTimer);
    // The table's signals must not reach a half-destroyed view while the
    // scene deletes its shapes.
    disconnect(scene, nullptr, this, nullptr);
    ui->TableWidget_tWid->disconnect(this);
    scene->removeItem(recordMarker);
    delete recordMarker;
    scrollArea->setParent(nullptr);
    scrollArea->deleteLater();
    scene->deleteLater();
    delete ui;
}

QTableWidget *VideoWidget::table() const
{
    return ui->TableWidget_tWid;
}

QWidget *VideoWidget::videoContainer() const
{
    return ui->widget;
}

void VideoWidget::setupTable()
{
    QTableWidget *table = ui->TableWidget_tWid;
    table->setColumnCount(kMeasureColumnCount);
    table->setRowCount(0);
    table->verticalHeader()->setVisible(false);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->horizontalHeader()->setSectionsClickable(false);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    QStringList headers;
    for (const char *header : kHeaders)
        headers << tr(header);
    table->setHorizontalHeaderLabels(headers);
    const QStringList keys = measureColumnKeys();
    for (int i = 0; i < keys.size(); ++i)
        columnOfKey.insert(keys[i], kFirstValueColumn + i);
}

// ---------------------------------------------------------------- frames

void VideoWidget::connectToPlayThread(QObject *thread)
{
    trackModified = true;
    playThread_ = thread;
    isLive_ = true;
    needsRefit = true;
}

void VideoWidget::showFrame(const VideoFrame &frame)
{
    if (frame.width() <= 0 || frame.height() <= 0)
        return;
    if (needsRefit || frame.width() != lastFrameWidth || frame.height() != lastFrameHeight) {
        lastFrameWidth = frame.width();
        lastFrameHeight = frame.height();
        fitScale(lastFrameWidth, lastFrameHeight);
        relayout();
        needsRefit = false;
    }
    glView->onFrame(frame);
}

void VideoWidget::onStart()
{
    glView->startDisplay();
}

void VideoWidget::onStop()
{
    glView->stopDisplay();
}

// ---------------------------------------------------------------- layout

void VideoWidget::fitScale(int width, int height)
{
    const std::optional<double> best = view_layout::bestFitScale(ui->widget->size(), QSize(width, height));
    if (!best)
        return;  // no frame size, or a container with no room (minimised)
    const double previous = stillScale;
    if (!manualScale)
        liveScale = stillScale = *best;
    emit videoWidgetScaleChanged(view_layout::scalePercent(*best), view_layout::scalePercent(previous), manualScale);
}

void VideoWidget::refitScale()
{
    fitScale(lastFrameWidth, lastFrameHeight);
}

void VideoWidget::setScale(double scale)
{
    if (!view_layout::isUsableScale(scale))
        return;
    liveScale = stillScale = scale;
    relayout();
}

void VideoWidget::relayout()
{
    if (isLive_)
        relayoutLive();
    else
        relayoutStill();
}

void VideoWidget::relayoutLive()
{
    const QSize area = ui->widget->size();
    const QSize frame = lastFrameWidth > 0 && lastFrameHeight > 0 ? QSize(lastFrameWidth, lastFrameHeight) : area;
    if (liveScale > 1.0)
        liveScale = 1.0;
    const view_layout::LiveLayout layout = view_layout::liveLayout(area, frame, liveScale);
    scrollArea->setGeometry(layout.scrollGeometry);
    scrollArea->setHorizontalScrollBarPolicy(barPolicy(layout.horizontalBar));
    scrollArea->setVerticalScrollBarPolicy(barPolicy(layout.verticalBar));
    if (scrollArea->horizontalScrollBar()->isVisible() || scrollArea->verticalScrollBar()->isVisible())
        scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    glView->setVisible(true);
    glView->resize(layout.content);
    displayedVideoWidth = layout.content.width();
    displayedVideoHeight = layout.content.height();
    view->setGeometry(0, 0, layout.content.width(), layout.content.height());
    recordMarker->setPos(layout.content.width() - 20, layout.content.height() - 20);
    // An empty video area (before the first fit, a minimised window) would
    // give the scene an infinite scale: its shapes keep the last good one.
    if (layout.content.isEmpty() || frame.width() <= 0)
        return;
    scene->setViewScale(layout.content.width(), frame.width());
    scene->setSceneRect(0, 0, layout.content.width(), layout.content.height());
    scene->applyScale();
}

void VideoWidget::relayoutStill()
{
    const QSize area = ui->widget->size();
    scrollArea->setGeometry(0, 0, area.width(), area.height());
    glView->setVisible(false);
    const QSize pictureSize = picture_.isNull() ? area : picture_.size();
    const double scale = view_layout::isUsableScale(stillScale) ? stillScale : 1.0;
    const view_layout::StillLayout layout = view_layout::stillLayout(area, pictureSize, scale);
    view->setHorizontalScrollBarPolicy(barPolicy(layout.horizontalBar));
    view->setVerticalScrollBarPolicy(barPolicy(layout.verticalBar));
    const bool barsVisible = view->horizontalScrollBar()->isVisible() || view->verticalScrollBar()->isVisible();
    if (barsVisible)
        view->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    if (scene->drawMode() == DrawType::Track)
        view->setDragMode(barsVisible ? QGraphicsView::ScrollHandDrag : QGraphicsView::NoDrag);
    view->setGeometry(layout.viewGeometry);
    scene->setSceneRect(0, 0, pictureSize.width(), pictureSize.height());
    scene->setBackgroundBrush(picture_.isNull() ? QBrush(Qt::NoBrush) : QBrush(picture_));
    view->setTransform(QTransform::fromScale(scale, scale));
}

void VideoWidget::placeZoomButtons()
{
    const QTableWidget *table = ui->TableWidget_tWid;
    zoomButtons->move(view_layout::zoomButtonsPosition(size(), zoomButtons->size(), !table->isHidden(), table->height()));
}

void VideoWidget::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    relayout();
    flowPanel->setViewSize(width(), height());
    placeZoomButtons();
    needsRefit = true;
}

void VideoWidget::on_ShowHide_Btn_clicked()
{
    ui->TableWidget_tWid->setVisible(ui->TableWidget_tWid->isHidden());
    needsRefit = true;
    relayout();
    placeZoomButtons();
}

void VideoWidget::slotChangePos()
{
    panelAtTop = !panelAtTop;
    flowPanel->setGeometry(view_layout::flowPanelGeometry(panelAtTop, panelMargin, view->size()));
}

void VideoWidget::setFullScreen(bool on)
{
    ui->ShowHide_Btn->setVisible(!on);
    if (on) {
        layoutState_.tableVisible = !ui->TableWidget_tWid->isHidden();
        layoutState_.containerGeometry = ui->widget->geometry();
        layoutState_.zoomVisible = !zoomButtons->isHidden();
        zoomButtons->hide();
        ui->TableWidget_tWid->hide();
        flowPanel->hide();
        const QScreen *screen = QGuiApplication::primaryScreen();
        const QSize screenSize = screen ? screen->size() : size();
        ui->widget->setGeometry(0, 0, screenSize.width(), screenSize.height());
    } else {
        ui->TableWidget_tWid->setVisible(layoutState_.tableVisible);
        ui->widget->setGeometry(layoutState_.containerGeometry);
        zoomButtons->setVisible(layoutState_.zoomVisible);
    }
    needsRefit = true;
}

void VideoWidget::wheelEvent(QWheelEvent *event)
{
    if (!isLive_)
        return;
    const QPoint inContainer = ui->widget->mapFrom(this, event->position().toPoint());
    if (!ui->widget->rect().contains(inContainer))
        return;
    const QPoint delta = event->angleDelta();
    const std::optional<bool> forward = view_layout::wheelForward(delta.y() != 0 ? delta.y() : delta.x());
    if (forward)
        emit wheelAdd(*forward);
}

void VideoWidget::enterEvent(QEvent *event)
{
    QWidget::enterEvent(event);
    if (flowEnable && isLive_)
        flowPanel->show();
}

void VideoWidget::leaveEvent(QEvent *event)
{
    QWidget::leaveEvent(event);
    if (flowEnable && isLive_)
        flowPanel->hide();
}

void VideoWidget::setZoomButtonsVisible(bool visible)
{
    zoomButtons->setVisible(visible);
    placeZoomButtons();
}

void VideoWidget::setRecordingBlink(bool on)
{
    if (recordTimer) {
        recordMarker->killTimer(recordTimer);
        recordTimer = 0;
    }
    if (on) {
        recordTimer = recordMarker->startTimer(500, Qt::CoarseTimer);
        recordMarker->show();
    } else {
        recordMarker->hide();
    }
}

double VideoWidget::videoAreaWidth() const
{
    return glView->width();
}

void VideoWidget::setModified(bool value)
{
    if (value == isModified_)
        return;
    isModified_ = value;
    if (value)
        emit modified(this);
}

// ---------------------------------------------------------------- scene forwarders

void VideoWidget::paintGraphics(QPaintDevice *device)
{
    scene->renderShapes(device);
}

void VideoWidget::setCrossVisible(bool visible)
{
    scene->setLinesVisible(visible);
}

bool VideoWidget::isCrossVisible() const
{
    return scene->linesVisible();
}

void VideoWidget::setGridMode(bool on)
{
    scene->setGridMode(on);
}

void VideoWidget::setCrossHorizontalCount(int count)
{
    scene->setHorizontalLineCount(count);
}

void VideoWidget::setCrossVerticalCount(int count)
{
    scene->setVerticalLineCount(count);
}

void VideoWidget::setEdgeEnable(bool enable)
{
    scene->setEdgeSnap(enable);
}

void VideoWidget::setLabelText(const QString &text)
{
    if (!scene->shapes().isEmpty())
        scene->setLastText(text);
}

void VideoWidget::setCalibration(double umPerPixel)
{
    scene->setCalibration(umPerPixel);
}

void VideoWidget::setUnit(int unit)
{
    scene->setUnit(unit);
}

void VideoWidget::setDrawMode(DrawType mode)
{
    scene->setDrawMode(mode);
    applyCursorRule(mode);
}

void VideoWidget::setDrawProperty(DrawProperty id, const QVariant &value)
{
    scene->setDrawProperty(id, value);
    if (id == DrawProperty::Antialiasing)
        view->setRenderHint(QPainter::Antialiasing, value.toBool());
}

void VideoWidget::setDrawProperties(const QMap<int, QVariant> &properties)
{
    drawProperties = properties;
    scene->setPropertyMap(properties);
    view->setRenderHint(QPainter::Antialiasing, properties.value(DrawProperty::Antialiasing, false).toBool());
}

void VideoWidget::onSetFocusRegionUI(int x, int y)
{
    scene->setFocusCell(x, y);
}

void VideoWidget::blinkChange(bool regionMode, bool grid5x5, bool showRect, bool init)
{
    scene->setFocusRegionFlags(regionMode, grid5x5, showRect, init);
    scene->setDrawMode(scene->drawMode());
    applyCursorRule(scene->drawMode());
}

void VideoWidget::slotclearDrawType()
{
    emit clearDrawType();
    // Checking the panel's position button un-presses its tool button (one
    // exclusive group).
    if (auto *location = flowPanel->findChild<QPushButton *>(QStringLiteral("setLocation_Btn")))
        location->setChecked(true);
}

void VideoWidget::applyCursorRule(int mode)
{
    if (view->testAttribute(Qt::WA_TransparentForMouseEvents))
        view->setAttribute(Qt::WA_TransparentForMouseEvents, false);
    switch (mode) {
    case DrawType::AutoFocusPoint:
        view->setDragMode(QGraphicsView::NoDrag);
        view->viewport()->setCursor(isLive_ && scene->regionMode() ? Qt::PointingHandCursor : Qt::ArrowCursor);
        break;
    case DrawType::Track:
        if (isLive_ && (scrollArea->horizontalScrollBar()->isVisible() || scrollArea->verticalScrollBar()->isVisible())) {
            scrollArea->viewport()->setCursor(Qt::OpenHandCursor);
            view->setAttribute(Qt::WA_TransparentForMouseEvents, true);
        } else if (view->horizontalScrollBar()->isVisible() || view->verticalScrollBar()->isVisible()) {
            view->setDragMode(QGraphicsView::ScrollHandDrag);
        } else {
            view->setDragMode(QGraphicsView::NoDrag);
            view->viewport()->setCursor(Qt::ArrowCursor);
        }
        break;
    case DrawType::Hand:
        view->setDragMode(QGraphicsView::RubberBandDrag);
        view->viewport()->setCursor(Qt::ArrowCursor);
        break;
    default:
        view->setDragMode(QGraphicsView::NoDrag);
        view->viewport()->setCursor(Qt::CrossCursor);
        break;
    }
}

// ---------------------------------------------------------------- table

bool VideoWidget::hasMeasurements() const
{
    return ui->TableWidget_tWid->rowCount() > 0;
}

void VideoWidget::markTableChange()
{
    if (trackModified && !isModified_)
        setModified(true);
}

void VideoWidget::itemInsert(Base *shape)
{
    if (!shape)
        return;
    QTableWidget *table = ui->TableWidget_tWid;
    const MeasurementRow values =
        measurementRow(translateShapeNames(shape->name() + QLatin1Char('\n') + shape->labelText()), columnOfKey);
    const int row = table->rowCount();
    table->insertRow(row);
    table->setItem(row, 0, new QTableWidgetItem(numberText(shape)));
    table->setItem(row, 1, new QTableWidgetItem(values.name));
    for (int column = kFirstValueColumn; column < kMeasureColumnCount; ++column)
        table->setItem(row, column, new QTableWidgetItem(values.hasValue[column] ? values.values[column] : QString()));
    markTableChange();
}

void VideoWidget::itemUpdate(Base *shape)
{
    QTableWidget *table = ui->TableWidget_tWid;
    const int row = scene->indexOfShape(shape);
    if (row < 0 || row >= table->rowCount())
        return;  // still being drawn
    const MeasurementRow values =
        measurementRow(translateShapeNames(shape->name() + QLatin1Char('\n') + shape->labelText()), columnOfKey);
    table->setItem(row, 1, new QTableWidgetItem(values.name));
    // The number is given when the scene finishes the shape, after insertion.
    const QString number = numberText(shape);
    if (!table->item(row, 0) || table->item(row, 0)->text() != number)
        table->setItem(row, 0, new QTableWidgetItem(number));
    for (int column = kFirstValueColumn; column < kMeasureColumnCount; ++column) {
        if (!values.hasValue[column])
            continue;
        const QTableWidgetItem *cell = table->item(row, column);
        if (cell && cell->text() == values.values[column])
            continue;
        table->model()->setData(table->model()->index(row, column), values.values[column], Qt::EditRole);
        markTableChange();
    }
}

void VideoWidget::itemSelectedChange(QList<int> rows)
{
    QTableWidget *table = ui->TableWidget_tWid;
    QItemSelectionModel *selection = table->selectionModel();
    int cursor = 0;
    for (int row = 0; row < table->rowCount(); ++row) {
        if (cursor >= rows.size())
            break;
        const QModelIndex index = table->model()->index(row, 0);
        if (row == rows[cursor]) {
            selection->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
            ++cursor;
        } else {
            selection->select(index, QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
        }
    }
}

void VideoWidget::on_TableWidget_tWid_itemSelectionChanged()
{
    const QList<Base *> shapes = scene->shapes();
    for (Base *shape : shapes)
        shape->setHighlighted(false);
    const QModelIndexList rows = ui->TableWidget_tWid->selectionModel()->selectedRows();
    for (const QModelIndex &index : rows) {
        if (index.row() < shapes.size())
            shapes[index.row()]->setHighlighted(true);
    }
}

void VideoWidget::menuRequest(const QPoint &pos)
{
    QTableWidget *table = ui->TableWidget_tWid;
    if (table->selectedItems().isEmpty())
        return;
    contextMenu->exec(table->viewport()->mapToGlobal(pos));
}

void VideoWidget::delItem()
{
    QTableWidget *table = ui->TableWidget_tWid;
    QList<int> rows;
    for (const QModelIndex &index : table->selectionModel()->selectedRows())
        rows << index.row();
    if (rows.isEmpty() && table->currentRow() >= 0)
        rows << table->currentRow();
    if (rows.isEmpty())
        return;
    // From the bottom up, so the rows still to go keep their numbers.
    std::sort(rows.begin(), rows.end(), std::greater<int>());
    for (int row : qAsConst(rows)) {
        table->removeRow(row);
        if (row < scene->shapes().size())
            scene->removeShape(row);
    }
    setModified(true);
}

void VideoWidget::clearTableRows()
{
    ui->TableWidget_tWid->clearContents();
    ui->TableWidget_tWid->setRowCount(0);
}

void VideoWidget::delAllItem()
{
    clearTableRows();
    scene->clearShapes();
    setModified(true);
}

void VideoWidget::retranslateTable()
{
    deleteAction->setText(tr("delete"));
    deleteAllAction->setText(tr("delete all"));
    flowPanel->retranslate();
    zoomButtons->retranslate();
    const QStringList keys = measureColumnKeys();
    for (int i = 0; i < keys.size(); ++i)
        columnOfKey.insert(QCoreApplication::translate("GraphicsText", keys[i].toLatin1().constData()),
                           kFirstValueColumn + i);
    QStringList headers;
    for (const char *header : kHeaders)
        headers << tr(header);
    ui->TableWidget_tWid->setHorizontalHeaderLabels(headers);
    ui->retranslateUi(this);
    // Labels and rows made before the switch take the new language's words
    // and shape names.
    scene->refreshLabels();
    for (Base *shape : scene->shapes())
        itemUpdate(shape);
}

// ---------------------------------------------------------------- pictures

void VideoWidget::setPicture(const QPixmap &picture, int frameWidth)
{
    QPixmap shown = picture;
    if (!shown.isNull())
        scene->renderShapes(&shown);
    picture_ = shown;
    frameWidth_ = qMax(0, frameWidth);
    trackModified = true;
    isLive_ = false;
    if (!picture_.isNull() && (picture_.width() != lastFrameWidth || picture_.height() != lastFrameHeight)) {
        lastFrameWidth = picture_.width();
        lastFrameHeight = picture_.height();
        fitScale(lastFrameWidth, lastFrameHeight);
    }
    relayout();
}

bool VideoWidget::savePicture(const QString &path)
{
    lastError.clear();
    if (isLive_)
        return false;
    QString target = path;
    if (target.isEmpty()) {
        const QString folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation) + QLatin1Char('/')
            + QGuiApplication::applicationDisplayName();
        QDir().mkpath(folder);
        const QString name = nextCaptureFileName(folder);
        if (name.isEmpty()) {
            lastError = tr("No free picture name is left in %1.").arg(folder);
            return false;
        }
        target = folder + QLatin1Char('/') + name;
        qDebug() << "VideoWidget save path is empty, use " << target << " instead.";
    }
    savePath = target;

    // The graphics are painted into a copy: should writing fail, the view
    // keeps its picture and its editable shapes.
    QImage image = picture_.toImage();
    if (image.isNull()) {
        lastError = tr("There is no picture to save.");
        return false;
    }
    if (image.format() != QImage::Format_RGB32 && image.format() != QImage::Format_ARGB32_Premultiplied)
        image = image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                              : QImage::Format_RGB32);
    scene->renderShapes(&image);
    if (!writePictureFile(image, target, &lastError)) {
        qWarning() << "VideoWidget save failed:" << lastError;
        return false;
    }
    picture_ = QPixmap::fromImage(image);
    // The shapes now live in the pixels; the rows go with them.
    scene->clearShapes();
    clearTableRows();
    relayout();
    return true;
}

void VideoWidget::openPicture(const QString &path)
{
    lastError.clear();
    savePath = path;
    const PictureFile file = readPictureFile(path);
    picture_ = file.image.isNull() ? QPixmap() : QPixmap::fromImage(file.image);
    frameWidth_ = 0;
    isLive_ = false;
    if (!file.error.isEmpty()) {
        lastError = file.error;
        qWarning() << "VideoWidget open:" << file.error;
    }
    if (file.graphics.status == GraphicsTrailer::Found) {
        const QByteArray json = file.graphics.json;
        // Rebuilt once the view is laid out.
        QTimer::singleShot(0, this, [this, json]() { scene->loadShapes(json); });
    } else if (file.graphics.status == GraphicsTrailer::Rejected) {
        qWarning() << "VideoWidget open: graphics of" << path << "ignored:" << file.graphics.reason;
    }
    if (!picture_.isNull()) {
        lastFrameWidth = picture_.width();
        lastFrameHeight = picture_.height();
        fitScale(lastFrameWidth, lastFrameHeight);
    }
    relayout();
    // Shapes rebuilt from the file are no change of the user's.
    QTimer::singleShot(50, this, [this]() { trackModified = true; });
}

bool VideoWidget::exportTable(const QString &path)
{
    lastError.clear();
    QList<MeasurementRecord> records;
    for (const Base *shape : scene->shapes()) {
        if (shape->isMark())
            continue;
        records.append({shape->number(), shape->name(), shape->labelText()});
    }
    if (!writeMeasurementCsv(records, path, &lastError)) {
        qWarning() << "VideoWidget export failed:" << lastError;
        return false;
    }
    return true;
}
