// Construction, pages, tabs, full screen, language and shut-down of the main
// window. The commands live in main_window_*.cpp beside this file.
#include "main_window.h"

#include "burst_mode_settings.h"
#include "cam_settings.h"
#include "capture_page.h"
#include "label_widget.h"
#include "measure_widget.h"
#include "net_devices.h"
#include "photo_settings.h"
#include "setting_database.h"
#include "title_bar.h"
#include "ui_mainwindow2.h"
#include "video_widget.h"
#include "wait_dialog.h"
#include "zoom_steps.h"

#include <QApplication>
#include <QBitmap>
#include <QButtonGroup>
#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QTabBar>
#include <QThread>

namespace {

// Number of untitled picture tabs made so far in this process.
int untitledTabs = 0;

// Waits for a thread that was asked to stop. True when it finished in time;
// a thread that didn't is left running and named in the log.
bool waitStopped(QThread *thread, int timeoutMs, const char *what)
{
    if (!thread || thread->wait(timeoutMs))
        return true;
    qWarning().nospace() << what << " did not stop within " << timeoutMs << " ms; it is left to finish on its own.";
    return false;
}

} // namespace

MainWindow2::MainWindow2(QWidget *parent)
    : FramelessMainWindow(parent), ui(new Ui::MainWindow2), burstModeSettings(new BurstModeSettings)
{
    registerMainMetaTypes();
    // The device library and the first device poll start before anything
    // else: the poll runs on its own thread while the window is built, and
    // its answer is handled as soon as the window's events are.
    startDeviceSdk();
    pollThread_ = new QThread;
    pollThread_->setObjectName(QStringLiteral("device poll"));
    poller = new DevicePoller(discoverNetworkCameras);
    poller->moveToThread(pollThread_);
    connect(pollThread_, &QThread::finished, poller, &QObject::deleteLater);
    connect(poller, &DevicePoller::polled, this, &MainWindow2::onDevicesPolled);
    pollThread_->start();
    slotDetectTimeout();

    ui->setupUi(this);
    ui->capture_tBtn->hide();

    // The pages, in the order of their buttons.
    camSettings = new CamSettings;
    capturePage = new CapturePage;
    measurePage = new MeasureWidget;
    labelPage = new LabelWidget;
    photoSettings = new PhotoSettings;
    for (QWidget *page : std::initializer_list<QWidget *>{camSettings, capturePage, measurePage, labelPage})
        ui->stackedWidget->addWidget(page);
    pageButtons = new QButtonGroup(this);
    for (QAbstractButton *button : {ui->device_tBtn, ui->capture_tBtn, ui->mesure_tBtn, ui->label_tBtn})
        pageButtons->addButton(button);
    modeButtons = new QButtonGroup(this);
    for (QAbstractButton *button : {ui->AF_btn, ui->track_btn, ui->hand_btn})
        modeButtons->addButton(button);
    ui->hand_btn->setChecked(true);

    liveView_ = new VideoWidget(ui->video_tabWidget, true);
    waitDialog = new WaitDialog(this);

    titleBar()->raise();
    connect(titleBar(), &TitleBar::signalChangeLanguage, this, &MainWindow2::slotLanguageChange);
    titleBar()->applyLanguage();

    QFile styleSheet(QStringLiteral(":/qss/black.qss"));
    if (styleSheet.open(QIODevice::ReadOnly))
        qApp->setStyleSheet(QString::fromUtf8(styleSheet.readAll()));
    ui->splitter->setSizes({splitterLeft, width() - splitterLeft});

    setWindowTitle(QStringLiteral("5.1.0"));
    const QString iconFile = QCoreApplication::applicationDirPath() + QStringLiteral("/icon/Logo.ico");
    setWindowIcon(QIcon(QFileInfo::exists(iconFile) ? iconFile : QStringLiteral(":/pic/Logo.png")));

    const SettingDatabaseStatus database = openSettingDatabase(CameraDatabase::defaultPath());
    connectPanelSignals();

    setZoomItems(zoomLevels(0), 100);

    ui->stackedWidget->setCurrentWidget(camSettings);
    camSettings->resetControlsForNoCamera();
    const QBitmap mask = QPixmap(QStringLiteral(":/pic/leftMenuMask2.png")).mask();
    if (!mask.isNull())
        for (QAbstractButton *button : pageButtons->buttons())
            button->setMask(mask);

    workThread_ = QSharedPointer<QThread>::create();
    workThread_->setObjectName(QStringLiteral("work"));
    workThread_->start(QThread::InheritPriority);
    controlThread_ = new QThread;
    controlThread_->setObjectName(QStringLiteral("control"));
    capturePage->setWorkThread(workThread_);

    drawProperties = SettingsStore::instance().loadDraw();
    openedImageFolder = SettingsStore::instance().openedImagePath();

    auto *crossTimer = new QTimer(this);
    connect(crossTimer, &QTimer::timeout, this, &MainWindow2::onCrossChangedTimeOut);
    crossTimer->start(1000);

    connect(capturePage, &CapturePage::showStitchDstPix, this, &MainWindow2::onShowStitchDstPix);
    connect(capturePage, &CapturePage::showFusionDstPix, this, &MainWindow2::onShowFusionDstPix);
    connect(capturePage, &CapturePage::setModeForStitch, this, &MainWindow2::onSetModeForStitch);
    connect(this, &MainWindow2::stopFusion, capturePage, &CapturePage::onStopFusion);
    connect(this, &MainWindow2::stopStitch, capturePage, &CapturePage::onStopStitch);
    connect(capturePage, &CapturePage::changeFocusValue, camSettings, &CamSettings::setFocusValueUI);
    connect(capturePage, &CapturePage::changeFocusMode, camSettings, &CamSettings::setFocusModeUI);
    // The modes a run switched to manual are put back through the panel.
    connect(capturePage, &CapturePage::changeExposureMode, camSettings, &CamSettings::setExpModeUI);
    connect(capturePage, &CapturePage::changeWbMode, camSettings, &CamSettings::setWbModeUI);
    capturePage->setCameraModesSource([this] {
        return CapturePage::CameraModes{camSettings->focusModeUI(), camSettings->expModeUI(), camSettings->wbModeUI()};
    });

    {
        const QSignalBlocker blocker(ui->video_tabWidget);
        ui->video_tabWidget->addTab(liveView_, tr("Camera"));
        ui->video_tabWidget->setCurrentIndex(0);
    }
    // The live tab is never closed: it has no close button.
    if (QWidget *close = ui->video_tabWidget->tabBar()->tabButton(0, QTabBar::RightSide))
        close->hide();
    attachVideoWidget(liveView_, tr("Camera"), true);

    detectTimer = new QTimer(this);
    detectTimer->setObjectName(QStringLiteral("devicePollTimer"));
    connect(detectTimer, &QTimer::timeout, this, &MainWindow2::slotDetectTimeout);
    detectTimer->start(kDevicePollIntervalMs);

    // Ahead of the settings page, which opens a lost camera again from the
    // list that names it.
    connect(this, &MainWindow2::detect, this, [this](const DeviceMap &devices) {
        if (!devices.contains(lostCamera))
            lostCamera.clear();
    });
    connect(this, &MainWindow2::detect, camSettings, &CamSettings::detectDevices);
    connect(this, &MainWindow2::changeDeviceStateForClose, camSettings, &CamSettings::deviceClosed);
    connect(camSettings, &CamSettings::openCam, this, &MainWindow2::cameraChange);
    connect(camSettings, &CamSettings::closeCam, this, &MainWindow2::cameraClose);

    QVariant wheel;
    if (SettingsStore::instance().keyBindValue(0, wheel)) {
        bool ok = false;
        const int value = wheel.toInt(&ok);
        if (ok && kOfferedWheelFunctions.contains(value))
            wheelFunction = static_cast<KeyFunction>(value);
    }
    connect(titleBar(), &TitleBar::MousewheelFuncChanged, this, &MainWindow2::onChangeMouseWheelFunc);

    connect(this, &MainWindow2::increaseOrDecreaseFoucs, camSettings, &CamSettings::onIncreaseOrDecreaseFoucs);
    connect(this, &MainWindow2::increaseOrDecreaseZoom, camSettings, &CamSettings::onIncreaseOrDecreaseZoom);
    connect(liveView_, &VideoWidget::increaseOrDecreaseZoom, camSettings, &CamSettings::onIncreaseOrDecreaseZoom);

    connect(photoSettings, &PhotoSettings::changeDrawProp, this, &MainWindow2::DrawChange);

    drawProperties = SettingsStore::instance().loadDraw();
    measurePage->loadSettings();

    // A file that can't be written is told once for each cause, after the
    // change that met it, with every other file not stored; the program goes
    // on with the values in use and stores them when it can.
    SettingsStore::instance().setWriteFailureHandler([this](const SettingsWriteFailure &failure) {
        QTimer::singleShot(0, this, [failure] {
            QString text = tr("Settings could not be saved to %1 (%2). The values in use are kept and stored once "
                              "the file can be written again.")
                               .arg(failure.path, failure.cause);
            if (!failure.othersNotStored.isEmpty()) {
                QStringList others;
                for (auto other = failure.othersNotStored.cbegin(); other != failure.othersNotStored.cend(); ++other)
                    others << tr("%1 (%2)").arg(other.key(), other.value());
                text += QLatin1Char(' ') + tr("Not stored yet either: %1.").arg(others.join(QStringLiteral(", ")));
            }
            QMessageBox box(QMessageBox::Warning, tr("Warning"), text);
            box.addButton(tr("OK"), QMessageBox::AcceptRole);
            box.exec();
        });
    });

    pendingOpenTimer.setSingleShot(true);
    connect(&pendingOpenTimer, &QTimer::timeout, this, &MainWindow2::openPendingCamera);

    // Told once the window is up, so the messages come in front of it.
    QTimer::singleShot(0, this, [this, database] {
        if (database.state == SettingDatabaseStatus::NotCreated) {
            QMessageBox box(QMessageBox::Question, QString(), tr("Open Fail ?"));
            box.setInformativeText(database.detail + QLatin1Char('\n')
                                   + tr("Camera settings are not kept in this session."));
            box.addButton(tr("OK"), QMessageBox::AcceptRole);
            box.exec();
        }
        reportStoredFiles(database.state == SettingDatabaseStatus::NotCreated ? QString() : database.detail);
    });
}

