#include "calibration_combo_box.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QScrollBar>
#include <QStyleOptionComboBox>

ComboItem::ComboItem(const QString &text, QWidget *parent)
    : QWidget(parent), text_(text), deleteButton_(new QPushButton(this))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addStretch();
    layout->addWidget(deleteButton_);
    deleteButton_->setIcon(QIcon(QPixmap(QStringLiteral(":/pic/del.png")).scaled(16, 16)));
    deleteButton_->setIconSize(QSize(16, 16));
    deleteButton_->setStyleSheet(QStringLiteral("border: none;"));
    connect(deleteButton_, &QPushButton::clicked, this, &ComboItem::deleteBtnClicked);
}

ComboView::ComboView(QWidget *parent) : QListWidget(parent) {}

QRect ComboView::visualRect(const QModelIndex &index) const
{
    QRect rect = QListWidget::visualRect(index);
    int width = viewport()->width();
    if (verticalScrollBar()->isVisible())
        width = this->width() - verticalScrollBar()->width();
    rect.setWidth(width);
    return rect;
}

ComboBox::ComboBox(QWidget *parent) : QComboBox(parent), view_(new ComboView(this))
{
    setModel(view_->model());
    setView(view_);
}

bool ComboBox::addRow(const QString &text, const QVariant &data, const QVariant &key)
{
    // The item is complete before it joins the list: the box selects a first
    // row as soon as it is inserted, and whoever listens finds its data.
    auto *item = new QListWidgetItem;
    item->setText(text);
    item->setData(Qt::UserRole, data);
    item->setData(KeyRole, key);
    item->setToolTip(text);
    view_->addItem(item);
    auto *row = new ComboItem(text, view_);
    view_->setItemWidget(item, row);
    connect(row, &ComboItem::deleteBtnClicked, this, [this, row] { removeRow(row); }, Qt::DirectConnection);
    if (view_->count() == 1)
        emit currentIndexChanged(0);
    return true;
}

void ComboBox::removeRow(ComboItem *row)
{
    hidePopup();
    // The row is found when its button is clicked: earlier deletions have
    // moved it since it was added.
    int index = -1;
    for (int i = 0; i < view_->count(); ++i) {
        if (view_->itemWidget(view_->item(i)) == row) {
            index = i;
            break;
        }
    }
    if (index < 0)
        return;
    const QString text = row->text();
    const QVariant key = view_->item(index)->data(KeyRole);
    delete view_->takeItem(index);
    // The button's own click is still running: the row widget goes later.
    row->deleteLater();
    emit itemRemoved(text, key);
}

void ComboBox::hidePopup()
{
    QStyleOptionComboBox option;
    initStyleOption(&option);
    const bool centred = style()->styleHint(QStyle::SH_ComboBox_Popup, &option, this);
    view_->scrollTo(view_->currentIndex(), centred ? QAbstractItemView::PositionAtCenter
                                                   : QAbstractItemView::EnsureVisible);
    QComboBox::hidePopup();
}
