// The main window's recording and picture commands as a user meets them:
// closing the camera while recording, saving an opened picture, the first
// save dialog, the pictures the open dialog lists, quitting with unsaved
// pictures, a snapshot and a recording on a full disk, a recording whose
// folder is removed or renamed and where a failed snapshot's warning opens.
#include "window_test_support.h"

#include "device_poll.h"
#include "photo_settings.h"
#include "private_volume.h"
#include "recording_support.h"
#include "sim_camera.h"
#include "video_recorder.h"
#include "wait_dialog.h"

#include <QCloseEvent>
#include <QElapsedTimer>
#include <QListView>
#include <QSignalSpy>
#include <QTabWidget>

namespace {

// The folder each file dialog showed when it opened.
class FileDialogFolders : public QObject
{
public:
    FileDialogFolders() { qApp->installEventFilter(this); }
    ~FileDialogFolders() override { qApp->removeEventFilter(this); }
    QStringList folders;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show)
            if (auto *dialog = qobject_cast<QFileDialog *>(watched))
                folders << dialog->directory().absolutePath();
        return false;
    }
};

// What the next file dialog lists, sorted: read until it is `expected` (the
// dialog reads its folder in the background, a batch at a time) or 10 s have
// passed; the dialog is then cancelled. Kept as a PNG when VORENTA_SHOT_DIR
// names a folder.
class ListedFiles : public QObject
{
public:
    explicit ListedFiles(const QStringList &expected) : expected_(expected)
    {
        qApp->installEventFilter(this);
        connect(&timer_, &QTimer::timeout, this, &ListedFiles::read);
    }
    ~ListedFiles() override { qApp->removeEventFilter(this); }
    QStringList files;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *dialog = qobject_cast<QFileDialog *>(watched);
        if (dialog && event->type() == QEvent::Show && !dialog_) {
            dialog->setProperty("answered", true);
            dialog_ = dialog;
            clock_.start();
            timer_.start(20);
        }
        return false;
    }

private:
    void read()
    {
        auto *view = dialog_ ? dialog_->findChild<QListView *>("listView") : nullptr;
        files.clear();
        for (int row = 0; view && row < view->model()->rowCount(view->rootIndex()); ++row)
            files << view->model()->index(row, 0, view->rootIndex()).data().toString();
        files.sort(Qt::CaseInsensitive);
        if (dialog_ && files != expected_ && clock_.elapsed() < 10000)
            return;
        timer_.stop();
        const QString folder = qEnvironmentVariable("VORENTA_SHOT_DIR");
        if (dialog_ && !folder.isEmpty() && QDir().mkpath(folder))
            dialog_->grab().save(folder + "/open-dialog.png");
        if (dialog_)
            dialog_->reject();
    }

    QStringList expected_;
    QPointer<QFileDialog> dialog_;
    QTimer timer_;
    QElapsedTimer clock_;
};

// Keeps the first message box with the given text open: the dialog
// watcher leaves it alone, as a user who lets it stand.
class LeftOpen : public QObject
{
public:
    LeftOpen(const QString &text, QPointer<QMessageBox> *box) : text_(text), box_(box)
    {
        qApp->installEventFilter(this);
    }
    ~LeftOpen() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *box = qobject_cast<QMessageBox *>(watched);
        if (box && event->type() == QEvent::Show && box->text() == text_ && !*box_) {
            box->setProperty("answered", true);
            *box_ = box;
        }
        return false;
    }

private:
    QString text_;
    QPointer<QMessageBox> *box_;
};

