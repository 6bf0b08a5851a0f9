#include "ip_setting.h"

#include "ui_ipsetting.h"

#include <QMessageBox>
#include <QRegularExpression>

namespace {

// A dotted-quad IPv4 address (four decimal parts of 0 to 255), nothing
// shorter, longer or in another notation; false otherwise.
bool parseIpv4(const QString &text, quint32 &address)
{
    static const QRegularExpression dottedQuad(QStringLiteral("^(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})$"));
    const QRegularExpressionMatch match = dottedQuad.match(text.trimmed());
    if (!match.hasMatch())
        return false;
    quint32 value = 0;
    for (int part = 1; part <= 4; ++part) {
        const uint byte = match.captured(part).toUInt();
        if (byte > 255)
            return false;
        value = (value << 8) | byte;
    }
    address = value;
    return true;
}

// Number of leading one bits of a contiguous mask; -1 when the ones are not contiguous.
int prefixLength(quint32 mask)
{
    const quint32 hostBits = ~mask;
    if ((hostBits & (hostBits + 1)) != 0)
        return -1;
    int length = 0;
    for (quint32 bit = 0x80000000u; bit && (mask & bit); bit >>= 1)
        ++length;
    return length;
}

// An address a device may hold in the subnet: not the subnet's own address
// nor its broadcast, not loopback, multicast or 0.0.0.0.
bool isHostAddress(quint32 address, quint32 mask)
{
    const quint32 first = address >> 24;
    if (address == 0 || first == 127 || first >= 224)
        return false;
    const quint32 host = address & ~mask;
    return host != 0 && host != ~mask;
}

} // namespace

IpSetting::IpSetting(QWidget *parent) : QDialog(parent), ui(new Ui::IpSetting)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowCloseButtonHint);
    // The DNS servers travel through unchanged; the camera's own values are kept.
    ui->preferredDns_lab->hide();
    ui->dns1_lineEdit->hide();
    ui->alternateDns_lab->hide();
    ui->dns2_lineEdit->hide();
}

IpSetting::~IpSetting()
{
    delete ui;
}

void IpSetting::setIpInfo(const IpInfo &info)
{
    shown_ = info;
    ui->dhcp_combobox->setCurrentIndex(info.dhcp ? 0 : 1);
    ui->IP_lineEdit->setText(info.ip);
    ui->gateway_lineEdit->setText(info.gateway);
    ui->netmask_lineEdit->setText(info.netmask);
    ui->dns1_lineEdit->setText(info.dns1);
    ui->dns2_lineEdit->setText(info.dns2);
}

IpInfo IpSetting::ipInfo() const
{
    IpInfo info;
    info.dhcp = ui->dhcp_combobox->currentIndex() == 0;
    info.ip = ui->IP_lineEdit->text();
    info.gateway = ui->gateway_lineEdit->text();
    info.netmask = ui->netmask_lineEdit->text();
    info.dns1 = ui->dns1_lineEdit->text();
    info.dns2 = ui->dns2_lineEdit->text();
    return info;
}

void IpSetting::retranslate()
{
    const int dhcpIndex = ui->dhcp_combobox->currentIndex();
    ui->retranslateUi(this);
    ui->dhcp_combobox->setCurrentIndex(dhcpIndex);
}

QString IpSetting::problemOf(const IpInfo &info)
{
    if (info.dhcp)
        return QString();
    quint32 address = 0, mask = 0, gateway = 0;
    if (!parseIpv4(info.ip, address))
        return tr("Please enter a valid IPv4 address, such as 192.168.1.100.");
    if (!parseIpv4(info.netmask, mask))
        return tr("Please enter a valid subnet mask, such as 255.255.255.0.");
    const int prefix = prefixLength(mask);
    if (prefix < 1 || prefix > 30)
        return tr("Please enter a valid subnet mask, such as 255.255.255.0.");
    if (!isHostAddress(address, mask))
        return tr("The IP address cannot be given to a camera in this subnet.");
    if (!info.gateway.trimmed().isEmpty()) {
        if (!parseIpv4(info.gateway, gateway))
            return tr("Please enter a valid default gateway, such as 192.168.1.1.");
        if ((gateway & mask) != (address & mask) || !isHostAddress(gateway, mask) || gateway == address)
            return tr("The default gateway must be another address in the camera's subnet.");
    }
    return QString();
}

bool IpSetting::movesCamera(const IpInfo &current, const IpInfo &next)
{
    if (current.dhcp != next.dhcp)
        return true;
    if (next.dhcp)
        return false;
    return current.ip.trimmed() != next.ip.trimmed() || current.netmask.trimmed() != next.netmask.trimmed();
}

void IpSetting::on_ipv4_accept_clicked()
{
    const IpInfo info = ipInfo();
    const QString problem = problemOf(info);
    if (!problem.isEmpty()) {
        QMessageBox::warning(nullptr, tr("Warning"), problem, QMessageBox::Ok);
        return;
    }
    if (movesCamera(shown_, info)) {
        QMessageBox question(QMessageBox::Question, tr("Notice"),
                             tr("After this change the camera may no longer be reachable at its current address. "
                                "Apply the new IP settings?"),
                             QMessageBox::Yes | QMessageBox::No);
        question.setDefaultButton(QMessageBox::No);
        question_ = &question;
        // No as well when the dialog closed meanwhile with its camera (done),
        // which the user is told of: nothing is left to send the change to.
        if (question.exec() != QMessageBox::Yes)
            return;
    }
    emit ipChanged(info);
    accept();
}

void IpSetting::done(int result)
{
    if (question_)
        question_->done(QMessageBox::No);
    QDialog::done(result);
}

void IpSetting::on_ipv4_reject_clicked()
{
    reject();
}
