// A picture of every page, panel and dialog of the program, in English and
// in Chinese, for a person to look at (scripts/look runs it). The real main
// window runs with the virtual camera over a fresh settings folder; each
// picture is a window as Qt draws it, without a window manager's frame.
//
//   vorenta_look [--screen] FOLDER
// writes FOLDER/<en|cn>-<name>.png; with --screen each dialog is saved as the
// whole screen while it is shown over the main window (with the frame and
// place a window manager gives it, where one runs).
#include "burst_mode_settings.h"
#include "calibration_widget.h"
#include "cam_settings.h"
#include "capture_page.h"
#include "draw_change_dialog.h"
#include "ip_setting.h"
#include "label_widget.h"
#include "main_window.h"
#include "measure_test_support.h"
#include "measure_widget.h"
#include "photo_settings.h"
#include "produce_test_dialog.h"
#include "title_bar.h"
#include "unlock_advanced_settings.h"
#include "upgrade_dialog.h"
#include "video.h"
#include "video_widget.h"
#include "wait_dialog.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <string>

namespace {

QString gFolder;
QString gLanguage;
bool gWholeScreen = false;
int gSaved = 0;
QStringList gMissing;

void save(QWidget *window, const QString &name)
{
    // Laid out, painted and (for the live view) a frame or two drawn.
    QTest::qWait(300);
    const QString path = QStringLiteral("%1/%2-%3.png").arg(gFolder, gLanguage, name);
    const bool wholeScreen = gWholeScreen && window && window->isWindow() && !window->inherits("MainWindow2");
    if (window && (wholeScreen ? window->screen()->grabWindow(0) : window->grab()).save(path))
        ++gSaved;
    else
        gMissing << name;
}

bool waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QTest::qWait(20);
    }
    return true;
}

// Runs `open`, which shows a modal dialog and returns when it closes; the
// dialog is saved once it is up, then `close` ends it (by default: Esc).
void saveModal(const QString &name, const std::function<void()> &open,
               const std::function<void(QWidget *)> &close = {})
{
    QTimer::singleShot(0, [name, close] {
        QWidget *dialog = nullptr;
        waitUntil([&dialog] { return (dialog = QApplication::activeModalWidget()) && dialog->isVisible(); }, 5000);
        save(dialog, name);
        if (!dialog)
            return;
        if (close)
            close(dialog);
        else
            QTest::keyClick(dialog, Qt::Key_Escape);
    });
    open();
}

void saveShown(QWidget *dialog, const QString &name)
{
    dialog->show();
    save(dialog, name);
    dialog->close();
}

void saveTabs(MainWindow2 &window, QTabWidget *tabs, const QString &name)
{
    for (int tab = 0; tab < tabs->count(); ++tab) {
        tabs->setCurrentIndex(tab);
        save(&window, name + QString::number(tab + 1));
    }
    tabs->setCurrentIndex(0);
}

