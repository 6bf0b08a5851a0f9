#include "line_width_combobox.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>

QPenWidth::QPenWidth(QWidget *parent) : QLabel(parent) {}

void QPenWidth::setPenStyle(Qt::PenStyle style)
{
    style_ = style;
    update();
}

void QPenWidth::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(QPen(Qt::white, 1, style_));
    const int middle = height() / 2;
    painter.drawLine(0, middle, width() / 2, middle);
}

QPenWidget::QPenWidget(QWidget *parent) : QLineEdit(parent), square_(new QLabel(this)), sample_(new QPenWidth(this))
{
    square_->setFixedSize(12, 12);
    auto *layout = new QHBoxLayout;
    layout->addWidget(square_);
    layout->addWidget(sample_);
    layout->setContentsMargins(5, 0, 0, 2);
    setLayout(layout);
    setReadOnly(true);
    setStyleSheet(QStringLiteral("QLineEdit{border: none;}QLineEdit:hover{background-color:rgb(0,125,255);}"));
}

void QPenWidget::setPenStyle(Qt::PenStyle style)
{
    style_ = style;
    sample_->setPenStyle(style);
}

void QPenWidget::mousePressEvent(QMouseEvent *)
{
    emit click(style_);
}

QLineWidthCombobox::QLineWidthCombobox(QWidget *parent)
    : QComboBox(parent), face_(new QPenWidget), list_(new QListWidget)
{
    // An empty sheet replaces the row's hover rule: the closed face does not light up.
    face_->setStyleSheet(QString());
    setContextMenuPolicy(Qt::NoContextMenu);
    list_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setStyleSheet(QStringLiteral("QListWidget::Item:hover{background-color:rgb(0,125,255);}"));
    setLineEdit(face_);
    setModel(list_->model());
    setView(list_);
}

void QLineWidthCombobox::appendItem(const Qt::PenStyle &style)
{
    auto *row = new QPenWidget(this);
    row->setPenStyle(style);
    connect(row, &QPenWidget::click, this, &QLineWidthCombobox::onClickPenWidget);
    auto *item = new QListWidgetItem;
    // Once rows exist they draw their own hover colour.
    list_->setStyleSheet(QStringLiteral("background-color: transparent ; border-radius: 5px;"));
    list_->insertItem(list_->count(), item);
    list_->setItemWidget(item, row);
}

void QLineWidthCombobox::showStyle(Qt::PenStyle style)
{
    current_ = style;
    face_->setPenStyle(style);
}

void QLineWidthCombobox::setCurrentStyle(Qt::PenStyle style)
{
    showStyle(style);
    emit SelectedItemChanged(current_);
}

void QLineWidthCombobox::onClickPenWidget(Qt::PenStyle index)
{
    showStyle(index);
    hidePopup();
    emit SelectedItemChanged(current_);
}
