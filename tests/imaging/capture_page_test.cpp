// The capture page's runs against a stand-in for the capture thread that
// answers every frame request from a thread of its own with a frame of a
// synthetic pan: start, start pause, one frame in flight, stop, the focus
// series' positions and pace, completion, a camera that stops delivering,
// another camera, and one run at a time.
#include "capture_page.h"
#include "camera_play_thread.h"
#include "synthetic_frames.h"
#include "test_support.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QTranslator>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>

namespace {

constexpr int kFrameWidth = 320;
constexpr int kFrameHeight = 240;

const cv::Mat &samplePicture()
{
    static const cv::Mat picture = texturedPicture(1600, 1200, 11);
    return picture;
}

// Frame n of a pan of (16, 10) pixels per frame over the sample.
VideoFrame panFrame(int n)
{
    const cv::Point at(40 + 16 * (n % 60), 40 + 10 * (n % 60));
    return frameFrom(samplePicture()(cv::Rect(at, cv::Size(kFrameWidth, kFrameHeight))));
}

// Stands in for the capture thread: every request is answered, on this
// object's thread, by one frame sent through the real capture thread's
// signal, as the capture loop does.
class FrameSource : public QObject
{
public:
    FrameSource(CameraPlayThread &capture) : capture_(capture) {}

    void onRequest()
    {
        // Every frame sent before has been handled: its worker asked for the next.
        backlog = std::max(backlog.load(), sent.load() - replies.load());
        ++requests;
        if (!answering.load()) {
            ++owed;
            return;
        }
        emit capture_.sendVideoFrame(frames ? frames(sent.load()) : panFrame(sent.load()));
        ++sent;
    }

    // Sends the frames asked for while not answering.
    void payOwed(const VideoFrame &frame)
    {
        for (; owed.load() > 0; --owed) {
            emit capture_.sendVideoFrame(frame);
            ++sent;
        }
    }

    std::function<VideoFrame(int)> frames;  // set before the run
    std::atomic<bool> answering{true};
    std::atomic<int> requests{0};
    std::atomic<int> owed{0};
    std::atomic<int> sent{0};
    std::atomic<int> replies{0};  // the workers' requests for a next frame, counted as they make them
    std::atomic<int> backlog{0};

private:
    CameraPlayThread &capture_;
};

class CapturePageRun : public ::testing::Test
{
protected:
    void SetUp() override
    {
        work = QSharedPointer<QThread>::create();
        work->start();
        sourceThread.start();
        page = std::make_unique<CapturePage>();
        page->setStartPause(60);
        page->setWorkThread(work);
        page->connectToPlayThread(&capture);
        source = std::make_unique<FrameSource>(capture);
        source->moveToThread(&sourceThread);
        QObject::connect(page.get(), &CapturePage::getVideoFrame, source.get(), [this] { source->onRequest(); });
        // Only requests made on the work thread are the workers' own: those a
        // test emits itself stand for late ones and answer no frame.
        const auto countReply = [this] {
            if (QThread::currentThread() == work.data())
                ++source->replies;
        };
        QObject::connect(&page->stitchWorker(), &PictureStitch::getNextVideoFrame, source.get(), countReply,
                         Qt::DirectConnection);
        QObject::connect(&page->fusionWorker(), &PicAnalyse::getNextVideoFrame, source.get(), countReply,
                         Qt::DirectConnection);
        page->show();
    }
    void TearDown() override
    {
        for (QMessageBox *box : page->findChildren<QMessageBox *>())
            box->close();
        page.reset();
        work->quit();
        work->wait();
        sourceThread.quit();
        sourceThread.wait();
    }

    template <typename Widget>
    Widget *find(const char *name)
    {
        auto *widget = page->findChild<Widget *>(QString::fromLatin1(name));
        EXPECT_TRUE(widget) << name;
        return widget;
    }
    QPushButton *button(const char *name) { return find<QPushButton>(name); }
    QSlider *slider(const char *name) { return find<QSlider>(name); }
    QSpinBox *spinBox(const char *name) { return find<QSpinBox>(name); }
    QLineEdit *lineEdit(const char *name) { return find<QLineEdit>(name); }

