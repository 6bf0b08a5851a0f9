// The capture page on the virtual camera, wired to the camera settings panel
// the way the main window wires it: a stitch over the panning stage matches
// the sample seamlessly, a focus series over the relief fuses a picture that
// is sharp everywhere, the camera's automatic modes come back after a run
// (only those the run switched),
// and a camera pulled out ends the run with a message. The page is also
// looked at in English and Chinese (every text fits and is translated); with
// VORENTA_SHOT_DIR set the page and the results are saved there as pictures.
#include "capture_page.h"
#include "settings_ui_test_support.h"
#include "synthetic_frames.h"
#include "virtual_backend.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTranslator>
#include <opencv2/imgproc.hpp>

#include <memory>

namespace {

using Devices = QMap<QString, QPair<CameraType, QString>>;

Devices poll()
{
    return pollLikeTheMainWindow();
}

QString shotFolder()
{
    const QString folder = qEnvironmentVariable("VORENTA_SHOT_DIR");
    if (!folder.isEmpty())
        QDir().mkpath(folder);
    return folder;
}

cv::Mat matOf(const QPixmap &pixmap)
{
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_BGR888);
    return cv::Mat(image.height(), image.width(), CV_8UC3, const_cast<uchar *>(image.constBits()),
                   size_t(image.bytesPerLine()))
        .clone();
}

// The main window's result windows: the newest picture of each kind, and how
// many windows were asked for.
struct ResultWindows : public QObject
{
    void show(bool fusion, const QPixmap &pixmap, bool newWindow)
    {
        (fusion ? fusionWindows : stitchWindows) += newWindow ? 1 : 0;
        (fusion ? fusionPicture : stitchPicture) = pixmap;
        (fusion ? fusionPictures : stitchPictures) += 1;
    }

    QPixmap stitchPicture, fusionPicture;
    int stitchWindows = 0, fusionWindows = 0;
    int stitchPictures = 0, fusionPictures = 0;
};

// The main window's share: the panel's mode and focus controls, the result
// windows and the modes read back from the panel.
void wireLikeTheMainWindow(CapturePage &page, CamSettings &panel, ResultWindows &results)
{
    QObject::connect(&page, &CapturePage::changeFocusMode, &panel, &CamSettings::setFocusModeUI);
    QObject::connect(&page, &CapturePage::changeFocusValue, &panel, &CamSettings::setFocusValueUI);
    QObject::connect(&page, &CapturePage::changeExposureMode, &panel, &CamSettings::setExpModeUI);
    QObject::connect(&page, &CapturePage::changeWbMode, &panel, &CamSettings::setWbModeUI);
    QObject::connect(&page, &CapturePage::setModeForStitch, &panel, [&panel](bool start) {
        if (!start)
            return;
        panel.setFocusModeUI(FocusManual);
        panel.setExpModeUI(ExposureManual);
        panel.setWbModeUI(WbManual);
    });
    QObject::connect(&page, &CapturePage::showStitchDstPix, &results,
                     [&results](QPixmap pix, bool newWindow) { results.show(false, pix, newWindow); });
    QObject::connect(&page, &CapturePage::showFusionDstPix, &results,
                     [&results](QPixmap pix, bool newWindow) { results.show(true, pix, newWindow); });
    page.setCameraModesSource([&panel] {
        return CapturePage::CameraModes{panel.focusModeUI(), panel.expModeUI(), panel.wbModeUI()};
    });
}

class PageOnVirtualCamera : public VirtualCameraFixture
{
protected:
    void SetUp() override
    {
        VirtualCameraFixture::SetUp();
        work = QSharedPointer<QThread>::create();
        work->start();
        page = std::make_unique<CapturePage>();
        page->setWorkThread(work);
        results = std::make_unique<ResultWindows>();
        wireLikeTheMainWindow(*page, panel, *results);
    }
    void TearDown() override
    {
        page->onStopStitch();
        page->onStopFusion();
        for (QMessageBox *box : page->findChildren<QMessageBox *>())
            box->close();
        window.reset();
        page.reset();
        results.reset();
        work->quit();
        work->wait();
        QApplication::removeTranslator(&translator);
        VirtualCameraFixture::TearDown();
    }

    static int32_t handle() { return cam_find_context(usbcam::kVirtualCameraPath); }

