// A drop-down list whose popup rows each carry a small delete button; the
// measuring tool panel lists its calibrations in it. The box knows nothing
// of calibrations: a row holds a text, one data value (role Qt::UserRole)
// and a key (KeyRole) that tells rows with the same text apart. GUI thread
// only.
#pragma once

#include <QComboBox>
#include <QListWidget>
#include <QWidget>

class QPushButton;

// The row widget: a stretch and the delete button at the right end; the list
// draws the row's text underneath.
class ComboItem : public QWidget
{
    Q_OBJECT
public:
    ComboItem(const QString &text, QWidget *parent = nullptr);
    QString text() const { return text_; }
    QPushButton *deleteButton() const { return deleteButton_; }

signals:
    void deleteBtnClicked();

private:
    QString text_;
    QPushButton *deleteButton_;
};

class ComboView : public QListWidget
{
    Q_OBJECT
public:
    explicit ComboView(QWidget *parent = nullptr);
    // Rows span the visible width of the popup, so the delete buttons do too.
    QRect visualRect(const QModelIndex &index) const override;
};

class ComboBox : public QComboBox
{
    Q_OBJECT
public:
    enum { KeyRole = Qt::UserRole + 1 };

    explicit ComboBox(QWidget *parent = nullptr);

    // Adds a row at the end; always true.
    bool addRow(const QString &text, const QVariant &data, const QVariant &key = QVariant());
    ComboView *comboView() const { return view_; }
    void hidePopup() override;

signals:
    // A row was deleted through its button.
    void itemRemoved(const QString &text, const QVariant &key);

private:
    void removeRow(ComboItem *row);

    ComboView *view_;
};
