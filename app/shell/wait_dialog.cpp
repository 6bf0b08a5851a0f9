#include "wait_dialog.h"

#include "ui_waitdialog.h"

#include <QMovie>

WaitDialog::WaitDialog(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::WaitDialog)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setWindowModality(Qt::WindowModal);

    // The animation runs for the dialog's whole life, shown or not, and is
    // stretched to the label, which grows with the dialog.
    movie_ = new QMovie(QStringLiteral(":/pic/loading_80px.gif"), QByteArray(), this);
    ui->gif_lab->setScaledContents(true);
    ui->gif_lab->setMovie(movie_);
    movie_->start();
}

WaitDialog::~WaitDialog()
{
    movie_->stop();
    delete ui;
}

void WaitDialog::setText(const QString &text)
{
    ui->text_lab->setText(text);
}

QString WaitDialog::text() const
{
    return ui->text_lab->text();
}