    // The virtual camera opened at 1920x1080, the page on its capture thread
    // and its focus range, as the main window's bring-up does it.
    void bringUp()
    {
        window = std::make_unique<MainWindowStandIn>(panel);
        panel.detectDevices(poll());
        ASSERT_TRUE(window->camera);
        panel.findChild<QComboBox *>("previewRes_comboBox")->setCurrentText("1920x1080");
        ASSERT_EQ(window->thread->captureSettings().width, 1920);
        page->connectToPlayThread(window->thread.data());
        page->setTabsEnabled(window->params->panelPageFlag, window->params->mainToolsFlag);
        page->setFocusRange(window->params->focus.minimum, window->params->focus.maximum);
        ASSERT_TRUE(waitFor([&] { return window->thread->receivedFrameCount() > 3; }, 10000));
    }
    void useChinese()
    {
        ASSERT_TRUE(translator.load(QStringLiteral(":/Language/language_cn.qm")));
        QApplication::installTranslator(&translator);
        page->retranslate();
        panel.retranslate();
    }
    template <typename Widget>
    Widget *find(const char *name)
    {
        auto *widget = page->findChild<Widget *>(QString::fromLatin1(name));
        EXPECT_TRUE(widget) << name;
        return widget;
    }
    QStringList messages() const
    {
        QStringList texts;
        for (QMessageBox *box : page->findChildren<QMessageBox *>())
            if (box->isVisible())
                texts << box->text();
        return texts;
    }
    QPoint stitchOffset()
    {
        QPoint offset;
        QMetaObject::invokeMethod(
            &page->stitchWorker(), [&] { offset = page->stitchWorker().offset(); }, Qt::BlockingQueuedConnection);
        return offset;
    }

    // A stitch over the panning stage, stopped after `pictures` results;
    // `beforeStop` runs while the run still has the camera.
    void stitchOnThePan(int pictures, const std::function<void()> &beforeStop = {})
    {
        page->setCurrentIndex(0);
        find<QPushButton>("startStitching_btn")->click();
        ASSERT_TRUE(waitFor([&] { return results->stitchPictures >= pictures; }, 90000));
        lastOffset = stitchOffset();
        if (beforeStop)
            beforeStop();
        find<QPushButton>("stopStitching_btn")->click();
    }
    // A focus series over the relief, 40 to 360 in steps of 40.
    void focusSeriesOnTheRelief()
    {
        page->setCurrentIndex(1);
        find<QSpinBox>("fusionEndPos_spinBox")->setValue(360);
        find<QSpinBox>("fusionStartPos_spinBox")->setValue(40);
        find<QSpinBox>("capInterval_spinBox")->setValue(40);
        find<QSpinBox>("waitInterval_spinBox")->setValue(150);
        // The range ends were shown in manual focus; the series starts from autofocus.
        panel.setFocusModeUI(FocusAuto);
        QSignalSpy stopped(page.get(), &CapturePage::stopFusion);
        find<QPushButton>("startFusion_btn")->click();
        ASSERT_TRUE(waitFor([&] { return stopped.count() == 1; }, 180000));
    }

    CamSettings panel;
    std::unique_ptr<MainWindowStandIn> window;
    QSharedPointer<QThread> work;
    std::unique_ptr<CapturePage> page;
    std::unique_ptr<ResultWindows> results;
    QTranslator translator;
    QPoint lastOffset;
};

}  // namespace

