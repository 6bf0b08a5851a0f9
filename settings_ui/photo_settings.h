// The window "Snap" in which the user sets how snapshots are saved: folder,
// opening the picture afterwards, painting the measurement graphics into it,
// automatic or manual naming, the parts of an automatic name and the file
// format. Every change is written at once into the settings store's "draw"
// group and announced with changeDrawProp; there is no OK or Cancel. GUI
// thread only.
#pragma once

#include "settings_store.h"

#include <QVariant>
#include <QWidget>

namespace Ui {
class PhotoSettings;
}

class PhotoSettings : public QWidget
{
    Q_OBJECT
public:
    explicit PhotoSettings(QWidget *parent = nullptr);
    ~PhotoSettings() override;

    void retranslate();

signals:
    void changeDrawProp(DrawProperty property, const QVariant &value);

private slots:
    void on_openSavePath_btn_clicked();
    void on_snapOpenImageY_rBtn_toggled(bool checked);
    void on_snapOpenImageN_rBtn_toggled(bool checked);
    void on_saveGraphicsY_rBtn_toggled(bool checked);
    void on_saveGraphicsN_tBtn_toggled(bool checked);
    void on_autoNaming_rBtn_toggled(bool checked);
    void on_manualNaming_rBtn_toggled(bool checked);
    void on_timeNaming_checkBox_stateChanged(int state);
    void on_autoIndex_checkBox_stateChanged(int state);
    void on_scanCodeNaming_checkBox_stateChanged(int state);
    void on_format_comboBox_currentIndexChanged(int index);
    void on_prefix_lineEdit_textChanged(const QString &text);
    void on_timeNaming_comboBox_currentIndexChanged(const QString &arg1);
    void on_autoIndexDigit_comboBox_currentIndexChanged(int index);

private:
    // Writes and announces a value; while the constructor shows the stored
    // values it only announces them, so a start writes nothing.
    void store(DrawProperty id, const QVariant &value);

    Ui::PhotoSettings *ui;
    bool restoring_ = true;
};
