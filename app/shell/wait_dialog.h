// The small borderless box with a loading animation and one line of text
// that the main window shows while it is busy (taking a photo, say). It
// blocks input to its parent window while shown, but not its caller.
#pragma once

#include <QDialog>

class QMovie;

namespace Ui {
class WaitDialog;
}

class WaitDialog : public QDialog
{
    Q_OBJECT
public:
    explicit WaitDialog(QWidget *parent = nullptr);
    ~WaitDialog() override;

    // Shown from now on, also when set while the dialog is hidden.
    void setText(const QString &text);
    QString text() const;
    QMovie *movie() const { return movie_; }

private:
    Ui::WaitDialog *ui;
    QMovie *movie_ = nullptr;
};
