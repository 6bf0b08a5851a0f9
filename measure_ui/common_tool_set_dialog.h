// The choice of the measuring tools that appear among the common-tool
// shortcuts of the measuring tool panel: the thirteen tools, each an icon
// beside a check box, at most seven checked at a time. Every accepted click
// sends the names of all checked tools at once, so the panel follows while
// the dialog is open. The dialog stores nothing. GUI thread only.
#pragma once

#include <QDialog>
#include <QMap>
#include <QStringList>

class QCheckBox;
class QPushButton;

namespace Ui {
class CommonToolSetDialog;
}

class CommonToolSetDialog : public QDialog
{
    Q_OBJECT
public:
    // One for each common-tool button of the panel.
    static constexpr int kMaxTools = 7;

    explicit CommonToolSetDialog(QWidget *parent = nullptr);
    ~CommonToolSetDialog() override;

    // The panel's current assignment (button to tool name, "" for a hidden
    // button); checks the boxes of those tools and sends nothing.
    void setCommonTools(const QMap<QPushButton *, QString> &tools);
    QStringList commonTools() const { return tools_; }

signals:
    // The checked tools, in form order.
    void sendCommonBtn(QStringList tools);

private slots:
    void on_drawLine_checkBox_clicked(bool checked);
    void on_drawRect_checkBox_clicked(bool checked);
    void on_drawHLine_checkBox_clicked(bool checked);
    void on_drawVLine_checkBox_clicked(bool checked);
    void on_drawPar_checkBox_clicked(bool checked);
    void on_drawVer_checkBox_clicked(bool checked);
    void on_drawPoly_checkBox_clicked(bool checked);
    void on_drawCircle_checkBox_clicked(bool checked);
    void on_drawArc_checkBox_clicked(bool checked);
    void on_drawAng_checkBox_clicked(bool checked);
    void on_drawThreeAng_checkBox_clicked(bool checked);
    void on_drawTwoCircle_checkBox_clicked(bool checked);
    void on_drawLineCircle_checkBox_clicked(bool checked);

private:
    void boxClicked(QCheckBox *box, bool checked);
    // Every check box of the form, in form order.
    QList<QCheckBox *> boxes() const;
    static QString toolName(const QCheckBox *box);

    Ui::CommonToolSetDialog *ui;
    QStringList tools_;
};
