// The main window's tests: the real window with the virtual camera, message
// boxes and file dialogs answered the way a user would, and the files the
// program keeps in the test's own application-data folder.
#pragma once

#include "cam_settings.h"
#include "camera.h"
#include "finishing_recorders.h"
#include "main_window.h"
#include "opengl_video_widget.h"
#include "settings_store.h"
#include "test_support.h"
#include "video_widget.h"
#include "virtual_backend.h"

#include <QApplication>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <ostream>

// Texts in test messages.
inline std::ostream &operator<<(std::ostream &out, const QString &text)
{
    return out << text.toStdString();
}

struct SeenMessage {
    QString title;
    QString text;
    QString informativeText;
};

// Answers every message box, file dialog and text dialog that shows up, as
// a user would, and remembers the messages.
class DialogWatcher : public QObject
{
public:
    DialogWatcher()
    {
        connect(&timer_, &QTimer::timeout, this, &DialogWatcher::scan);
        timer_.start(20);
    }

    QList<SeenMessage> messages;
    bool answerYes = true;
    QStringList fileAnswers;  // one per file dialog; none left: cancel
    QStringList textAnswers;  // one per text dialog; none left: cancel
    // Other dialogs by class name (a colour dialog, a property dialog): the
    // action answers the dialog and must close it. Without one: cancelled.
    QMap<QString, std::function<void(QDialog *)>> dialogActions;

    bool saw(const QString &text) const
    {
        for (const SeenMessage &message : messages)
            if (message.text.contains(text) || message.informativeText.contains(text))
                return true;
        return false;
    }
    int count(const QString &text) const
    {
        int n = 0;
        for (const SeenMessage &message : messages)
            n += message.text.contains(text) ? 1 : 0;
        return n;
    }
    QString all() const
    {
        QStringList texts;
        for (const SeenMessage &message : messages)
            texts << message.title + ": " + message.text + " " + message.informativeText;
        return texts.join(" | ");
    }

private:
    void scan()
    {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (!widget->isVisible() || widget->property("answered").toBool())
                continue;
            if (auto *box = qobject_cast<QMessageBox *>(widget))
                answer(box);
            else if (auto *dialog = qobject_cast<QFileDialog *>(widget))
                answer(dialog);
            else if (auto *input = qobject_cast<QInputDialog *>(widget))
                answer(input);
            else if (auto *other = qobject_cast<QDialog *>(widget))
                answer(other);
        }
    }
    // Any other modal dialog (the calibration dialog, a property dialog) is
    // noted by its class and closed without a change.
    void answer(QDialog *dialog)
    {
        if (dialog != QApplication::activeModalWidget() || dialog->inherits("WaitDialog"))
            return;
        dialog->setProperty("answered", true);
        const QString name = QString::fromLatin1(dialog->metaObject()->className());
        messages.append({name, dialog->windowTitle(), QString()});
        const std::function<void(QDialog *)> action = dialogActions.value(name);
        if (action)
            QTimer::singleShot(0, dialog, [dialog, action] { action(dialog); });
        else
            QTimer::singleShot(0, dialog, &QDialog::reject);
    }
    void answer(QMessageBox *box)
    {
        box->setProperty("answered", true);
        messages.append({box->windowTitle(), box->text(), box->informativeText()});
        QAbstractButton *chosen = nullptr;
        for (QAbstractButton *button : box->buttons()) {
            const QMessageBox::ButtonRole role = box->buttonRole(button);
            if (!chosen || (answerYes ? role == QMessageBox::YesRole : role == QMessageBox::NoRole))
                chosen = button;
        }
        if (chosen)
            QTimer::singleShot(0, chosen, &QAbstractButton::click);
    }
    void answer(QFileDialog *dialog)
    {
        dialog->setProperty("answered", true);
        if (fileAnswers.isEmpty()) {
            QTimer::singleShot(0, dialog, &QDialog::reject);
            return;
        }
        const QString file = fileAnswers.takeFirst();
        // The dialog reads its folder in the background and may reset the
        // name when it is done: the name is typed once it has settled.
        QTimer::singleShot(300, dialog, [dialog, file] {
            const QFileInfo info(file);
            dialog->setDirectory(info.absolutePath());
            dialog->selectFile(info.fileName());
            if (auto *name = dialog->findChild<QLineEdit *>("fileNameEdit"))
                name->setText(info.fileName());
            QMetaObject::invokeMethod(dialog, "accept");
        });
    }
    void answer(QInputDialog *dialog)
    {
        dialog->setProperty("answered", true);
        if (textAnswers.isEmpty()) {
            QTimer::singleShot(0, dialog, &QDialog::reject);
            return;
        }
        const QString text = textAnswers.takeFirst();
        QTimer::singleShot(0, dialog, [dialog, text] {
            dialog->setTextValue(text);
            dialog->accept();
        });
    }

    QTimer timer_;
};

