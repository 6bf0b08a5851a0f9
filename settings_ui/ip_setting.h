// The dialog that shows and edits a network camera's IP configuration. The
// addresses are checked before they go to the camera, and a change that moves
// the camera to another address is confirmed first.
#pragma once

#include "camera_types.h"

#include <QDialog>
#include <QPointer>

class QMessageBox;

namespace Ui {
class IpSetting;
}

class IpSetting : public QDialog
{
    Q_OBJECT
public:
    explicit IpSetting(QWidget *parent = nullptr);
    ~IpSetting() override;

    // Fills the form; the configuration is also kept to tell what the user changed.
    void setIpInfo(const IpInfo &info);
    // The configuration as the form holds it now.
    IpInfo ipInfo() const;
    void retranslate();

    // Why `info` cannot be sent to a camera (translated), or an empty text.
    // A static address needs a host IPv4 address, a contiguous subnet mask and
    // a gateway (when one is given) inside the subnet; with DHCP the
    // addresses are the camera's own and pass unchecked.
    static QString problemOf(const IpInfo &info);
    // Whether going from `current` to `next` changes the address the camera
    // is reached at (DHCP switched, or another address or subnet).
    static bool movesCamera(const IpInfo &current, const IpInfo &next);

    // Closing the dialog (its camera gone) also answers No to a question
    // still open over it.
    void done(int result) override;

signals:
    void ipChanged(IpInfo info);

private slots:
    void on_ipv4_accept_clicked();
    void on_ipv4_reject_clicked();

private:
    Ui::IpSetting *ui;
    IpInfo shown_;
    QPointer<QMessageBox> question_;
};
