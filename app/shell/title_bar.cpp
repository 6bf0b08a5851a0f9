#include "title_bar.h"

#include "frameless_geometry.h"
#include "title_bar_button.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCursor>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QWindow>

namespace {
const char kLanguageProperty[] = "Lan";
const char kWheelProperty[] = "MouseWheelFunc";
constexpr int kLanguageKey = Language;  // draw key
constexpr int kMouseWheelKey = 0;       // key-bind key "MouseWheel"

// The stored value as an int, or fallback when it is missing or no number.
int storedInt(bool found, const QVariant &value, int fallback)
{
    bool ok = false;
    const int number = value.toInt(&ok);
    return found && ok ? number : fallback;
}

QAction *addChoice(QMenu *menu, QActionGroup *group, const char *property, int value)
{
    auto *action = new QAction(menu);
    action->setCheckable(true);
    action->setProperty(property, value);
    group->addAction(action);
    menu->addAction(action);
    return action;
}
}  // namespace

TitleBar::TitleBar(QWidget *parent)
    : QWidget(parent)
{
    iconLabel_ = new QLabel(this);
    titleLabel_ = new QLabel(this);
    buildMenu();

    maximizeButton_ = new MaximizeButton(this);
    minimizeButton_ = new MinimizeButton(this);
    setButton_ = new SetButton(this);
    closeButton_ = new CloseButton(this);

    auto *layout = new QHBoxLayout(this);
    layout->setSpacing(0);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    layout->addStretch();
    layout->addWidget(setButton_, 0, Qt::AlignRight);
    layout->addWidget(minimizeButton_, 0, Qt::AlignRight);
    layout->addWidget(maximizeButton_, 0, Qt::AlignRight);
    layout->addWidget(closeButton_, 0, Qt::AlignRight);
    resize(200, 32);
    setFixedHeight(32);

    for (TitleBarButton *button : {static_cast<TitleBarButton *>(setButton_),
                                   static_cast<TitleBarButton *>(minimizeButton_),
                                   static_cast<TitleBarButton *>(maximizeButton_)}) {
        button->setHoverForeground(Qt::white);
        button->setHoverBackground(QColor(0, 100, 182));
        button->setPressedForeground(Qt::white);
        button->setPressedBackground(QColor(54, 57, 65));
    }

    QWidget *owner = window();
    connect(setButton_, &QAbstractButton::clicked, this, &TitleBar::showSetmenu);
    connect(minimizeButton_, &QAbstractButton::clicked, owner, &QWidget::showMinimized);
    connect(maximizeButton_, &QAbstractButton::clicked, this, &TitleBar::toggleMaxState);
    connect(closeButton_, &QAbstractButton::clicked, owner, &QWidget::close);
    if (owner != this)
        owner->installEventFilter(this);

    // A translation that doesn't load leaves its translator empty, and
    // installing an empty translator changes nothing.
    qtTranslator_.load(QStringLiteral(":/Language/qt_zh_CN.qm"));
    appTranslator_.load(QStringLiteral(":/Language/language_cn.qm"));

    iconLabel_->setFixedSize(20, 20);
    layout->insertSpacing(0, 10);
    layout->insertWidget(1, iconLabel_, 0, Qt::AlignLeft);
    layout->insertWidget(2, titleLabel_, 0, Qt::AlignLeft);
    titleLabel_->setStyleSheet(QStringLiteral("QLabel{background: transparent;font: 13px 'Segoe UI';padding: 0 4px}"));

    connect(owner, &QWidget::windowIconChanged, this, &TitleBar::setIcon);
    connect(owner, &QWidget::windowTitleChanged, this, &TitleBar::setTitle);
}

// A translator leaves the application's list when it is destroyed.
TitleBar::~TitleBar() = default;

void TitleBar::buildMenu()
{
    menu_ = new QMenu(this);
    languageMenu_ = new QMenu(menu_);
    wheelMenu_ = new QMenu(menu_);
    menu_->addMenu(languageMenu_);
    menu_->addMenu(wheelMenu_);

    auto *languages = new QActionGroup(languageMenu_);
    languages->setExclusive(true);
    chineseAction_ = addChoice(languageMenu_, languages, kLanguageProperty, int(MyLanguage::Chinese));
    englishAction_ = addChoice(languageMenu_, languages, kLanguageProperty, int(MyLanguage::English));
    connect(languageMenu_, &QMenu::triggered, this, &TitleBar::slotChangeLanguage);

    auto *wheel = new QActionGroup(wheelMenu_);
    wheel->setExclusive(true);
    zoomWindowAction_ = addChoice(wheelMenu_, wheel, kWheelProperty, int(KeyFunction::ZoomVideoWindow));
    focusAction_ = addChoice(wheelMenu_, wheel, kWheelProperty, int(KeyFunction::Focus));
    zoomAction_ = addChoice(wheelMenu_, wheel, kWheelProperty, int(KeyFunction::Zoom));
    connect(wheelMenu_, &QMenu::triggered, this, &TitleBar::slotMouseWheelFunc);

    const SettingsStore &store = SettingsStore::instance();
    QVariant value;
    bool found = store.drawValue(kLanguageKey, value);
    language_ = storedInt(found, value, int(MyLanguage::English));
    chineseAction_->setChecked(language_ == int(MyLanguage::Chinese));
    englishAction_->setChecked(language_ == int(MyLanguage::English));

    value.clear();
    found = store.keyBindValue(kMouseWheelKey, value);
    const int wheelFunction = storedInt(found, value, int(KeyFunction::ZoomVideoWindow));
    zoomWindowAction_->setChecked(wheelFunction == int(KeyFunction::ZoomVideoWindow));
    focusAction_->setChecked(wheelFunction == int(KeyFunction::Focus));
    zoomAction_->setChecked(wheelFunction == int(KeyFunction::Zoom));

    labelMenu();
}