TEST_F(PageOnVirtualCamera, StitchOverThePanMatchesTheSampleSeamlessly)
{
    usbcam::setVirtualStage(usbcam::VirtualStage{8, 3, false});
    bringUp();
    const CapturePage::CameraModes before{panel.focusModeUI(), panel.expModeUI(), panel.wbModeUI()};
    ASSERT_EQ(before.exposure, ExposureAuto);

    // The sample as the camera sees it during the run (manual modes), from
    // the stage's start on, over more than one period of its texture.
    constexpr int kPeriod = 2048;
    cv::Mat sample;
    stitchOnThePan(12, [&] {
        usbcam::I420Frame planes;
        const int width = kPeriod + 2 * 1920 + 1280, height = kPeriod + 2 * 1080 + 720;
        usbcam::renderVirtualFrame(planes, width, height, 0.0, 0);
        sample = videoFrameToMat(makeVideoFrameFromPlanes(width, height, planes.y(), width, planes.u(), width / 2,
                                                          planes.v(), width / 2));
    });
    EXPECT_EQ(results->stitchWindows, 1);
    const cv::Mat canvas = matOf(results->stitchPicture);
    const int frameWidth = 1920, frameHeight = 1080 - 2 * stitching::kCutRows;
    // The stage moves right and down: the first frame stayed where it was
    // placed, the last one lies (8, 3) pixels per frame further.
    const QPoint moved = lastOffset - QPoint(frameWidth / 2, frameHeight / 2);
    EXPECT_GT(moved.x(), 80);
    EXPECT_NEAR(moved.y(), moved.x() * 3.0 / 8.0, 3.0);
    ASSERT_LE(canvas.cols, sample.cols - kPeriod);
    ASSERT_LE(canvas.rows, sample.rows - kPeriod);

    // The canvas holds the sample without a seam or a doubled edge.
    cv::Mat sampleGrey, canvasGrey, scores;
    cv::cvtColor(sample, sampleGrey, cv::COLOR_BGR2GRAY);
    cv::cvtColor(canvas, canvasGrey, cv::COLOR_BGR2GRAY);
    const cv::Rect patch(frameWidth / 2 + 200, frameHeight / 2 + 200, 256, 256);
    cv::matchTemplate(sampleGrey, canvasGrey(patch), scores, cv::TM_CCOEFF_NORMED);
    double best = 0;
    cv::Point at;
    cv::minMaxLoc(scores, nullptr, &best, nullptr, &at);
    ASSERT_GT(best, 0.9);
    // The canvas origin on the sample (which repeats every period).
    const cv::Point origin(((at.x - patch.x) % kPeriod + kPeriod) % kPeriod,
                           ((at.y - patch.y) % kPeriod + kPeriod) % kPeriod);
    cv::Mat covered = cv::Mat::zeros(canvas.size(), CV_8U);
    cv::Mat difference = cv::Mat::zeros(canvas.size(), CV_8U);
    for (int row = 0; row < canvas.rows; ++row) {
        for (int column = 0; column < canvas.cols; ++column) {
            const cv::Vec3b pixel = canvas.at<cv::Vec3b>(row, column);
            if (pixel == cv::Vec3b(0, 0, 0))
                continue;
            covered.at<uchar>(row, column) = 255;
            difference.at<uchar>(row, column) = uchar(std::abs(int(canvasGrey.at<uchar>(row, column))
                                                               - int(sampleGrey.at<uchar>(origin.y + row, origin.x + column))));
        }
    }
    const double coveredPixels = cv::countNonZero(covered);
    ASSERT_GT(coveredPixels, double(frameWidth) * frameHeight);
    const double meanDifference = cv::sum(difference)[0] / coveredPixels;
    cv::Mat large;
    cv::threshold(difference, large, 24, 255, cv::THRESH_BINARY);
    EXPECT_LT(meanDifference, 4.0);
    EXPECT_LT(cv::countNonZero(large) / coveredPixels, 0.01);

    // Automatic exposure and white balance are back.
    EXPECT_EQ(panel.expModeUI(), before.exposure);
    EXPECT_EQ(panel.wbModeUI(), before.whiteBalance);
    EXPECT_EQ(panel.focusModeUI(), before.focus);
    EXPECT_TRUE(waitFor([] { return cam_get_exposure_mode(handle()) == 1; }));
    if (!shotFolder().isEmpty())
        results->stitchPicture.save(shotFolder() + "/stitch-result.png");
}

TEST_F(PageOnVirtualCamera, FocusSeriesOverTheReliefFusesSharpEverywhere)
{
    usbcam::setVirtualStage(usbcam::VirtualStage{0, 0, true});
    bringUp();
    ASSERT_EQ(panel.focusModeUI(), FocusAuto);
    // The frames the workers get, to compare with the fused picture.
    std::vector<cv::Mat> frames;
    QObject::connect(window->thread.data(), &CameraPlayThread::sendVideoFrame, page.get(),
                     [&](VideoFrame frame) { frames.push_back(videoFrameToMat(frame)); });

    focusSeriesOnTheRelief();
    EXPECT_EQ(messages(), QStringList({"Compound complete"}));
    EXPECT_EQ(frames.size(), 9u);
    EXPECT_EQ(results->fusionWindows, 1);
    ASSERT_FALSE(results->fusionPicture.isNull());
    // Automatic focus is back.
    EXPECT_EQ(panel.focusModeUI(), FocusAuto);
    EXPECT_TRUE(waitFor([] { return cam_get_focus_mode(handle()) == 1; }));

    // The relief seen sharp everywhere: the flat sample at focus 200, where
    // the still relief lies.
    usbcam::setVirtualStage(usbcam::VirtualStage{});
    cam_set_focus_mode(handle(), 0);
    cam_set_focus(handle(), 200);
    usbcam::I420Frame planes;
    usbcam::renderVirtualFrame(planes, 1920, 1080, 0.0, 0);
    const cv::Mat sharp = videoFrameToMat(
        makeVideoFrameFromPlanes(1920, 1080, planes.y(), 1920, planes.u(), 960, planes.v(), 960));
    const cv::Mat fused = matOf(results->fusionPicture);
    ASSERT_EQ(fused.size(), sharp.size());
    double bestFrame = 0;
    for (const cv::Mat &frame : frames)
        bestFrame = std::max(bestFrame, cv::PSNR(frame, sharp));
    const double fusedPsnr = cv::PSNR(fused, sharp);
    EXPECT_GT(fusedPsnr, bestFrame + 4.0) << "fused " << fusedPsnr << " dB, best frame " << bestFrame << " dB";
    if (!shotFolder().isEmpty())
        results->fusionPicture.save(shotFolder() + "/fusion-result.png");
}

