// The small modal dialogs with which the annotation panel edits the pen of
// the crosshair and of the marks (LinePropertySetDialog), the pen and the
// counts of the grid lines (GridlinesSetDialog), and the font and leader-line
// pen of text labels (TextPropertySetDialog). The first two neither read nor
// write settings: the caller fills them, runs exec() and stores what they
// return on acceptance. The text dialog loads its values from the settings
// store and writes them back itself on OK. GUI thread only.
#pragma once

#include <QColor>
#include <QDialog>
#include <QFont>

namespace Ui {
class LinePropertySetDialog;
class GridlinesSetDialog;
class TextPropertySetDialog;
}

class LinePropertySetDialog : public QDialog
{
    Q_OBJECT
public:
    explicit LinePropertySetDialog(QWidget *parent = nullptr);
    ~LinePropertySetDialog() override;

    // An invalid colour (none stored) starts as the black the scene draws.
    void setColor(const QColor &color);
    // The row of the width (its place in the offered widths); beyond the
    // list it shows the nearest row.
    void setSizeIndex(int index) { sizeIndex_ = index; }
    void setLineStyle(const Qt::PenStyle &style) { style_ = style; }
    // Shows the values set above; call once before exec().
    void updateForm();

    QColor color() const { return color_; }
    Qt::PenStyle lineStyle() const { return style_; }
    int lineSize() const;

private slots:
    void on_OK_btn_clicked();
    void on_Cancel_btn_clicked();
    void on_lineColor_tBtn_clicked();
    void onLineStylePic_Cbox_IndexChanged(Qt::PenStyle style);

private:
    Ui::LinePropertySetDialog *ui;
    QColor color_;
    int sizeIndex_ = 0;
    Qt::PenStyle style_ = Qt::SolidLine;
};

class GridlinesSetDialog : public QDialog
{
    Q_OBJECT
public:
    explicit GridlinesSetDialog(QWidget *parent = nullptr);
    ~GridlinesSetDialog() override;

    void setColor(const QColor &color);
    void setSizeIndex(int index) { sizeIndex_ = index; }
    void setLineStyle(const Qt::PenStyle &style) { style_ = style; }
    // The rows of the counts; beyond the list they show the nearest row.
    void setHLinesIndex(int index) { hLinesIndex_ = index; }
    void setVLinesIndex(int index) { vLinesIndex_ = index; }
    void updateForm();

    QColor color() const { return color_; }
    Qt::PenStyle lineStyle() const { return style_; }
    int lineSize() const;
    int hLines() const;
    int vLines() const;

private slots:
    void on_OK_btn_clicked();
    void on_Cancel_btn_clicked();
    void on_gridlinesColor_tBtn_clicked();
    void onLineStylePic_Cbox_IndexChanged(Qt::PenStyle style);

private:
    Ui::GridlinesSetDialog *ui;
    QColor color_;
    int sizeIndex_ = 0;
    Qt::PenStyle style_ = Qt::SolidLine;
    int hLinesIndex_ = 1;
    int vLinesIndex_ = 1;
};

class TextPropertySetDialog : public QDialog
{
    Q_OBJECT
public:
    explicit TextPropertySetDialog(QWidget *parent = nullptr);
    ~TextPropertySetDialog() override;

    // Valid after an accepted exec().
    QColor textColor() const { return textColor_; }
    QFont font() const { return font_; }
    int fontSize() const { return fontSize_; }
    QColor lineColor() const { return lineColor_; }
    int lineSize() const { return lineSize_; }
    Qt::PenStyle lineStyle() const { return lineStyle_; }

private slots:
    void on_OK_btn_clicked();
    void on_Cancel_btn_clicked();
    void on_lineColor_tBtn_clicked();
    void on_fontColor_tBtn_clicked();
    void onLineStylePic_Cbox_IndexChanged(Qt::PenStyle style);

private:
    Ui::TextPropertySetDialog *ui;
    QColor textColor_;
    int fontSize_ = 13;
    QFont font_;
    QColor lineColor_;
    Qt::PenStyle lineStyle_ = Qt::SolidLine;
    int lineSize_ = 0;
};