void TitleBar::labelMenu()
{
    // The language names are the same in every language.
    languageMenu_->setTitle(tr("Language"));
    chineseAction_->setText(QStringLiteral("中文"));
    englishAction_->setText(QStringLiteral("English"));
    wheelMenu_->setTitle(tr("Mouse Wheel Func"));
    zoomWindowAction_->setText(tr("Zoom video window"));
    focusAction_->setText(tr("Focus"));
    zoomAction_->setText(tr("Zoom"));
}

void TitleBar::applyLanguage()
{
    if (language_ == int(MyLanguage::Chinese)) {
        QCoreApplication::installTranslator(&qtTranslator_);
        QCoreApplication::installTranslator(&appTranslator_);
    } else {
        QCoreApplication::removeTranslator(&qtTranslator_);
        QCoreApplication::removeTranslator(&appTranslator_);
    }
    labelMenu();
    emit signalChangeLanguage(static_cast<MyLanguage>(language_));
}

void TitleBar::slotChangeLanguage(QAction *act)
{
    bool ok = false;
    const int language = act ? act->property(kLanguageProperty).toInt(&ok) : 0;
    language_ = ok ? language : int(MyLanguage::English);
    SettingsStore::instance().setDrawValue(kLanguageKey, language_);
    applyLanguage();
}

void TitleBar::slotMouseWheelFunc(QAction *act)
{
    bool ok = false;
    const int function = act ? act->property(kWheelProperty).toInt(&ok) : 0;
    const int stored = ok ? function : int(KeyFunction::ZoomVideoWindow);
    SettingsStore::instance().setKeyBindValue(kMouseWheelKey, stored);
    emit MousewheelFuncChanged(static_cast<KeyFunction>(stored));
}

void TitleBar::setTitle(const QString &title)
{
    titleLabel_->setText(title);
    titleLabel_->adjustSize();
}

void TitleBar::setIcon(const QIcon &icon)
{
    iconLabel_->setPixmap(icon.pixmap(20, 20, QIcon::Normal, QIcon::Off));
}

void TitleBar::toggleMaxState()
{
    QWidget *owner = window();
    if (owner->isMaximized())
        owner->showNormal();
    else
        owner->showMaximized();
}

void TitleBar::showSetmenu()
{
    // popup() keeps the menu on the screen, which matters at the right end
    // of a maximised window where the button sits.
    menu_->popup(QCursor::pos());
}

bool TitleBar::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == window() && event->type() == QEvent::WindowStateChange)
        maximizeButton_->setMaximized(window()->isMaximized());
    return QWidget::eventFilter(watched, event);
}

bool TitleBar::isDraggable(const QPoint &pos) const
{
    int buttonsWidth = 0;
    bool buttonPressed = false;
    for (const TitleBarButton *button : findChildren<TitleBarButton *>(QString(), Qt::FindDirectChildrenOnly)) {
        if (!button->isVisible())
            continue;
        buttonsWidth += button->width();
        buttonPressed = buttonPressed || button->state() == TitleBarButton::Pressed;
    }
    return isTitleBarDragPoint(pos, width(), buttonsWidth, buttonPressed);
}

void TitleBar::mousePressEvent(QMouseEvent *event)
{
    drag_ = Drag::None;
    pressGlobal_ = event->globalPos();
    windowAtPress_ = window()->pos();
    event->accept();
}

void TitleBar::mouseMoveEvent(QMouseEvent *event)
{
    // Moves reach the bar only while a mouse button is held, whichever it is.
    if (drag_ == Drag::None && isDraggable(event->pos())) {
        QWindow *handle = window()->windowHandle();
        drag_ = handle && handle->startSystemMove() ? Drag::System : Drag::Manual;
    }
    const bool maximisedOrFull = window()->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen);
    if (drag_ == Drag::Manual && !maximisedOrFull)
        window()->move(windowAtPress_ + event->globalPos() - pressGlobal_);
}

void TitleBar::mouseReleaseEvent(QMouseEvent *event)
{
    drag_ = Drag::None;
    event->accept();
}

void TitleBar::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        toggleMaxState();
}
