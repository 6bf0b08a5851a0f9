#include "pen_style_picker.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>

QPenWidth::QPenWidth(QWidget *parent) : QLabel(parent) {}

void QPenWidth::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(QPen(QBrush(Qt::white), 1, style_));
    const int y = height() / 2;
    painter.drawLine(0, y, width() / 2, y);
}

QPenWidget::QPenWidget(QWidget *parent)
    : QLineEdit(parent), spacer_(new QLabel(this)), sample_(new QPenWidth(this))
{
    spacer_->setFixedSize(12, 12);
    auto *layout = new QHBoxLayout;
    layout->addWidget(spacer_);
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
    sample_->update();
}

void QPenWidget::mousePressEvent(QMouseEvent *event)
{
    event->accept();
    emit click(style_);
}

QLineWidthCombobox::QLineWidthCombobox(QWidget *parent)
    : QComboBox(parent), face_(new QPenWidget), list_(new QListWidget)
{
    // Styles may also travel through queued connections and signal spies.
    qRegisterMetaType<Qt::PenStyle>("Qt::PenStyle");
    // An empty sheet replaces the face's hover rule: the closed box does not light up.
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
    // From now on the rows' own hover rule shows the hover colour.
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

void QLineWidthCombobox::onClickPenWidget(const Qt::PenStyle &style)
{
    showStyle(style);
    hidePopup();
    emit SelectedItemChanged(current_);
}