MainWindow2::~MainWindow2()
{
    SettingsStore::instance().setWriteFailureHandler({});
    stopThreadsForShutdown();
    // Settings that could not be stored yet (another program's lock on
    // setting.db, a full disk) are written now or named in the log as lost.
    CameraDatabase::instance().storeKeptAtExit();
    SettingsStore::instance().storeKeptAtExit();
    delete ui;
    delete burstModeSettings;
    delete photoSettings;
}

void MainWindow2::stopThreadsForShutdown()
{
    detectTimer->stop();
    stopTimeLapse();
    pendingOpen.reset();

    // A recording is stopped before its capture thread: the recorder then
    // finishes its file on its own thread, which the program waits for at exit.
    if (playThread_ && playThread_->isRecording())
        playThread_->handRecord(2, QString());
    emit stopStitch();
    emit stopFusion();

    bool allStopped = true;
    QList<QSharedPointer<CameraPlayThread>> captureThreads = retiringThreads;
    if (playThread_)
        captureThreads.prepend(playThread_);
    for (const QSharedPointer<CameraPlayThread> &thread : captureThreads) {
        thread->setRunFlag(false);
        thread->quit();
    }
    for (const QSharedPointer<CameraPlayThread> &thread : captureThreads) {
        if (!waitStopped(thread.data(), kThreadStopWaitMs, "Capture thread")) {
            allStopped = false;
            // Deleting a running thread would abort the program: it is kept.
            new QSharedPointer<CameraPlayThread>(thread);
        }
    }
    retiringThreads.clear();
    playThread_.reset();
    camSettings->setPlayThread({});

    if (workThread_) {
        workThread_->quit();
        if (!waitStopped(workThread_.data(), kThreadStopWaitMs, "Work thread")) {
            allStopped = false;
            new QSharedPointer<QThread>(workThread_);
        }
        workThread_.reset();
    }

    camera_.reset();
    controlThread_->quit();
    if (waitStopped(controlThread_, kThreadStopWaitMs, "Control thread"))
        delete controlThread_;
    else
        allStopped = false;
    controlThread_ = nullptr;

    pollThread_->quit();
    if (waitStopped(pollThread_, kThreadStopWaitMs, "Device poll thread"))
        delete pollThread_;
    else
        allStopped = false;
    pollThread_ = nullptr;

    // Libraries go only when no thread of ours can still be inside them.
    if (allStopped) {
        releaseUsbCameraContext();
        shutdownDeviceSdk();
    }
}

