// The annotation page of the main window: picks the marking and text tools,
// shows or hides the crosshair and the gridlines over every live view, and
// opens the style dialogs for marks, text, crosshair and gridlines. It draws
// nothing itself: modes, overlay switches and style values leave as signals
// that the main window hands to every view. GUI thread only.
#pragma once

#include "draw_type.h"
#include "settings_store.h"

#include <QVariant>
#include <QWidget>

namespace Ui {
class LabelWidget;
}

class LabelWidget : public QWidget
{
    Q_OBJECT
public:
    explicit LabelWidget(QWidget *parent = nullptr);
    ~LabelWidget() override;

    void retranslate();
    int horizontalLineCount() const { return hLineCount; }
    int verticalLineCount() const { return vLineCount; }

signals:
    void signalSetDrawMode(DrawType type);
    // The one overlay of every view: kind 21 the crosshair (one line each
    // way), 22 the gridlines with the given counts; `shown` its visibility.
    void signalEnableGridlines(DrawType kind, int horizontal, int vertical, bool shown);
    void drawChange(DrawProperty id, const QVariant &value);

public slots:
    // Releases the tool buttons: none stays shown as pressed.
    void slotClearDrawType();

private slots:
    void on_drawMarkRect_btn_clicked();
    void on_drawMarkCircle_btn_clicked();
    void on_drawText_Btn_clicked();
    void on_showCross_checkBox_clicked();
    void on_showGridlines_checkBox_clicked();
    void on_hideCross_checkBox_clicked();
    void on_hideGridlines_checkBox_clicked();
    void on_crossLineSet_btn_clicked();
    void on_gridlinesSet_btn_clicked();
    void on_markSet_btn_clicked();
    void on_textSet_btn_clicked();

private:
    void sendStored(std::initializer_list<DrawProperty> ids);

    Ui::LabelWidget *ui;
    int hLineCount = 1;
    int vLineCount = 1;
    // A style accepted while its overlay was hidden reaches the views when
    // the overlay is next shown (both overlays share the views' lines, so it
    // cannot be sent while the other one is up).
    bool crossStylePending_ = false;
    bool gridStylePending_ = false;
};