    // Texts of the message boxes the page has open.
    QStringList messages() const
    {
        QStringList texts;
        for (QMessageBox *box : page->findChildren<QMessageBox *>())
            if (box->isVisible())
                texts << box->windowTitle() + ": " + box->text();
        return texts;
    }
    bool workerRunning(QObject &worker, std::function<bool()> running)
    {
        bool result = false;
        QMetaObject::invokeMethod(&worker, [&] { result = running(); }, Qt::BlockingQueuedConnection);
        return result;
    }
    // Start 10, end 1 (the start moved last), interval 4.
    void prepareSeries(int start, int end, int interval, bool endLast)
    {
        page->setFocusRange(1, 400);
        if (endLast) {
            slider("fusionStartPos_horizontalSlider")->setValue(start);
            slider("fusionEndPos_horizontalSlider")->setValue(end);
        } else {
            slider("fusionEndPos_horizontalSlider")->setValue(end);
            slider("fusionStartPos_horizontalSlider")->setValue(start);
        }
        spinBox("capInterval_spinBox")->setValue(interval);
        spinBox("waitInterval_spinBox")->setValue(50);
    }

    QSharedPointer<QThread> work;
    QThread sourceThread;
    CameraPlayThread capture;  // never started: the frames come from `source`
    std::unique_ptr<CapturePage> page;
    std::unique_ptr<FrameSource> source;
};

std::vector<int> intsOf(const QSignalSpy &spy)
{
    std::vector<int> values;
    for (const QList<QVariant> &call : spy)
        values.push_back(call.at(0).toInt());
    return values;
}

}  // namespace

TEST_F(CapturePageRun, StitchingTakesOneFrameAtATimeUntilStopped)
{
    QSignalSpy modes(page.get(), &CapturePage::setModeForStitch);
    QSignalSpy started(page.get(), &CapturePage::startStitch);
    QSignalSpy stopped(page.get(), &CapturePage::stopStitch);
    QSignalSpy pictures(page.get(), &CapturePage::showStitchDstPix);
    bool pixmapsOnGuiThread = true;
    QObject::connect(
        page.get(), &CapturePage::showStitchDstPix, page.get(),
        [&](QPixmap, bool) { pixmapsOnGuiThread &= QThread::currentThread() == QApplication::instance()->thread(); },
        Qt::DirectConnection);

    button("startStitching_btn")->click();
    EXPECT_FALSE(button("startStitching_btn")->isEnabled());
    EXPECT_TRUE(button("stopStitching_btn")->isEnabled());
    EXPECT_FALSE(button("startFusion_btn")->isEnabled());
    ASSERT_EQ(modes.count(), 1);
    EXPECT_TRUE(modes.at(0).at(0).toBool());
    // Nothing before the start pause is over.
    EXPECT_EQ(started.count(), 0);
    EXPECT_EQ(source->requests.load(), 0);

    ASSERT_TRUE(waitFor([&] { return source->sent.load() >= 16 && pictures.count() >= 14; }, 20000));
    EXPECT_EQ(started.count(), 1);
    EXPECT_EQ(source->backlog.load(), 0) << "a frame was asked for before the last one was handled";
    EXPECT_TRUE(pictures.at(0).at(1).toBool());
    for (int i = 1; i < pictures.count(); ++i)
        EXPECT_FALSE(pictures.at(i).at(1).toBool()) << i;
    EXPECT_TRUE(pixmapsOnGuiThread);
    // The canvas grows with the pan.
    const QPixmap last = pictures.last().at(0).value<QPixmap>();
    EXPECT_GT(last.width(), 2 * kFrameWidth);

    button("stopStitching_btn")->click();
    EXPECT_EQ(stopped.count(), 1);
    EXPECT_TRUE(button("startStitching_btn")->isEnabled());
    EXPECT_FALSE(button("stopStitching_btn")->isEnabled());
    EXPECT_TRUE(button("startFusion_btn")->isEnabled());
    const int requests = source->requests.load();
    QTest::qWait(300);
    EXPECT_LE(source->requests.load(), requests);
    EXPECT_FALSE(workerRunning(page->stitchWorker(), [&] { return page->stitchWorker().isRunning(); }));
    EXPECT_EQ(messages(), QStringList());
    // Never switched back by a signal: the modes come back through their own.
    EXPECT_EQ(modes.count(), 1);
}