void MainWindow2::registerMainMetaTypes()
{
    registerVideoFrameMetaType();
    registerCameraMetaTypes();
    registerSettingsMetaTypes();
    registerDrawTypeMetaType();
    registerDeviceMapMetaType();
}

void MainWindow2::connectPanelSignals()
{
    connect(measurePage, &MeasureWidget::signalEdgeEnable, this, &MainWindow2::slotEdgeEnable);
    connect(measurePage, &MeasureWidget::signalSetDrawMode, this, &MainWindow2::slotSetDrawMode);
    connect(measurePage, &MeasureWidget::signalExportData, this, &MainWindow2::slotExportData);
    connect(measurePage, &MeasureWidget::drawChange, this, &MainWindow2::DrawChange);
    connect(this, &MainWindow2::signalClearDrawType, measurePage, &MeasureWidget::slotClearDrawType);
    connect(labelPage, &LabelWidget::signalSetDrawMode, this, &MainWindow2::slotSetDrawMode);
    connect(labelPage, &LabelWidget::drawChange, this, &MainWindow2::DrawChange);
    connect(labelPage, &LabelWidget::signalEnableGridlines, this, &MainWindow2::slotEnableGridlines);
    connect(this, &MainWindow2::signalClearDrawType, labelPage, &LabelWidget::slotClearDrawType);
    connect(measurePage, &MeasureWidget::signalUnitChange, this, &MainWindow2::slotUnitChange);
    connect(measurePage, &MeasureWidget::calibrateChange, this, &MainWindow2::calibrateChange);
}

