// The pen-style picker: a combo box whose closed face and popup rows show a
// drawn sample of a line style instead of text. Owners fill it with
// appendItem (solid, dash, dot), connect SelectedItemChanged and then call
// setCurrentStyle with the stored style. GUI thread only.
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

class QListWidget;

// The sample: one white line of the style across the left half of the widget.
class QPenWidth : public QLabel
{
    Q_OBJECT
public:
    explicit QPenWidth(QWidget *parent = nullptr);
    void setPenStyle(Qt::PenStyle style) { style_ = style; }
    Qt::PenStyle penStyle() const { return style_; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Qt::PenStyle style_ = Qt::SolidLine;
};

// One row of the picker (and its closed face): an empty 12 by 12 label, then
// the sample. A press anywhere on the row reports the row's style.
class QPenWidget : public QLineEdit
{
    Q_OBJECT
public:
    explicit QPenWidget(QWidget *parent = nullptr);
    void setPenStyle(Qt::PenStyle style);
    Qt::PenStyle penStyle() const { return style_; }
    QPenWidth *sample() const { return sample_; }

signals:
    void click(const Qt::PenStyle &style);

protected:
    // Not handed on to QLineEdit: the row is a button, not a text field.
    void mousePressEvent(QMouseEvent *event) override;

private:
    QLabel *spacer_;
    QPenWidth *sample_;
    Qt::PenStyle style_ = Qt::SolidLine;
};

class QLineWidthCombobox : public QComboBox
{
    Q_OBJECT
public:
    explicit QLineWidthCombobox(QWidget *parent = nullptr);

    void appendItem(const Qt::PenStyle &style);
    // Shows the style on the face and reports it, also when it is already
    // current; an open popup stays open.
    void setCurrentStyle(Qt::PenStyle style);
    Qt::PenStyle currentStyle() const { return current_; }
    QPenWidget *face() const { return face_; }
    QListWidget *list() const { return list_; }

signals:
    void SelectedItemChanged(Qt::PenStyle style);

public slots:
    // A row was pressed: its style becomes current and the popup closes.
    void onClickPenWidget(const Qt::PenStyle &style);

private:
    void showStyle(Qt::PenStyle style);

    QPenWidget *face_;
    QListWidget *list_;
    Qt::PenStyle current_ = Qt::SolidLine;
};