inline QByteArray fileHash(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result();
}

inline void writeBytes(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

inline QByteArray randomBytes(int size, quint32 seed)
{
    QByteArray bytes(size, 0);
    quint32 state = seed;
    for (char &byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = char(state >> 24);
    }
    return bytes;
}

template <typename Widget>
Widget *childOf(QWidget *parent, const char *name)
{
    return parent->findChild<Widget *>(QString::fromLatin1(name));
}

// The application-data folder of this test process (the program's settings,
// log and camera database live there).
inline QString appDataFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

// A fresh main window over the test's application-data folder.
class WindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pictures.isValid());
        QDir().mkpath(appDataFolder());
        SettingsStore::instance().setBaseFolderForTesting(appDataFolder());
        usbcam::setVirtualCameraPresent(true);
    }
    void TearDown() override
    {
        delete window;
        window = nullptr;
        FinishingRecorders::waitForAll(FinishingRecorders::kShutdownWaitMs);
    }

    void startWindow()
    {
        window = new MainWindow2;
        window->show();
    }

    // The window comes up and opens the one camera there is, at 1920x1080.
    bool startWithCamera()
    {
        startWindow();
        if (!waitForFrames(20000))
            return false;
        auto *preview = childOf<QComboBox>(window->cameraSettings(), "previewRes_comboBox");
        auto *photo = childOf<QComboBox>(window->cameraSettings(), "photoRes_comboBox");
        if (!preview || !photo)
            return false;
        photo->setCurrentText("1920x1080");
        if (preview->currentText() != "1920x1080") {
            preview->setCurrentText("1920x1080");
            if (!waitFor([this] { return shownWidth() == 1920; }, 20000))
                return false;
        }
        return true;
    }
    bool waitForFrames(int timeoutMs)
    {
        return waitFor([this] { return window->playThread() && window->playThread()->receivedFrameCount() > 3 && shownWidth() > 0; },
                       timeoutMs);
    }
    // Width of the last frame the live view painted.
    int shownWidth() const { return window->liveView()->liveView()->textureWidth(0); }

    // Photo settings as the photo settings page announces them.
    void setPhotoSettings(bool automatic, int saveType, const QString &prefix, int format)
    {
        window->DrawChange(QuickSavePath, pictures.path());
        window->DrawChange(QuickSave, automatic);
        window->DrawChange(SaveType, saveType);
        window->DrawChange(PrefixData, prefix);
        window->DrawChange(PhotoFormat, format);
        window->DrawChange(SnapOpenImage, false);
    }
    QStringList picturesIn(const QString &filter = "*") const
    {
        return QDir(pictures.path()).entryList({filter}, QDir::Files, QDir::Name);
    }
    QPushButton *button(const char *name) const { return childOf<QPushButton>(window, name); }
    // Writes a plain picture of `size` to `path` and opens it with "Open
    // Picture": the tab it opened in, or none.
    VideoWidget *openPicture(const QString &path, QSize size, QColor color = Qt::darkCyan)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QImage image(size, QImage::Format_RGB32);
        image.fill(color);
        if (!image.save(path))
            return nullptr;
        dialogs.fileAnswers = QStringList{path};
        button("openPic_btn")->click();
        auto *tabs = childOf<QTabWidget>(window, "video_tabWidget");
        auto *view = qobject_cast<VideoWidget *>(tabs->currentWidget());
        return view != window->liveView() ? view : nullptr;
    }
    // A label of the status bar (the settings page has labels of the same names).
    QLabel *statusLabel(const char *name) const { return childOf<QLabel>(childOf<QWidget>(window, "widget_3"), name); }

    DialogWatcher dialogs;
    QTemporaryDir pictures;
    MainWindow2 *window = nullptr;
};