TEST_F(CapturePageRun, StopDuringTheStartPauseReallyStops)
{
    page->setStartPause(400);
    QSignalSpy started(page.get(), &CapturePage::startStitch);
    button("startStitching_btn")->click();
    QTest::qWait(50);
    button("stopStitching_btn")->click();
    QTest::qWait(800);
    EXPECT_EQ(started.count(), 0);
    EXPECT_EQ(source->requests.load(), 0);
    EXPECT_FALSE(page->isStitching());
    EXPECT_TRUE(button("startStitching_btn")->isEnabled());
    EXPECT_FALSE(workerRunning(page->stitchWorker(), [&] { return page->stitchWorker().isRunning(); }));

    // The same during a focus series' settling.
    prepareSeries(10, 30, 10, false);
    QSignalSpy fusionStopped(page.get(), &CapturePage::stopFusion);
    QSignalSpy focus(page.get(), &CapturePage::changeFocusValue);
    button("startFusion_btn")->click();
    QTest::qWait(50);
    button("startFusion_btn")->click();  // "End"
    QTest::qWait(1000);
    EXPECT_EQ(fusionStopped.count(), 1);
    EXPECT_EQ(focus.count(), 0);
    EXPECT_EQ(source->requests.load(), 0);
    EXPECT_EQ(messages(), QStringList());
}

TEST_F(CapturePageRun, OneRunAtATimeAcrossBothTabs)
{
    QSignalSpy fusionStarted(page.get(), &CapturePage::startFusion);
    QSignalSpy stitchStarted(page.get(), &CapturePage::startStitch);
    button("startStitching_btn")->click();
    EXPECT_FALSE(button("startFusion_btn")->isEnabled());
    page->on_startFusion_btn_clicked();
    EXPECT_EQ(fusionStarted.count(), 0);
    EXPECT_FALSE(page->isFusing());
    ASSERT_TRUE(waitFor([&] { return source->sent.load() >= 2; }, 10000));
    page->onStopStitch();

    prepareSeries(1, 300, 1, false);
    button("startFusion_btn")->click();
    EXPECT_TRUE(page->isFusing());
    EXPECT_FALSE(button("startStitching_btn")->isEnabled());
    stitchStarted.clear();
    page->on_startStitching_btn_clicked();
    QTest::qWait(200);
    EXPECT_EQ(stitchStarted.count(), 0);
    EXPECT_FALSE(page->isStitching());
    page->onStopFusion();
    EXPECT_FALSE(page->isFusing());
    EXPECT_TRUE(button("startStitching_btn")->isEnabled());
}

TEST_F(CapturePageRun, FocusSeriesStepsToItsEndAndNeverPastIt)
{
    prepareSeries(10, 1, 4, false);
    EXPECT_EQ(lineEdit("capNum_lineEdit")->text(), "4");
    QSignalSpy focus(page.get(), &CapturePage::changeFocusValue);
    QSignalSpy focusMode(page.get(), &CapturePage::changeFocusMode);
    QSignalSpy pictures(page.get(), &CapturePage::showFusionDstPix);
    QSignalSpy stopped(page.get(), &CapturePage::stopFusion);
    QStringList progress;  // "Current Progress" as each frame is asked for: the frames taken so far
    QObject::connect(page.get(), &CapturePage::getVideoFrame, page.get(),
                     [&] { progress << lineEdit("fusionProgress_lineEdit")->text(); });

    button("startFusion_btn")->click();
    EXPECT_EQ(button("startFusion_btn")->text(), "End");
    for (const char *input : {"fusionStartPos_horizontalSlider", "fusionEndPos_horizontalSlider",
                              "capInterval_spinBox", "waitInterval_spinBox", "fusionRest_btn"})
        EXPECT_FALSE(find<QWidget>(input)->isEnabled()) << input;
    ASSERT_EQ(intsOf(focusMode), std::vector<int>({FocusManual}));

    ASSERT_TRUE(waitFor([&] { return stopped.count() == 1; }, 20000));
    EXPECT_EQ(intsOf(focus), std::vector<int>({10, 6, 2, 1}));
    EXPECT_EQ(progress, QStringList({"0", "1", "2", "3"}));
    EXPECT_EQ(source->sent.load(), 4);
    EXPECT_EQ(source->backlog.load(), 0);
    EXPECT_EQ(messages(), QStringList({"Info: Compound complete"}));
    EXPECT_EQ(button("startFusion_btn")->text(), "Start");
    EXPECT_TRUE(find<QWidget>("fusionStartPos_horizontalSlider")->isEnabled());
    ASSERT_GE(pictures.count(), 1);
    EXPECT_TRUE(pictures.at(0).at(1).toBool());
    for (int i = 1; i < pictures.count(); ++i)
        EXPECT_FALSE(pictures.at(i).at(1).toBool());
    EXPECT_FALSE(workerRunning(page->fusionWorker(), [&] { return page->fusionWorker().isRunning(); }));
}

