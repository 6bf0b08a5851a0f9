#include "upgrade_dialog.h"

#include "settings_store.h"
#include "ui_upgradedialog.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace {

constexpr int kUpgradeFilePathKey = 0;  // "UpgradeFilePath" in group "base"

} // namespace

UpgradeDialog::UpgradeDialog(QWidget *parent)
    : QDialog(parent), ui(new Ui::UpgradeDialog), chooser_([](QWidget *parent, const QString &title,
                                                              const QString &folder, const QString &filter) {
          return QFileDialog::getOpenFileName(parent, title, folder, filter);
      })
{
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowCloseButtonHint);
    QVariant stored;
    if (SettingsStore::instance().baseValue(kUpgradeFilePathKey, stored) && !stored.toString().isEmpty())
        ui->upgradeFilePath_lineEdit->setText(stored.toString());
}

UpgradeDialog::~UpgradeDialog()
{
    delete ui;
}

QString UpgradeDialog::filePath() const
{
    return ui->upgradeFilePath_lineEdit->text();
}

void UpgradeDialog::retranslate()
{
    ui->retranslateUi(this);
}

void UpgradeDialog::on_openUpgradeFile_btn_clicked()
{
    QString folder = ui->upgradeFilePath_lineEdit->text();
    if (folder.isEmpty())
        folder = QCoreApplication::applicationDirPath();
    const QString path = chooser_(this, tr("Open File"), folder, tr("Upgrade File (*.qpk *.bin)"));
    if (path.isEmpty())
        return;
    qDebug().nospace().noquote() << "Upgrade File Name: " << path;
    SettingsStore::instance().setBaseValue(kUpgradeFilePathKey, path);
    ui->upgradeFilePath_lineEdit->setText(path);
}

void UpgradeDialog::on_upgradeFilePath_lineEdit_textChanged(QString text)
{
    QLineEdit *edit = ui->upgradeFilePath_lineEdit;
    const bool tooWide = edit->fontMetrics().horizontalAdvance(text) > edit->width();
    edit->setToolTip(tooWide ? text : QString());
    edit->setCursorPosition(0);
}

void UpgradeDialog::on_upgrade_btn_clicked()
{
    const QString path = filePath();
    if (path.isEmpty()) {
        qDebug() << "Please select upgrade file first";
        QMessageBox box(QMessageBox::Information, tr("Info"), tr("Please select upgrade file first!"));
        box.addButton(tr("OK"), QMessageBox::AcceptRole);
        box.exec();
        reject();
        return;
    }
    QMessageBox box(QMessageBox::Question, tr("Notice"), tr("Are you sure to upgrade?"));
    QPushButton *ok = box.addButton(tr("OK"), QMessageBox::AcceptRole);
    box.addButton(tr("Cancel"), QMessageBox::RejectRole);
    box.exec();
    if (box.clickedButton() != ok)
        return;
    qDebug().nospace().noquote() << "Net upgrade. Upgrade File Name: " << path;
    emit upgrade(path);
    accept();
}
