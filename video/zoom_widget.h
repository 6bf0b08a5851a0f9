// The two auto-repeating zoom buttons over the live picture.
#pragma once

#include <QWidget>

namespace Ui {
class ZoomWidget;
}

class ZoomWidget : public QWidget
{
    Q_OBJECT
public:
    explicit ZoomWidget(QWidget *parent = nullptr);
    ~ZoomWidget() override;
    void retranslate();

signals:
    void increaseOrDecreaseZoom(bool increase);

private slots:
    void on_ZoomAdd_Btn_pressed();
    void on_ZoomSub_Btn_pressed();

private:
    Ui::ZoomWidget *ui;
};
