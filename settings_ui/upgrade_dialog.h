// The firmware upgrade dialog: picks the package file (remembered as
// "UpgradeFilePath"), asks for confirmation and hands the path on.
#pragma once

#include <QDialog>

#include <functional>

namespace Ui {
class UpgradeDialog;
}

class UpgradeDialog : public QDialog
{
    Q_OBJECT
public:
    // Asks the user for a file: (parent, title, start folder, filter) -> path,
    // empty when cancelled. A file dialog unless a test gives another.
    using FileChooser = std::function<QString(QWidget *, const QString &, const QString &, const QString &)>;

    explicit UpgradeDialog(QWidget *parent = nullptr);
    ~UpgradeDialog() override;

    QString filePath() const;
    void setFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }
    void retranslate();

signals:
    void upgrade(QString upgradeFilePath);

private slots:
    void on_openUpgradeFile_btn_clicked();
    void on_upgrade_btn_clicked();
    void on_upgradeFilePath_lineEdit_textChanged(QString text);

private:
    Ui::UpgradeDialog *ui;
    FileChooser chooser_;
};