// Where the first message box shown stood when it was first painted, and
// whether the wait dialog still showed when it came.
class FirstMessageBox : public QObject
{
public:
    explicit FirstMessageBox(const QWidget *waitDialog) : waitDialog_(waitDialog) { qApp->installEventFilter(this); }
    ~FirstMessageBox() override { qApp->removeEventFilter(this); }
    bool shown = false;
    bool waitDialogVisible = false;
    QRect painted;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *box = qobject_cast<QMessageBox *>(watched);
        if (!box)
            return false;
        if (event->type() == QEvent::Show && !shown) {
            shown = true;
            waitDialogVisible = waitDialog_->isVisible();
        } else if (event->type() == QEvent::Paint && shown && painted.isNull()) {
            painted = box->frameGeometry();
        }
        return false;
    }

private:
    const QWidget *waitDialog_;
};

// What the open camera's recorder reports of a recording: its failures, and
// where the file ended and whether it is complete. The recorder outlives its
// capture thread while it finishes the file.
struct RecordingReports {
    QStringList failures;
    QString path;
    bool complete = false;

    // Connects to the recorder and records from the window's camera until a
    // frame is in the file.
    bool start(MainWindow2 *window, QAbstractButton *record)
    {
        const VideoRecorder *recorder = window->playThread()->recorder();
        QObject::connect(recorder, &VideoRecorder::recordingFailed, window,
                         [this](const QString &message) { failures << message; });
        QObject::connect(recorder, &VideoRecorder::recordingFinished, window, [this](const QString &file, bool ok) {
            path = file;
            complete = ok;
        });
        record->click();
        return waitFor([recorder] { return recorder->startTiming().firstFrameWrittenUs != 0; }, 20000);
    }
    bool ended() { return waitFor([this] { return !path.isEmpty(); }, 30000); }
};

// A simulated network camera on a loopback address of its own, at the port
// the window opens network cameras on.
constexpr char kSimAddress[] = "127.0.0.59";

} // namespace

TEST_F(WindowTest, ClosingTheCameraWhileRecordingFinishesTheFile)
{
    ASSERT_TRUE(startWithCamera());
    window->DrawChange(QuickSavePath, pictures.filePath("videos"));
    RecordingReports recording;
    ASSERT_TRUE(recording.start(window, button("record_btn")));

    childOf<QPushButton>(window->cameraSettings(), "cameraSwitch_btn")->click();
    EXPECT_TRUE(waitFor([&] { return dialogs.saw("The camera is successfully closed!"); })) << dialogs.all();
    EXPECT_FALSE(button("record_btn")->isChecked());
    EXPECT_FALSE(window->playThread());

    ASSERT_TRUE(recording.ended());
    EXPECT_TRUE(recording.complete);
    EXPECT_GT(readRecording(recording.path).decodedFrames, 0) << recording.path;
    // One message: the close, naming the file the recording went to.
    const QFileInfo file(recording.path);
    ASSERT_EQ(dialogs.messages.size(), 1) << dialogs.all();
    EXPECT_TRUE(dialogs.messages[0].informativeText.contains(file.fileName())) << dialogs.all();
    EXPECT_TRUE(dialogs.messages[0].informativeText.contains(file.absolutePath())) << dialogs.all();
}

