// The time-lapse settings dialog: how many pictures a series takes and how
// many seconds apart. Loaded from the settings store's "burst_mode" group;
// every acceptable change is written back at once (no OK or Cancel).
#pragma once

#include <QDialog>
#include <QMap>
#include <QVariant>

class QIntValidator;
class QLineEdit;

namespace Ui {
class BurstModeSettings;
}

class BurstModeSettings : public QDialog
{
    Q_OBJECT
public:
    // Keys of the map: number of pictures ("Number") and interval in seconds ("Interval").
    // Either field takes what the store keeps (kBurstModeValues).
    enum Key { NumberKey = 0, IntervalKey = 1 };

    explicit BurstModeSettings(QWidget *parent = nullptr);
    ~BurstModeSettings() override;

    // The values as loaded and as changed since (only the keys present).
    QMap<int, QVariant> getBurstModeMap() const;
    void retranslate();

private slots:
    void on_burstModeNumber_lineEdit_textChanged(const QString &text);
    void on_burstModeInterval_s_lineEdit_textChanged(const QString &text);

private:
    // Stores the field's value under `key` when it differs from the map's;
    // a field that holds no number (empty) is 0.
    void storeField(int key, const QString &text, const char *slotName);

    Ui::BurstModeSettings *ui;
    QIntValidator *validator_;
    QMap<int, QVariant> map_;
};
