// The pen-style picker: a combo box whose closed face and popup rows show a
// drawn sample of a line style instead of a text. Owners add the styles with
// appendItem (solid, dash, dot), then call setCurrentStyle with the stored
// style and listen to SelectedItemChanged.
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

class QListWidget;
class QMouseEvent;
class QPaintEvent;

// The sample: a white line of the style across the left half of the widget.
class QPenWidth : public QLabel
{
    Q_OBJECT
public:
    explicit QPenWidth(QWidget *parent = nullptr);
    void setPenStyle(Qt::PenStyle style);
    Qt::PenStyle penStyle() const { return style_; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Qt::PenStyle style_ = Qt::SolidLine;
};

// One row (also the picker's closed face): an empty 12 x 12 square, then the
// sample. A press anywhere on it reports the row's style.
class QPenWidget : public QLineEdit
{
    Q_OBJECT
public:
    explicit QPenWidget(QWidget *parent = nullptr);
    // The row's style and its sample's, repainted.
    void setPenStyle(Qt::PenStyle style);
    Qt::PenStyle penStyle() const { return style_; }
    QPenWidth *sample() const { return sample_; }

signals:
    void click(Qt::PenStyle index);

protected:
    // Never handed on to the line edit: the row is not for typing.
    void mousePressEvent(QMouseEvent *event) override;

private:
    QLabel *square_;
    QPenWidth *sample_;
    Qt::PenStyle style_ = Qt::SolidLine;
};

class QLineWidthCombobox : public QComboBox
{
    Q_OBJECT
public:
    explicit QLineWidthCombobox(QWidget *parent = nullptr);

    // Adds a row for the style at the end of the popup list.
    void appendItem(const Qt::PenStyle &style);
    // Makes the style current (the popup stays as it is) and emits
    // SelectedItemChanged, also when the style was current already.
    void setCurrentStyle(Qt::PenStyle style);
    Qt::PenStyle currentStyle() const { return current_; }
    QPenWidget *face() const { return face_; }
    QListWidget *list() const { return list_; }

signals:
    void SelectedItemChanged(Qt::PenStyle style);

public slots:
    // A row was pressed: its style becomes current and the popup closes.
    void onClickPenWidget(Qt::PenStyle index);

private:
    void showStyle(Qt::PenStyle style);

    QPenWidget *face_;
    QListWidget *list_;
    Qt::PenStyle current_ = Qt::SolidLine;
};