void MainWindow2::reportStoredFiles(const QString &database)
{
    QStringList lines;
    if (!database.isEmpty())
        lines << database;
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    const QFileInfo folderInfo(folder);
    if (!folderInfo.exists() ? !QDir().mkpath(folder) : !folderInfo.isWritable())
        lines << tr("The folder %1 cannot be written: settings changes are not kept.").arg(folder);
    for (const SettingsFileProblem &problem : SettingsStore::instance().unusableFiles())
        lines << tr("%1 is not used and stays as it is: %2").arg(problem.path, problem.reason);
    for (const IgnoredSettings &ignored : SettingsStore::instance().ignoredSettings()) {
        if (!ignored.keys.isEmpty())
            lines << tr("In %1 these values are out of range, their defaults are used instead: %2.")
                         .arg(ignored.path, ignored.keys.join(QStringLiteral(", ")));
        if (!ignored.calibrations.isEmpty())
            lines << tr("In %1 these calibrations have no usable length or scale and are not listed: %2.")
                         .arg(ignored.path, ignored.calibrations.join(QStringLiteral(", ")));
    }
    if (lines.isEmpty())
        return;
    for (const QString &line : qAsConst(lines))
        qWarning().noquote() << line;
    showMessage(QMessageBox::Warning, tr("Warning"), lines.join(QLatin1Char('\n')));
}

// ---------------------------------------------------------------- messages

void MainWindow2::showMessage(QMessageBox::Icon icon, const QString &title, const QString &text,
                              const QString &detail)
{
    // A shot's message comes once its wait is over: the spinning wait
    // dialog would stand beside the message until it was answered.
    if (snapshotInProgress)
        waitDialog->hide();
    QMessageBox box(icon, title, text);
    // A shot that failed would fail again at every interval: the series ends
    // with this one message.
    const QString ended = icon == QMessageBox::Warning && snapshotInProgress ? endTimeLapseForFailure() : QString();
    box.setInformativeText(detail.isEmpty() ? ended : detail);
    box.addButton(tr("OK"), QMessageBox::AcceptRole);
    box.exec();
}

void MainWindow2::warmMessageBoxes(int step)
{
    // A run's first message box loads its icons and lays out its style, some
    // 40 ms on the GUI thread; paid here in small steps while the live view
    // runs, no close or failure message has to wait for it.
    switch (step) {
    case 0:
        QMessageBox::standardIcon(QMessageBox::Information);
        QMessageBox::standardIcon(QMessageBox::Warning);
        break;
    case 1:
    case 2: {
        const int reason = step == 1 ? CloseDone : CloseDisconnected;
        QMessageBox box(step == 1 ? QMessageBox::Information : QMessageBox::Warning, cameraCloseReasonTitle(reason),
                        cameraCloseReasonText(reason));
        box.addButton(tr("OK"), QMessageBox::AcceptRole);
        box.ensurePolished();
        box.adjustSize();
        break;
    }
    default:
        return;
    }
    QTimer::singleShot(0, this, [this, step] { warmMessageBoxes(step + 1); });
}

bool MainWindow2::askYesNo(const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::Question, title, text);
    QPushButton *yes = box.addButton(tr("Yes"), QMessageBox::YesRole);
    box.addButton(tr("No"), QMessageBox::NoRole);
    box.exec();
    return box.clickedButton() == yes;
}