// A network camera pulled while it records: one message says so and names
// the file that was kept. The device list names a lost camera for a while
// (discovery keeps what it heard in the last 30 s), and the settings page
// opens it again: when it is back that works, when not, the failure adds no
// message.
TEST_F(WindowTest, NetworkCameraPulledWhileRecordingSaysSoOnce)
{
    simcam::SimCamera sim;
    sim.setModel("Y260_IPC");
    ASSERT_EQ(sim.start(80, kSimAddress), 80) << "port 80 of " << kSimAddress << " is taken";
    usbcam::setVirtualCameraPresent(false);
    startWindow();
    // The device lists are the ones handed over here: the window's own polls,
    // whose discovery hears nothing here, stop after the first.
    childOf<QTimer>(window, "devicePollTimer")->stop();
    window->DrawChange(QuickSavePath, pictures.filePath("videos"));
    // The device list as a poll hands it over, with the camera in it.
    const cam_probe_buffer noUsbCamera{};
    const DeviceMap listed = buildDeviceMap(noUsbCamera, {kSimAddress});
    emit window->detect(listed);
    ASSERT_TRUE(waitFor([&] { return window->playThread() && window->playThread()->receivedFrameCount() > 3; }, 20000))
        << dialogs.all();
    VideoRecorder *recorder = window->playThread()->recorder();
    QString recorded;
    QObject::connect(recorder, &VideoRecorder::recordingFinished, window,
                     [&](const QString &path) { recorded = path; });
    button("record_btn")->click();
    ASSERT_TRUE(waitFor([&] { return recorder->startTiming().firstFrameWrittenUs != 0; }, 20000));

    sim.stop();
    ASSERT_TRUE(waitFor([&] { return dialogs.saw("Camera disconnected connection!"); }, 60000)) << dialogs.all();
    ASSERT_TRUE(waitFor([&] { return !recorded.isEmpty(); }, 30000));
    ASSERT_EQ(dialogs.messages.size(), 1) << dialogs.all();
    EXPECT_EQ(dialogs.messages[0].text, "Camera disconnected connection!");
    const QFileInfo file(recorded);
    EXPECT_TRUE(dialogs.messages[0].informativeText.contains(file.fileName())) << dialogs.all();
    EXPECT_TRUE(dialogs.messages[0].informativeText.contains(file.absolutePath())) << dialogs.all();

    // Back in time, it opens again, and its next loss is told as the first was.
    ASSERT_EQ(sim.start(80, kSimAddress), 80);
    emit window->detect(listed);
    ASSERT_TRUE(waitFor([&] { return window->playThread() && window->playThread()->receivedFrameCount() > 3; }, 20000))
        << dialogs.all();
    sim.stop();
    ASSERT_TRUE(waitFor([&] { return dialogs.count("Camera disconnected connection!") == 2; }, 60000)) << dialogs.all();
    // Still listed, but gone: the attempt to open it again fails quietly.
    QSignalSpy reopenFailed(window, &MainWindow2::changeDeviceStateForClose);
    emit window->detect(listed);
    ASSERT_TRUE(waitFor([&] { return reopenFailed.count() > 0 && !window->playThread(); }, 30000)) << dialogs.all();
    EXPECT_EQ(dialogs.messages.size(), 2) << dialogs.all();
}

TEST_F(WindowTest, SavingAnOpenedPictureKeepsItsNameWhateverTheName)
{
    usbcam::setVirtualCameraPresent(false);  // no camera needed
    startWindow();
    setPhotoSettings(true, 1, "snap", 0);
    const QString snapshots = pictures.filePath("snaps");
    window->DrawChange(QuickSavePath, snapshots);
    // "Tab" in its name, as the untitled tabs are named.
    VideoWidget *view = openPicture(pictures.filePath("source/Table.png"), QSize(80, 60));
    ASSERT_TRUE(view);
    auto *tabs = childOf<QTabWidget>(window, "video_tabWidget");
    // Nothing to save until it changed.
    button("savePic_btn")->click();
    EXPECT_TRUE(QDir(snapshots).entryList(QDir::Files).isEmpty());
    view->setModified(true);
    button("savePic_btn")->click();
    EXPECT_EQ(QDir(snapshots).entryList(QDir::Files), QStringList{"Table.png"}) << dialogs.all();
    EXPECT_EQ(QImage(snapshots + "/Table.png").size(), QSize(80, 60));
    EXPECT_EQ(tabs->tabText(tabs->currentIndex()), "Table.png");
}

TEST_F(WindowTest, FirstSnapSaveDialogOpensInThePicturesFolder)
{
    // Nothing chosen in a dialog before.
    SettingsStore::instance().setOpenedImagePath(QString());
    ASSERT_TRUE(startWithCamera());
    setPhotoSettings(false, 1, QString(), 0);
    FileDialogFolders shown;
    button("photo_btn")->click();  // the dialog is cancelled
    EXPECT_EQ(shown.folders, QStringList{QDir(pictures.path()).absolutePath()});
    EXPECT_TRUE(picturesIn().isEmpty());
}

