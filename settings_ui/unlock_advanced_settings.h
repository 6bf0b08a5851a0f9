// The administrator lock of the camera settings panel's advanced tab. The
// dialog accepts the administrator password (the tab opens) and the factory
// access code (the production-test window is asked for; the tab stays
// locked). Neither value is kept in the program: only salted, stretched
// hashes, compared in constant time. The password field is cleared whenever
// the dialog closes.
#pragma once

#include <QDialog>

namespace Ui {
class UnlockAdvancedSettings;
}

enum class UnlockCode { None, Administrator, Factory };
// Which of the two fixed values `text` is, compared whole and case-sensitively.
UnlockCode unlockCodeOf(const QString &text);

class UnlockAdvancedSettings : public QDialog
{
    Q_OBJECT
public:
    explicit UnlockAdvancedSettings(QWidget *parent = nullptr);
    ~UnlockAdvancedSettings() override;

    void retranslate();
    void done(int result) override;

signals:
    void showProduceTestDialog();

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    void on_unlock_tBtn_clicked();
    void on_password_lineEdit_returnPressed();

private:
    void clearPassword();
    static void message(int icon, const QString &title, const QString &text);

    Ui::UnlockAdvancedSettings *ui;
};