TEST_F(CapturePageRun, FramesAreAskedForAtTheChosenPace)
{
    // When each frame was asked for, and when each focus move came, in
    // nanoseconds of the monotonic clock the page's timers run on. A pause
    // never ends early; a loaded machine only makes it longer.
    QElapsedTimer clock;
    clock.start();
    std::vector<qint64> requests, moves;
    QObject::connect(page.get(), &CapturePage::getVideoFrame, page.get(),
                     [&] { requests.push_back(clock.nsecsElapsed()); });
    QObject::connect(page.get(), &CapturePage::changeFocusValue, page.get(),
                     [&] { moves.push_back(clock.nsecsElapsed()); });
    const auto atLeast = [](int milliseconds) { return qint64(milliseconds) * 1000000; };

    slider("stitchSpeed_horizontalSlider")->setValue(400);
    button("startStitching_btn")->click();
    ASSERT_TRUE(waitFor([&] { return requests.size() >= 4; }, 20000));
    page->onStopStitch();
    for (size_t i = 1; i < requests.size(); ++i)
        EXPECT_GE(requests[i] - requests[i - 1], atLeast(400)) << "stitched frame " << i;

    prepareSeries(1, 10, 3, false);
    spinBox("waitInterval_spinBox")->setValue(400);
    QSignalSpy stopped(page.get(), &CapturePage::stopFusion);
    requests.clear();
    moves.clear();
    button("startFusion_btn")->click();
    ASSERT_TRUE(waitFor([&] { return stopped.count() == 1; }, 20000));
    ASSERT_EQ(requests.size(), 4u);
    ASSERT_EQ(moves.size(), 4u);
    // Each frame after the first waits for the focus move before it.
    for (size_t i = 1; i < requests.size(); ++i)
        EXPECT_GE(requests[i] - moves[i], atLeast(400)) << "focus series frame " << i;
}

TEST_F(CapturePageRun, SeriesStartsAtTheEndMovedLast)
{
    prepareSeries(1, 10, 3, true);
    EXPECT_EQ(lineEdit("capNum_lineEdit")->text(), "4");
    QSignalSpy focus(page.get(), &CapturePage::changeFocusValue);
    QSignalSpy stopped(page.get(), &CapturePage::stopFusion);
    button("startFusion_btn")->click();
    ASSERT_TRUE(waitFor([&] { return stopped.count() == 1; }, 20000));
    EXPECT_EQ(intsOf(focus), std::vector<int>({10, 7, 4, 1}));
}

TEST_F(CapturePageRun, SeriesOfOnePositionTakesOneFrame)
{
    prepareSeries(25, 25, 2, false);
    EXPECT_EQ(lineEdit("capNum_lineEdit")->text(), "1");
    QSignalSpy stopped(page.get(), &CapturePage::stopFusion);
    button("startFusion_btn")->click();
    ASSERT_TRUE(waitFor([&] { return stopped.count() == 1; }, 20000));
    EXPECT_EQ(source->sent.load(), 1);
    EXPECT_EQ(messages(), QStringList({"Info: Compound complete"}));
}