// Every kind of picture the program opens and saves, in either case; nothing else.
TEST_F(WindowTest, OpenPictureListsEveryPicture)
{
    usbcam::setVirtualCameraPresent(false);  // no camera needed
    const QStringList kinds{"a.bmp", "b.jpg", "c.jpeg", "d.png", "e.tif", "f.tiff", "G.JPG", "H.PNG"};
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    for (const QString &name : kinds)
        ASSERT_TRUE(image.save(pictures.filePath(name), QFileInfo(name).suffix().toLower().toLatin1())) << name;
    writeBytes(pictures.filePath("notes.txt"), "not a picture");
    SettingsStore::instance().setOpenedImagePath(pictures.path());
    startWindow();
    ListedFiles dialog(kinds);
    button("openPic_btn")->click();
    EXPECT_EQ(dialog.files.join(" "), kinds.join(" "));
}

// Quitting asks about the picture tabs with unsaved changes, naming them,
// and only about those: not about a picture without changes, nor about the
// live view's shapes. Closing one tab asks the same way.
TEST_F(WindowTest, QuittingAndClosingTabsAskOnlyAboutUnsavedPictures)
{
    usbcam::setVirtualCameraPresent(false);  // no camera needed
    startWindow();
    auto *tabs = childOf<QTabWidget>(window, "video_tabWidget");
    ASSERT_TRUE(openPicture(pictures.filePath("plain.png"), QSize(64, 48)));
    QPixmap picture(64, 48);
    picture.fill(Qt::gray);
    window->onShowFusionDstPix(picture, true);  // a result, marked "*"
    const QString result = tabs->tabText(2);
    window->liveView()->setModified(true);      // shapes drawn on the live view
    dialogs.answerYes = false;
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isVisible());
    ASSERT_EQ(dialogs.messages.size(), 1) << dialogs.all();
    EXPECT_EQ(dialogs.messages[0].text, "Do you want to exit without saving?");
    EXPECT_EQ(dialogs.messages[0].informativeText, result);

    // The picture without changes closes at once, the result after a "Yes".
    dialogs.messages.clear();
    window->on_video_tabWidget_tabCloseRequested(1);
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.all();
    ASSERT_EQ(tabs->count(), 2);
    dialogs.answerYes = true;
    window->on_video_tabWidget_tabCloseRequested(1);
    EXPECT_EQ(dialogs.count("Do you want to exit without saving?"), 1) << dialogs.all();
    EXPECT_EQ(tabs->count(), 1);
    // Nothing unsaved is left: the window closes without a question.
    dialogs.messages.clear();
    EXPECT_TRUE(window->close());
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.all();
}

// Closing the window ends the program: a "Stop Recording" box and the photo
// settings left open (neither blocks the window) go with it, so that the
// window's own close is the last window closing. The application's own loop
// runs here, as in the program, so that the window's close can end it.
TEST_F(WindowTest, ClosingTheWindowEndsTheProgramWithAStopRecordingBoxOpen)
{
    ASSERT_TRUE(startWithCamera());
    window->DrawChange(QuickSavePath, pictures.filePath("videos"));
    button("record_btn")->click();
    // A recording stopped before its first frame is in the file says that
    // nothing was recorded, in a box of its own that may open after the
    // window closed: this one has a frame written.
    const VideoRecorder *recorder = window->playThread()->recorder();
    ASSERT_TRUE(waitFor([&] { return recorder->isRecording() && recorder->startTiming().firstFrameWrittenUs > 0; },
                        20000));
    QPointer<QMessageBox> box;
    LeftOpen leftOpen("Stop Recording", &box);
    button("record_btn")->click();
    ASSERT_TRUE(waitFor([&] { return box && box->isVisible(); }));
    button("photoSettings_btn")->click();
    ASSERT_TRUE(window->photoSettingsDialog()->isVisible());

    // Counted when the window's close returns: a box that opens and closes
    // later (a report of the recorder finishing its file) is a last window
    // closing of its own.
    QSignalSpy lastClosed(qApp, &QGuiApplication::lastWindowClosed);
    int lastClosedByTheWindow = -1;
    QTimer::singleShot(0, window, [&] {
        window->close();
        lastClosedByTheWindow = lastClosed.count();
    });
    QTimer hang;  // only ends a loop the close did not end
    hang.setSingleShot(true);
    QObject::connect(&hang, &QTimer::timeout, qApp, &QCoreApplication::quit);
    hang.start(20000);
    QApplication::exec();
    EXPECT_EQ(lastClosedByTheWindow, 1);
    EXPECT_TRUE(hang.isActive());
    EXPECT_TRUE(!box || !box->isVisible());
    EXPECT_FALSE(window->photoSettingsDialog()->isVisible());
}