void saveEverything(MainWindow2 &window)
{
    CamSettings *camera = window.cameraSettings();
    window.on_device_tBtn_clicked();
    camera->setCurrentIndex(0);
    save(&window, QStringLiteral("page-camera-tab1"));
    // The advanced tab opens once the administrator password is given.
    if (!camera->isAdvancedUnlocked()) {
        saveModal(QStringLiteral("dialog-unlock"),
                  [camera] { camera->onTabWidgetClicked(camera->indexOf(camera->findChild<QWidget *>("advancedSettings_tab"))); },
                  [](QWidget *dialog) {
                      // The confirmation that follows is answered once it shows.
                      QTimer::singleShot(0, [] {
                          QMessageBox *box = nullptr;
                          waitUntil([&box] { return (box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())); },
                                    5000);
                          if (box && !box->buttons().isEmpty())
                              box->buttons().constFirst()->click();
                      });
                      auto *field = dialog->findChild<QLineEdit *>(QStringLiteral("password_lineEdit"));
                      field->setText(QStringLiteral("quintar"));
                      QTest::keyClick(field, Qt::Key_Return);
                  });
    } else {
        saveShown(camera->unlockDialog(), QStringLiteral("dialog-unlock"));
    }
    camera->setCurrentIndex(1);
    save(&window, QStringLiteral("page-camera-tab2"));
    camera->setCurrentIndex(0);

    window.on_capture_tBtn_clicked();
    saveTabs(window, window.capturePanel(), QStringLiteral("page-capture-tab"));
    window.on_mesure_tBtn_clicked();
    saveTabs(window, window.measurePanel()->findChild<QTabWidget *>(QStringLiteral("measure_tWid")),
             QStringLiteral("page-measure-tab"));
    window.on_label_tBtn_clicked();
    save(&window, QStringLiteral("page-label"));
    window.on_device_tBtn_clicked();

    window.on_photoSettings_btn_clicked();
    save(window.photoSettingsDialog(), QStringLiteral("window-photo"));
    window.photoSettingsDialog()->close();
    saveModal(QStringLiteral("dialog-time-lapse"), [&window] { window.on_burstModeSettings_btn_clicked(); });
    const auto click = [](QWidget *panel, const char *button) {
        return [panel, button] { panel->findChild<QAbstractButton *>(QLatin1String(button))->click(); };
    };
    saveModal(QStringLiteral("dialog-common-tools"), click(window.measurePanel(), "commonSetBtn_btn"));
    saveModal(QStringLiteral("dialog-crosshair"), click(window.labelPanel(), "crossLineSet_btn"));
    saveModal(QStringLiteral("dialog-mark"), click(window.labelPanel(), "markSet_btn"));
    saveModal(QStringLiteral("dialog-gridlines"), click(window.labelPanel(), "gridlinesSet_btn"));
    saveModal(QStringLiteral("dialog-text"), click(window.labelPanel(), "textSet_btn"));
    saveModal(QStringLiteral("dialog-calibration"), [&window] { window.measurePanel()->onCaliOver(200); });

    MainScene *scene = window.liveView()->measureScene();
    drawShape(*scene, int(DrawType::Line), {{100, 100}, {300, 100}});
    scene->setDrawMode(int(DrawType::Hand));
    if (!scene->shapes().isEmpty()) {
        DrawChangeDialog shape(scene->shapes().constLast()->item(), DrawChangeDialog::MeasurementItem);
        saveShown(&shape, QStringLiteral("dialog-shape"));
    }

    IpSetting ip;
    IpInfo info;
    info.ip = QStringLiteral("192.168.1.100");
    info.netmask = QStringLiteral("255.255.255.0");
    info.gateway = QStringLiteral("192.168.1.1");
    ip.setIpInfo(info);
    saveShown(&ip, QStringLiteral("dialog-ip"));
    UpgradeDialog upgrade;
    upgrade.retranslate();
    saveShown(&upgrade, QStringLiteral("dialog-upgrade"));
    ProduceTestDialog production;
    production.prepareFor(QStringLiteral("usb-1-1&vid_0edc&pid_5830#000001"));
    saveShown(&production, QStringLiteral("dialog-production-test"));
    WaitDialog wait(&window);
    wait.setText(QCoreApplication::translate("MainWindow2", "Taking a photo..."));
    saveShown(&wait, QStringLiteral("dialog-wait"));
}

} // namespace

int main(int argc, char **argv)
{
    gWholeScreen = argc == 3 && argv[1] == std::string("--screen");
    if (argc != 2 + int(gWholeScreen)) {
        std::fprintf(stderr, "usage: %s [--screen] FOLDER\n", argv[0]);
        return 2;
    }
    // A settings folder of its own: the user's settings stay as they are.
    QTemporaryDir home;
    for (const char *name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
        qputenv(name, home.path().toLocal8Bit() + "/" + name);
    qputenv("VORENTA_VIRTUAL_CAMERA", "1");
    QApplication application(argc, argv);
    gFolder = QDir(QString::fromLocal8Bit(argv[argc - 1])).absolutePath();
    if (!QDir().mkpath(gFolder)) {
        std::fprintf(stderr, "cannot make %s\n", qPrintable(gFolder));
        return 1;
    }
    registerVideoFrameMetaType();
    registerSettingsMetaTypes();

    auto *window = new MainWindow2;
    window->show();
    if (!waitUntil([window] { return window->playThread() && window->playThread()->receivedFrameCount() > 3; }, 30000))
        std::fprintf(stderr, "the virtual camera shows no picture\n");
    for (const int language : {0, 1}) {
        gLanguage = language == 0 ? QStringLiteral("en") : QStringLiteral("cn");
        QAction choice;
        choice.setProperty("Lan", language);
        window->titleBar()->slotChangeLanguage(&choice);
        saveEverything(*window);
    }
    delete window;
    std::printf("%d pictures in %s\n", gSaved, qPrintable(gFolder));
    if (!gMissing.isEmpty())
        std::fprintf(stderr, "not saved: %s\n", qPrintable(gMissing.join(QStringLiteral(", "))));
    return gMissing.isEmpty() ? 0 : 1;
}
