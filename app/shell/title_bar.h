// The title bar of the frameless main window: window icon and title on the
// left; settings, minimise, maximise/restore and close buttons on the right.
// Dragging the bar moves the window, a double click maximises or restores it.
// The settings button opens a menu with the user-interface language and the
// mouse-wheel function, both kept in the settings store; the bar installs the
// Chinese translations while the language is Chinese and reports both
// choices by signal.
#pragma once

#include "settings_store.h"

#include <QPoint>
#include <QTranslator>
#include <QWidget>

class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class CloseButton;
class MaximizeButton;
class MinimizeButton;
class SetButton;
class TitleBarButton;

class TitleBar : public QWidget
{
    Q_OBJECT
public:
    explicit TitleBar(QWidget *parent = nullptr);
    ~TitleBar() override;

    // Installs or removes the Chinese translations for the current language,
    // labels the menu again and emits signalChangeLanguage. The main window
    // calls it once at start, so the language stored last time takes effect.
    void applyLanguage();

    int language() const { return language_; }
    QMenu *settingsMenu() const { return menu_; }
    MaximizeButton *maximizeButton() const { return maximizeButton_; }
    MinimizeButton *minimizeButton() const { return minimizeButton_; }
    SetButton *setButton() const { return setButton_; }
    CloseButton *closeButton() const { return closeButton_; }

signals:
    void signalChangeLanguage(MyLanguage language);
    void MousewheelFuncChanged(KeyFunction func);

public slots:
    void setTitle(const QString &title);
    void setIcon(const QIcon &icon);
    void toggleMaxState();
    void showSetmenu();
    void slotChangeLanguage(QAction *act);
    void slotMouseWheelFunc(QAction *act);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void buildMenu();
    void labelMenu();
    bool isDraggable(const QPoint &pos) const;

    QLabel *iconLabel_ = nullptr;
    QLabel *titleLabel_ = nullptr;
    MaximizeButton *maximizeButton_ = nullptr;
    MinimizeButton *minimizeButton_ = nullptr;
    SetButton *setButton_ = nullptr;
    CloseButton *closeButton_ = nullptr;

    QMenu *menu_ = nullptr;
    QMenu *languageMenu_ = nullptr;
    QMenu *wheelMenu_ = nullptr;
    QAction *chineseAction_ = nullptr;
    QAction *englishAction_ = nullptr;
    QAction *zoomWindowAction_ = nullptr;
    QAction *focusAction_ = nullptr;
    QAction *zoomAction_ = nullptr;

    int language_ = 0;  // a MyLanguage; any stored number is kept as it is
    QTranslator qtTranslator_;
    QTranslator appTranslator_;

    // A drag the window system can't run is done here: the window follows
    // the pointer from where the press found it.
    enum class Drag { None, System, Manual };
    Drag drag_ = Drag::None;
    QPoint pressGlobal_;
    QPoint windowAtPress_;
};