// ---------------------------------------------------------------- pages

void MainWindow2::on_device_tBtn_clicked()
{
    ui->stackedWidget->setCurrentWidget(camSettings);
}

void MainWindow2::on_capture_tBtn_clicked()
{
    ui->stackedWidget->setCurrentWidget(capturePage);
}

void MainWindow2::on_mesure_tBtn_clicked()
{
    ui->stackedWidget->setCurrentWidget(measurePage);
}

void MainWindow2::on_label_tBtn_clicked()
{
    ui->stackedWidget->setCurrentWidget(labelPage);
}

void MainWindow2::on_burstModeSettings_btn_clicked()
{
    burstModeSettings->exec();
}

void MainWindow2::on_photoSettings_btn_clicked()
{
    photoSettings->show();
}

// ---------------------------------------------------------------- tabs

QList<VideoWidget *> MainWindow2::views() const
{
    QList<VideoWidget *> result;
    for (int i = 0; i < ui->video_tabWidget->count(); ++i)
        if (auto *view = qobject_cast<VideoWidget *>(ui->video_tabWidget->widget(i)))
            result.append(view);
    return result;
}

VideoWidget *MainWindow2::currentView() const
{
    return qobject_cast<VideoWidget *>(ui->video_tabWidget->currentWidget());
}

bool MainWindow2::isPictureTab(QWidget *widget) const
{
    return widget && widget->property("Image").toBool();
}

void MainWindow2::attachVideoWidget(VideoWidget *view, QString title, bool existing)
{
    if (title.isEmpty()) {
        title = QStringLiteral("Tab%1*").arg(untitledTabs++);
        view->setModified(true);
    }
    disconnect(view, nullptr, this, nullptr);
    connect(view, &VideoWidget::caliOver, this, &MainWindow2::caliOver);
    connect(view, &VideoWidget::clearDrawType, this, &MainWindow2::clearDrawType);
    connect(view, &VideoWidget::ltextEdit, this, &MainWindow2::ltextEdit);
    connect(view, &VideoWidget::modified, this, &MainWindow2::modified);
    connect(view, &VideoWidget::changeProperty, this, &MainWindow2::drawPropertyChanged);
    connect(view, &VideoWidget::crossStatusChanged, this, &MainWindow2::crossStatusChanged);
    connect(view, &VideoWidget::wheelAdd, this, &MainWindow2::wheelChanged);
    connect(view, &VideoWidget::videoWidgetScaleChanged, this, &MainWindow2::changeVideoScaleValue);
    if (view == liveView_)
        connect(view, &VideoWidget::signalSetDrawMode, this, &MainWindow2::slotSetDrawMode);
    if (!existing) {
        view->setProperty("Image", true);
        ui->video_tabWidget->addTab(view, title);
        ui->video_tabWidget->setCurrentWidget(view);
    }
    view->setDrawProperties(drawProperties);
    view->setDrawMode(static_cast<DrawType>(drawType));
    view->setCalibration(viewCalibration(view));
    view->setUnit(unitCode);
}

void MainWindow2::modified(VideoWidget *view)
{
    if (!view || view->isLive())
        return;
    for (int i = 0; i < ui->video_tabWidget->count(); ++i)
        if (ui->video_tabWidget->widget(i) == view && !ui->video_tabWidget->tabText(i).endsWith(QLatin1Char('*')))
            ui->video_tabWidget->setTabText(i, ui->video_tabWidget->tabText(i) + QLatin1Char('*'));
}

void MainWindow2::on_video_tabWidget_currentChanged(int index)
{
    auto *view = qobject_cast<VideoWidget *>(ui->video_tabWidget->widget(index));
    if (!view)
        return;
    if (isPictureTab(view)) {
        const QPixmap picture = view->picture();
        if (!picture.isNull())
            view->fitScale(picture.width(), picture.height());
    } else {
        view->refitScale();
    }
}

void MainWindow2::on_video_tabWidget_tabCloseRequested(int index)
{
    if (index <= 0)
        return;
    auto *view = qobject_cast<VideoWidget *>(ui->video_tabWidget->widget(index));
    if (!view)
        return;
    if (view->isModified() && !askYesNo(tr("Notice"), tr("Do you want to exit without saving?")))
        return;
    if (view == fusionView) {
        fusionView = nullptr;
        emit stopFusion();
    } else if (view == stitchView) {
        emit stopStitch();
        stitchView = nullptr;
    }
    ui->video_tabWidget->removeTab(ui->video_tabWidget->indexOf(view));
    view->deleteLater();
}