TEST_F(WindowTest, SnapshotOnAFullDiskNamesTheCause)
{
    const QString fullFolder = privateVolume();
    if (fullFolder.isEmpty()) {
        runOnPrivateVolume("WindowTest.SnapshotOnAFullDiskNamesTheCause", "64k", pictures.path());
        return;
    }
    ASSERT_TRUE(startWithCamera());
    setPhotoSettings(true, 1, "full", 0);
    window->DrawChange(QuickSavePath, fullFolder);
    button("photo_btn")->click();
    EXPECT_TRUE(window->lastSnapshotPath().isEmpty());
    EXPECT_TRUE(dialogs.saw("No space left on device")) << dialogs.all();
}

TEST_F(WindowTest, FailedSnapshotWarnsOverTheMainWindowOnceItsWaitIsOver)
{
    ASSERT_TRUE(startWithCamera());
    setPhotoSettings(true, 1, "failed", 0);
    // A folder where a file is: it can't be made.
    writeBytes(pictures.filePath("file"), "x");
    window->DrawChange(QuickSavePath, pictures.filePath("file/sub"));
    FirstMessageBox box(window->findChild<WaitDialog *>());
    button("photo_btn")->click();
    ASSERT_TRUE(dialogs.saw("cannot be created")) << dialogs.all();
    EXPECT_FALSE(box.waitDialogVisible);
    ASSERT_TRUE(waitFor([&] { return !box.painted.isNull(); }));
    const QPoint offCentre = box.painted.center() - window->frameGeometry().center();
    EXPECT_LE(offCentre.manhattanLength(), 2) << offCentre.x() << "," << offCentre.y();
}

// The save folder removed while it records: writes still go through, into
// a file no one can open again. The recording is told as lost, with its
// cause; nothing calls it saved or kept, or names the file that is gone, and
// the recorder tries nothing more on it (a finalise, say, whose failure the
// window would not show a second time).
TEST_F(WindowTest, RecordingWhoseFolderIsRemovedIsToldAsLost)
{
    ASSERT_TRUE(startWithCamera());
    const QString folder = pictures.filePath("videos");
    window->DrawChange(QuickSavePath, folder);
    RecordingReports recording;
    ASSERT_TRUE(recording.start(window, button("record_btn")));
    ASSERT_TRUE(QDir(folder).removeRecursively());
    button("record_btn")->click();
    ASSERT_TRUE(recording.ended());
    const QString lost = "Recording failed: the video file " + QDir::toNativeSeparators(recording.path)
                         + " no longer exists (No such file or directory), so what was recorded is lost.";
    EXPECT_EQ(recording.failures, QStringList{lost});
    ASSERT_TRUE(waitFor([&] { return dialogs.saw(lost); })) << dialogs.all();
    EXPECT_EQ(dialogs.count(lost), 1) << dialogs.all();
    EXPECT_EQ(dialogs.count("Stop Recording"), 1) << dialogs.all();
    EXPECT_EQ(dialogs.messages.size(), 2) << dialogs.all();
    for (const SeenMessage &message : dialogs.messages) {
        const QString text = message.text + " " + message.informativeText;
        EXPECT_FALSE(text.contains("saved") || text.contains("kept")) << text;
        if (message.text == "Stop Recording") {
            EXPECT_FALSE(message.informativeText.contains(QFileInfo(recording.path).fileName())) << text;
        }
    }
    EXPECT_FALSE(QFileInfo::exists(folder));
}

