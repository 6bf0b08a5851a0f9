#include "burst_mode_settings.h"

#include "settings_store.h"
#include "ui_burstmodesettings.h"

#include <QDebug>
#include <QIntValidator>

namespace {

// Qt's validator lets a number with no more digits than its top through as
// Intermediate however large it is, so that a user can still edit it into
// range; written at every keystroke, it would be a value the store refuses.
// Past the top the digit is not taken.
class BoundedIntValidator : public QIntValidator
{
public:
    BoundedIntValidator(int bottom, int top, QObject *parent) : QIntValidator(bottom, top, parent) {}

    State validate(QString &input, int &pos) const override
    {
        const State state = QIntValidator::validate(input, pos);
        bool ok = false;
        const qlonglong number = locale().toLongLong(input, &ok);
        return state == Intermediate && ok && number > top() ? Invalid : state;
    }
};

} // namespace

// A series takes at least one picture one second apart; an empty field or
// a typed 0 is kept as 0, which a series refuses when it starts.
BurstModeSettings::BurstModeSettings(QWidget *parent)
    : QDialog(parent), ui(new Ui::BurstModeSettings),
      validator_(new BoundedIntValidator(1, kBurstModeValues.last, this))
{
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowCloseButtonHint);
    map_ = SettingsStore::instance().loadBurstMode();
    const int number = map_.value(NumberKey).toInt();
    const int interval = map_.value(IntervalKey).toInt();
    // Plain digits only: a group separator would make an acceptable text
    // that does not read back as a number.
    QLocale plain = QLocale::c();
    plain.setNumberOptions(QLocale::RejectGroupSeparator);
    validator_->setLocale(plain);
    ui->burstModeNumber_lineEdit->setValidator(validator_);
    ui->burstModeInterval_s_lineEdit->setValidator(validator_);
    ui->burstModeNumber_lineEdit->setText(QString::number(number));
    ui->burstModeInterval_s_lineEdit->setText(QString::number(interval));
}

BurstModeSettings::~BurstModeSettings()
{
    delete ui;
}

QMap<int, QVariant> BurstModeSettings::getBurstModeMap() const
{
    return map_;
}

void BurstModeSettings::retranslate()
{
    ui->retranslateUi(this);
}

void BurstModeSettings::storeField(int key, const QString &text, const char *slotName)
{
    // What the field shows is what a series runs with: an empty or zero
    // field is 0, which the main window refuses when a series starts.
    const int value = text.toInt();
    if (value == map_.value(key).toInt())
        return;
    qDebug().nospace().noquote() << slotName << value;
    map_[key] = value;
    SettingsStore::instance().setBurstModeValue(key, value);
}

void BurstModeSettings::on_burstModeNumber_lineEdit_textChanged(const QString &text)
{
    storeField(NumberKey, text, "on_burstModeNumber_lineEdit_textChanged: ");
}

void BurstModeSettings::on_burstModeInterval_s_lineEdit_textChanged(const QString &text)
{
    storeField(IntervalKey, text, "on_burstModeInterval_s_lineEdit_textChanged: ");
}