// ---------------------------------------------------------------- layout

void MainWindow2::on_splitter_splitterMoved(int pos, int index)
{
    Q_UNUSED(index)
    splitterLeft = pos;
    for (VideoWidget *view : views())
        view->setFlowEnable(pos == 0);
}

void MainWindow2::resizeEvent(QResizeEvent *event)
{
    ui->splitter->setSizes({splitterLeft, width() - splitterLeft});
    FramelessMainWindow::resizeEvent(event);
}

void MainWindow2::closeEvent(QCloseEvent *event)
{
    QStringList unsaved;
    for (VideoWidget *view : views())
        if (isPictureTab(view) && view->isModified())
            unsaved << ui->video_tabWidget->tabText(ui->video_tabWidget->indexOf(view));
    if (!unsaved.isEmpty()) {
        QMessageBox box(QMessageBox::Question, tr("Notice"), tr("Do you want to exit without saving?"));
        box.setInformativeText(unsaved.join(QLatin1Char('\n')));
        QPushButton *yes = box.addButton(tr("Yes"), QMessageBox::YesRole);
        box.addButton(tr("No"), QMessageBox::NoRole);
        box.exec();
        if (box.clickedButton() != yes) {
            event->ignore();
            return;
        }
    }
    FramelessMainWindow::closeEvent(event);
    if (!event->isAccepted())
        return;
    // The program ends with its window: a box or tool window left open (the
    // modeless "Stop Recording" box, the photo settings) would keep it running.
    for (QWidget *other : QApplication::topLevelWidgets())
        if (other != this && other->isVisible())
            other->close();
}

void MainWindow2::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && ui->fullScreen_btn->isChecked())
        ui->fullScreen_btn->setChecked(false);
    FramelessMainWindow::keyPressEvent(event);
}

void MainWindow2::on_fullScreen_btn_toggled(bool on)
{
    VideoWidget::LayoutState state = liveView_->layoutState();
    if (on) {
        state.windowGeometry = geometry();
        const QScreen *screen = QGuiApplication::primaryScreen();
        const QSize size = screen ? screen->size() : this->size();
        setGeometry(0, 0, size.width(), size.height());
        liveView_->setLayoutState(state);
        ui->topSpacer->changeSize(0, 0, QSizePolicy::Fixed, QSizePolicy::Fixed);
    } else {
        setGeometry(state.windowGeometry);
        liveView_->setLayoutState(state);
        ui->splitter->setSizes({splitterLeft, width() - splitterLeft});
        ui->topSpacer->changeSize(20, 32, QSizePolicy::Fixed, QSizePolicy::Fixed);
    }
    ui->centralwidget->layout()->invalidate();
    for (QWidget *widget : {static_cast<QWidget *>(titleBar()), ui->leftMenu_wid, ui->topMenu_wid,
                            ui->bottomLeftMenu_wid, static_cast<QWidget *>(ui->video_tabWidget->tabBar()),
                            ui->widget_3, static_cast<QWidget *>(ui->stackedWidget)})
        widget->setVisible(!on);
    liveView_->setFullScreen(on);
}

// ---------------------------------------------------------------- language

void MainWindow2::slotLanguageChange(MyLanguage language)
{
    Q_UNUSED(language)
    // The form's texts are set anew; what the window shows of the camera stays.
    const QString title = windowTitle();
    const QString fps = ui->fps_label->text();
    const QString resolution = ui->resolution_label->text();
    const QString format = ui->format_label->text();
    ui->retranslateUi(this);
    setWindowTitle(title);
    ui->fps_label->setText(fps);
    ui->resolution_label->setText(resolution);
    ui->format_label->setText(format);
    camSettings->retranslate();
    capturePage->retranslate();
    measurePage->retranslate();
    labelPage->retranslate();
    photoSettings->retranslate();
    burstModeSettings->retranslate();
    for (VideoWidget *view : views())
        view->retranslateTable();
    showLiveTabTitle();
}

void MainWindow2::showLiveTabTitle()
{
    if (ui->video_tabWidget->count() == 0)
        return;
    const QString text = liveTabTitle.translated ? tr(liveTabTitle.text.toUtf8().constData()) : liveTabTitle.text;
    ui->video_tabWidget->setTabText(0, text);
}