TEST_F(CapturePageRun, EndPressedDuringASeriesStopsWithoutCompoundComplete)
{
    prepareSeries(1, 300, 1, false);
    QSignalSpy stopped(page.get(), &CapturePage::stopFusion);
    button("startFusion_btn")->click();
    ASSERT_TRUE(waitFor([&] { return source->sent.load() >= 3; }, 20000));
    button("startFusion_btn")->click();
    EXPECT_EQ(stopped.count(), 1);
    EXPECT_FALSE(page->isFusing());
    EXPECT_EQ(lineEdit("fusionProgress_lineEdit")->text(), "0");
    const int requests = source->requests.load();
    QTest::qWait(400);
    EXPECT_EQ(source->requests.load(), requests);
    EXPECT_EQ(messages(), QStringList());

    // The main window's stop does the same.
    button("startFusion_btn")->click();
    ASSERT_TRUE(waitFor([&] { return source->sent.load() >= requests + 2; }, 20000));
    page->onStopFusion();
    EXPECT_EQ(stopped.count(), 2);
    EXPECT_EQ(messages(), QStringList());
}

TEST_F(CapturePageRun, CameraThatStopsDeliveringEndsTheRunWithAMessage)
{
    page->setFrameTimeout(300);
    QSignalSpy stopped(page.get(), &CapturePage::stopStitch);
    button("startStitching_btn")->click();
    ASSERT_TRUE(waitFor([&] { return source->sent.load() >= 3; }, 10000));
    source->answering = false;
    ASSERT_TRUE(waitFor([&] { return !page->isStitching(); }, 5000));
    EXPECT_EQ(stopped.count(), 1);
    EXPECT_EQ(messages(),
              QStringList({"Warning: The camera stopped delivering pictures. Stitching has stopped."}));
    EXPECT_TRUE(button("startStitching_btn")->isEnabled());

    // A series waits for the frame the camera still owes, and gives up the same way.
    for (QMessageBox *box : page->findChildren<QMessageBox *>())
        box->close();
    prepareSeries(1, 9, 4, false);
    QSignalSpy fusionStopped(page.get(), &CapturePage::stopFusion);
    button("startFusion_btn")->click();
    ASSERT_TRUE(waitFor([&] { return !page->isFusing(); }, 5000));
    EXPECT_EQ(fusionStopped.count(), 1);
    EXPECT_EQ(messages(),
              QStringList({"Warning: The camera stopped delivering pictures. The focus series has stopped."}));
}

TEST_F(CapturePageRun, FrameOwedByAnEarlierRunNeverStartsTheNext)
{
    button("startStitching_btn")->click();
    ASSERT_TRUE(waitFor([&] { return source->sent.load() >= 2; }, 10000));
    source->answering = false;
    ASSERT_TRUE(waitFor([&] { return source->owed.load() == 1; }, 10000));
    page->onStopStitch();

    // The series waits for the frame the camera still owes before its worker starts.
    prepareSeries(1, 5, 2, false);
    QSignalSpy started(page.get(), &CapturePage::startFusion);
    QSignalSpy pictures(page.get(), &CapturePage::showFusionDstPix);
    QSignalSpy stopped(page.get(), &CapturePage::stopFusion);
    source->answering = true;
    button("startFusion_btn")->click();
    QTest::qWait(400);
    EXPECT_EQ(started.count(), 0);
    EXPECT_EQ(source->requests.load(), source->sent.load() + 1);
    // It comes late, red all over: the stopped workers drop it.
    const VideoFrame red = frameFrom(cv::Mat(kFrameHeight, kFrameWidth, CV_8UC3, cv::Scalar(0, 0, 255)));
    QMetaObject::invokeMethod(source.get(), [&] { source->payOwed(red); }, Qt::BlockingQueuedConnection);
    ASSERT_TRUE(waitFor([&] { return stopped.count() == 1; }, 20000));
    EXPECT_EQ(started.count(), 1);
    ASSERT_GE(pictures.count(), 1);
    for (const QList<QVariant> &picture : pictures) {
        const QColor centre = picture.at(0).value<QPixmap>().toImage().pixelColor(kFrameWidth / 2, kFrameHeight / 2);
        EXPECT_FALSE(centre.red() > 200 && centre.green() < 60 && centre.blue() < 60) << centre.name().toStdString();
    }
    EXPECT_EQ(messages(), QStringList({"Info: Compound complete"}));
}