// The save folder renamed while it records (in a file manager, say): the
// recording goes on into its file, is finished where it is now, and the user
// is told that place.
TEST_F(WindowTest, RecordingWhoseFolderIsRenamedIsSavedWhereItIsNow)
{
    ASSERT_TRUE(startWithCamera());
    const QString folder = pictures.filePath("videos");
    window->DrawChange(QuickSavePath, folder);
    const VideoRecorder *recorder = window->playThread()->recorder();
    RecordingReports recording;
    ASSERT_TRUE(recording.start(window, button("record_btn")));
    const QString renamed = pictures.filePath("renamed");
    ASSERT_TRUE(QDir().rename(folder, renamed));
    // Still recording once the recorder has looked at its file again.
    ASSERT_TRUE(waitFor([&] { return recorder->currentPath().startsWith(renamed + "/"); }, 20000)) << dialogs.all();
    EXPECT_TRUE(button("record_btn")->isChecked());
    button("record_btn")->click();
    ASSERT_TRUE(recording.ended());
    EXPECT_EQ(QFileInfo(recording.path).absolutePath(), QFileInfo(renamed).absoluteFilePath());
    EXPECT_TRUE(recording.complete);
    EXPECT_TRUE(recording.failures.isEmpty()) << recording.failures.join("; ").toStdString();
    EXPECT_GT(readRecording(recording.path).decodedFrames, 0);
    const QString moved = "The recording was moved while it was being recorded; it is saved as "
                          + QDir::toNativeSeparators(recording.path) + ".";
    ASSERT_TRUE(waitFor([&] { return dialogs.saw(moved); })) << dialogs.all();
    EXPECT_EQ(dialogs.count("Stop Recording"), 1) << dialogs.all();
    EXPECT_EQ(dialogs.messages.size(), 2) << dialogs.all();
}

TEST_F(WindowTest, RecordingStoppedByAFullDiskNamesTheFileItKept)
{
    const QString folder = privateVolume();
    if (folder.isEmpty()) {
        runOnPrivateVolume("WindowTest.RecordingStoppedByAFullDiskNamesTheFileItKept", "3m", pictures.path());
        return;
    }
    ASSERT_TRUE(startWithCamera());
    window->DrawChange(QuickSavePath, folder);
    QString recorded;
    QObject::connect(window->playThread()->recorder(), &VideoRecorder::recordingFinished, window,
                     [&](const QString &path) { recorded = path; });
    button("record_btn")->click();
    // The volume fills up and the recording stops by itself.
    ASSERT_TRUE(waitFor([&] { return !button("record_btn")->isChecked(); }, 300000));
    ASSERT_TRUE(waitFor([&] { return !recorded.isEmpty(); }, 60000));
    const QString noSpace = VideoRecorder::failureText(VideoRecorder::Failure::NoSpace);
    ASSERT_TRUE(waitFor([&] { return dialogs.saw(noSpace); })) << dialogs.all();
    EXPECT_TRUE(dialogs.saw(QDir::toNativeSeparators(recorded))) << dialogs.all();
    EXPECT_EQ(dialogs.messages.size(), 1) << dialogs.all();
    const RecordingInfo info = readRecording(recorded);
    EXPECT_GT(info.decodedFrames, 0);
    EXPECT_EQ(info.decodedFrames, info.packets);
    EXPECT_TRUE(info.errors.isEmpty()) << info.errors.join("; ");
}
