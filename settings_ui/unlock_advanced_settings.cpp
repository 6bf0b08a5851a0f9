#include "unlock_advanced_settings.h"

#include "ui_unlockadvancedsettings.h"

#include <QCloseEvent>
#include <QCryptographicHash>
#include <QMessageBox>

namespace {

// SHA-256 over the salt and the previous round, kRounds times, starting from
// salt + the UTF-8 text: what a guess costs is the reason for the rounds.
constexpr int kRounds = 20000;

struct StoredSecret {
    const char *salt;    // hex
    const char *digest;  // hex
};

constexpr StoredSecret kAdministrator = {"ab56183936c5ffc63d04aea6ad8fd833",
                                         "f7c831ffc48f891cf8e88d9b582137dea3cc6617a2d0396d6a42b611897b5a0b"};
constexpr StoredSecret kFactory = {"31463b65b4dfd731c3bc7ff33367dfd1",
                                   "74ca693c581bc129e7c39cf8afc9fc1fa7b62e1f206a0091b2ad39ca9d841a52"};

QByteArray stretchedHash(const QByteArray &salt, const QString &text)
{
    QByteArray digest = salt + text.toUtf8();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (int round = 0; round < kRounds; ++round) {
        hash.reset();
        hash.addData(salt);
        hash.addData(digest);
        digest = hash.result();
    }
    return digest;
}

// Every byte is looked at whatever the first difference, so the time taken
// tells nothing about how much of a guess was right.
bool sameBytes(const QByteArray &a, const QByteArray &b)
{
    if (a.size() != b.size())
        return false;
    unsigned char difference = 0;
    for (int i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

bool matches(const StoredSecret &secret, const QString &text)
{
    return sameBytes(stretchedHash(QByteArray::fromHex(secret.salt), text), QByteArray::fromHex(secret.digest));
}

} // namespace

UnlockCode unlockCodeOf(const QString &text)
{
    // Both are always checked, so neither answer comes sooner than the other.
    const bool factory = matches(kFactory, text);
    const bool administrator = matches(kAdministrator, text);
    if (factory)
        return UnlockCode::Factory;
    return administrator ? UnlockCode::Administrator : UnlockCode::None;
}

UnlockAdvancedSettings::UnlockAdvancedSettings(QWidget *parent)
    : QDialog(parent), ui(new Ui::UnlockAdvancedSettings)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowCloseButtonHint);
}

UnlockAdvancedSettings::~UnlockAdvancedSettings()
{
    delete ui;
}

void UnlockAdvancedSettings::retranslate()
{
    ui->retranslateUi(this);
}

void UnlockAdvancedSettings::message(int icon, const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::Icon(icon), title, text);
    box.addButton(tr("OK"), QMessageBox::AcceptRole);
    box.exec();
}

void UnlockAdvancedSettings::on_unlock_tBtn_clicked()
{
    const QString text = ui->password_lineEdit->text();
    if (text.isEmpty()) {
        message(QMessageBox::Warning, tr("Warning"), tr("Failed to unlock, password is empty!"));
        return;
    }
    switch (unlockCodeOf(text)) {
    case UnlockCode::Factory:
        emit showProduceTestDialog();
        reject();
        return;
    case UnlockCode::Administrator:
        clearPassword();
        message(QMessageBox::Information, tr("Info"), tr("Unlock successfully!"));
        accept();
        return;
    case UnlockCode::None:
        message(QMessageBox::Warning, tr("Warning"), tr("Failed to unlock, wrong password!"));
        return;
    }
}

void UnlockAdvancedSettings::on_password_lineEdit_returnPressed()
{
    on_unlock_tBtn_clicked();
}

void UnlockAdvancedSettings::done(int result)
{
    clearPassword();
    QDialog::done(result);
}

void UnlockAdvancedSettings::closeEvent(QCloseEvent *event)
{
    QDialog::closeEvent(event);
    clearPassword();
}

void UnlockAdvancedSettings::clearPassword()
{
    // setText, unlike clear(), also drops the undo history, which would
    // otherwise bring the typed text back.
    ui->password_lineEdit->setText(QString());
}