TEST_F(CapturePageRun, AnotherCameraEndsTheRun)
{
    page->setCameraModesSource([] { return CapturePage::CameraModes{FocusAuto, ExposureAuto, WbAuto}; });
    QSignalSpy focusMode(page.get(), &CapturePage::changeFocusMode);
    QSignalSpy exposureMode(page.get(), &CapturePage::changeExposureMode);
    button("startStitching_btn")->click();
    ASSERT_TRUE(waitFor([&] { return source->sent.load() >= 2; }, 10000));
    CameraPlayThread other;
    page->connectToPlayThread(&other);
    EXPECT_FALSE(page->isStitching());
    EXPECT_EQ(messages(),
              QStringList({"Warning: The camera stopped delivering pictures. Stitching has stopped."}));
    // The first camera's modes are not put on the other one.
    EXPECT_EQ(focusMode.count() + exposureMode.count(), 0);
    // A null thread changes nothing.
    page->connectToPlayThread(nullptr);
    page->connectToPlayThread(&capture);
}

TEST_F(CapturePageRun, WorkerThatEndsTheRunIsHeard)
{
    button("startStitching_btn")->click();
    ASSERT_TRUE(waitFor([&] { return source->sent.load() >= 2; }, 10000));
    QSignalSpy stopped(page.get(), &CapturePage::stopStitch);
    emit page->stitchWorker().runEnded(QStringLiteral("The stitched picture has reached its largest size."));
    EXPECT_FALSE(page->isStitching());
    EXPECT_EQ(stopped.count(), 1);
    EXPECT_EQ(messages(), QStringList({"Warning: The stitched picture has reached its largest size."}));
}

TEST_F(CapturePageRun, NewCanvasOpensANewWindow)
{
    source->frames = [](int n) {
        if (n < 6)
            return panFrame(n);
        return frameFrom(samplePicture()(cv::Rect(200 + 6 * n, 100 + 4 * n, 400, 300)));
    };
    QSignalSpy pictures(page.get(), &CapturePage::showStitchDstPix);
    button("startStitching_btn")->click();
    ASSERT_TRUE(waitFor([&] { return source->sent.load() >= 10; }, 20000));
    page->onStopStitch();
    QTest::qWait(100);
    int newWindows = 0;
    for (const QList<QVariant> &picture : pictures)
        newWindows += picture.at(1).toBool() ? 1 : 0;
    EXPECT_EQ(newWindows, 2);
}

TEST_F(CapturePageRun, LateRequestsOfWorkersAreIgnored)
{
    // Not running: a worker's request for a frame starts nothing.
    emit page->stitchWorker().getNextVideoFrame();
    emit page->fusionWorker().getNextVideoFrame();
    QTest::qWait(200);
    EXPECT_EQ(source->requests.load(), 0);

    // During a run, a request before the worker took the run's start counts for nothing.
    page->setStartPause(0);
    button("startStitching_btn")->click();
    emit page->stitchWorker().getNextVideoFrame();
    ASSERT_TRUE(waitFor([&] { return source->sent.load() >= 6; }, 10000));
    EXPECT_EQ(source->backlog.load(), 0);
    page->onStopStitch();
}