TEST_F(PageOnVirtualCamera, RunPutsBackOnlyTheModesItFoundAtItsStart)
{
    usbcam::setVirtualStage(usbcam::VirtualStage{8, 3, false});
    bringUp();
    ASSERT_EQ(panel.focusModeUI(), FocusAuto);
    // Moving an end of the focus range shows that focus, in manual focus.
    page->setCurrentIndex(1);
    find<QSlider>("fusionEndPos_horizontalSlider")->setValue(120);
    EXPECT_EQ(panel.focusModeUI(), FocusManual);
    EXPECT_TRUE(waitFor([] { return cam_get_focus_mode(handle()) == 0 && cam_get_focus(handle()) == 120; }));
    // The stitching run that follows found manual focus and automatic
    // exposure: only the exposure and white balance come back.
    stitchOnThePan(2);
    EXPECT_EQ(panel.focusModeUI(), FocusManual);
    EXPECT_EQ(panel.expModeUI(), ExposureAuto);
    EXPECT_EQ(panel.wbModeUI(), WbAuto);
    EXPECT_TRUE(waitFor([] { return cam_get_exposure_mode(handle()) == 1; }));
    EXPECT_EQ(cam_get_focus_mode(handle()), 0);
}

TEST_F(PageOnVirtualCamera, CameraPulledOutEndsTheRunWithAMessage)
{
    usbcam::setVirtualStage(usbcam::VirtualStage{8, 3, false});
    bringUp();
    find<QPushButton>("startStitching_btn")->click();
    ASSERT_TRUE(waitFor([&] { return results->stitchPictures >= 2; }, 30000));
    usbcam::setVirtualCameraPresent(false);
    ASSERT_TRUE(waitFor([&] { return !page->isStitching(); }, 30000));
    EXPECT_EQ(messages(), QStringList({"The camera stopped delivering pictures. Stitching has stopped."}));
    EXPECT_TRUE(find<QPushButton>("startStitching_btn")->isEnabled());
    EXPECT_EQ(panel.expModeUI(), ExposureAuto);
}

TEST_F(PageOnVirtualCamera, EveryTextFitsInEnglishAndChinese)
{
    for (const QString language : {"en", "cn"}) {
        if (language == "cn")
            useChinese();
        applyStyleSheet(*page);
        page->resize(338, 447);
        page->show();
        for (int tab = 0; tab < page->count(); ++tab) {
            page->setCurrentIndex(tab);
            QApplication::processEvents();
            EXPECT_EQ(clippedTexts(*page), QStringList()) << language.toStdString() << " tab " << tab;
            if (!shotFolder().isEmpty())
                page->grab().save(QStringLiteral("%1/page-%2-tab%3.png").arg(shotFolder(), language).arg(tab));
        }
    }
    const QString english = QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ");
    for (QWidget *widget : page->findChildren<QWidget *>()) {
        QString text;
        if (auto *label = qobject_cast<QLabel *>(widget))
            text = label->text();
        else if (auto *button = qobject_cast<QAbstractButton *>(widget))
            text = button->text();
        // "EDF" and "(ms)" may stay as they are.
        text.remove(QStringLiteral("(ms)"));
        if (std::any_of(text.begin(), text.end(), [&](QChar c) { return english.contains(c); }))
            ADD_FAILURE() << "untranslated: " << widget->objectName().toStdString() << " " << text.toStdString();
    }
    EXPECT_EQ(page->tabText(0), QString::fromUtf8("拼接"));
    EXPECT_EQ(page->tabText(1), QString::fromUtf8("景深合成"));
}