TEST_F(CapturePageRun, CountResetAndTiedInputs)
{
    page->setFocusRange(1, 400);
    QSignalSpy focusMode(page.get(), &CapturePage::changeFocusMode);
    QSignalSpy focus(page.get(), &CapturePage::changeFocusValue);
    // A new focus range moves no focus, even where it moves the values.
    page->setFocusRange(5, 300);
    EXPECT_EQ(focusMode.count(), 0);
    EXPECT_EQ(slider("fusionStartPos_horizontalSlider")->value(), 5);
    EXPECT_EQ(spinBox("fusionStartPos_spinBox")->value(), 5);
    EXPECT_EQ(spinBox("fusionEndPos_spinBox")->maximum(), 300);
    page->setFocusRange(1, 400);

    spinBox("fusionEndPos_spinBox")->setValue(1);
    slider("fusionStartPos_horizontalSlider")->setValue(10);
    spinBox("capInterval_spinBox")->setValue(4);
    EXPECT_EQ(spinBox("fusionStartPos_spinBox")->value(), 10);
    EXPECT_EQ(lineEdit("capNum_lineEdit")->text(), "4");
    // Moving an end of the range shows the picture there.
    EXPECT_EQ(intsOf(focusMode).back(), FocusManual);
    EXPECT_EQ(intsOf(focus).back(), 10);
    spinBox("capInterval_spinBox")->setValue(3);
    EXPECT_EQ(lineEdit("capNum_lineEdit")->text(), "4");
    spinBox("capInterval_spinBox")->setValue(9);
    EXPECT_EQ(lineEdit("capNum_lineEdit")->text(), "2");

    spinBox("waitInterval_spinBox")->setValue(500);
    focus.clear();
    button("fusionRest_btn")->click();
    EXPECT_EQ(slider("fusionStartPos_horizontalSlider")->value(), 1);
    EXPECT_EQ(slider("fusionEndPos_horizontalSlider")->value(), 1);
    EXPECT_EQ(spinBox("capInterval_spinBox")->value(), 2);
    EXPECT_EQ(spinBox("waitInterval_spinBox")->value(), 100);
    EXPECT_EQ(lineEdit("capNum_lineEdit")->text(), "1");
    EXPECT_EQ(intsOf(focus), std::vector<int>({1}));  // the start moved; the end was already there

    spinBox("stitchSpeed_spinBox")->setValue(300);
    EXPECT_EQ(slider("stitchSpeed_horizontalSlider")->value(), 300);
    slider("stitchSpeed_horizontalSlider")->setValue(40);
    EXPECT_EQ(spinBox("stitchSpeed_spinBox")->value(), 40);
    EXPECT_EQ(slider("stitchSpeed_horizontalSlider")->minimum(), 20);
    EXPECT_EQ(slider("stitchSpeed_horizontalSlider")->maximum(), 500);
}

TEST_F(CapturePageRun, TabsFollowTheCamera)
{
    page->setTabsEnabled(true, false);
    EXPECT_TRUE(page->isTabEnabled(0));
    EXPECT_FALSE(page->isTabEnabled(1));
    button("startStitching_btn")->click();
    page->setTabsEnabled(false, true);
    EXPECT_FALSE(page->isStitching());
    EXPECT_TRUE(button("startStitching_btn")->isEnabledTo(page->widget(0)));
}

TEST_F(CapturePageRun, RetranslateKeepsTheCountAndTheRunningButton)
{
    prepareSeries(1, 21, 5, false);
    button("startFusion_btn")->click();
    QTranslator translator;
    ASSERT_TRUE(translator.load(QStringLiteral(":/Language/language_cn.qm")));
    QApplication::installTranslator(&translator);
    page->retranslate();
    EXPECT_EQ(lineEdit("capNum_lineEdit")->text(), "5");
    EXPECT_EQ(button("startFusion_btn")->text(), QString::fromUtf8("结束"));
    EXPECT_EQ(page->tabText(0), QString::fromUtf8("拼接"));
    page->onStopFusion();
    EXPECT_EQ(button("startFusion_btn")->text(), QString::fromUtf8("开始"));
    QApplication::removeTranslator(&translator);
    page->retranslate();
    EXPECT_EQ(button("startFusion_btn")->text(), "Start");
}

TEST(CapturePage, WorkersComeBackFromTheWorkThreadWhenThePageGoes)
{
    auto work = QSharedPointer<QThread>::create();
    work->start();
    {
        CapturePage page;
        page.setWorkThread(QSharedPointer<QThread>());  // only logged
        EXPECT_EQ(page.stitchWorker().thread(), QThread::currentThread());
        page.setWorkThread(work);
        EXPECT_EQ(page.stitchWorker().thread(), work.data());
        EXPECT_EQ(page.fusionWorker().thread(), work.data());
        // A second thread takes them over.
        auto other = QSharedPointer<QThread>::create();
        other->start();
        page.setWorkThread(other);
        EXPECT_EQ(page.fusionWorker().thread(), other.data());
        page.setWorkThread(work);
        other->quit();
        other->wait();
    }
    // The main window's shut-down order: the work thread ends first.
    {
        CapturePage page;
        page.setWorkThread(work);
        page.on_startStitching_btn_clicked();
        page.onStopStitch();
        work->quit();
        EXPECT_TRUE(work->wait(5000));
    }
}
