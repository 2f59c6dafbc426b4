#include "panels/menu_device_user.hpp"

#include <QDir>
#include <QFileDialog>
#include <QIcon>
#include <QMessageBox>

#include "ui_menu_device_user.h"

menu_device_user::menu_device_user(QWidget* parent) : QWidget(parent), ui(new Ui::menu_device_user) {
    ui->setupUi(this);
    setWindowTitle(tr("TQ Device Settings"));
    setWindowIcon(QIcon(":/icon/velkor_logo.ico"));
    ui->lel_firmware_update->hide();
    ui->le_fw_file->hide();
    ui->lel_fw->hide();
    ui->btn_fw_file->hide();
    ui->btn_fw_upload->hide();
    ui->pb_firmware_update->hide();
    fill_fields();
}

menu_device_user::~menu_device_user() {
    delete ui;
}

void menu_device_user::fill_fields() {
    ui->le_tq_ip->setText(network_[0]);
    ui->le_tq_port->setText(network_[1]);
    ui->le_pc_ip->setText(network_[2]);
    ui->le_pc_port->setText(network_[3]);
    ui->le_gateway->setText(network_[4]);
    ui->le_netmask->setText(network_[5]);
}

bool menu_device_user::field_ok(const QString& text, field_kind kind) {
    const QStringList parts = text.split('.', Qt::KeepEmptyParts);
    const int dots = parts.size() - 1;
    if (dots > 5)
        return false;
    if (kind == field_kind::port)
        return dots == 0 && !text.isEmpty();
    if (dots != 3)
        return false;
    for (const QString& part : parts)
        if (part.isEmpty())
            return false;
    return true;
}

bool menu_device_user::port_number(const QString& text, int& port) {
    if (text.isEmpty() || text.size() > 5)
        return false;
    for (const QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    const int value = text.toInt();
    if (value < 1 || value > 65535)
        return false;
    port = value;
    return true;
}

void menu_device_user::on_btn_change_network_clicked() {
    const std::vector<QString> fields = {ui->le_tq_ip->text(),  ui->le_tq_port->text(), ui->le_pc_ip->text(),
                                         ui->le_pc_port->text(), ui->le_gateway->text(), ui->le_netmask->text()};
    const field_kind kinds[6] = {field_kind::address, field_kind::port,    field_kind::address,
                                 field_kind::port,    field_kind::address, field_kind::address};
    bool all_ok = true;
    for (int i = 0; i < 6; ++i)
        all_ok = field_ok(fields[i], kinds[i]) && all_ok;
    if (!all_ok) {
        QMessageBox::warning(this, tr("IP Setting fail"), tr("IP setting apply fail. Check the format"),
                             QMessageBox::Ok);
        return;
    }
    network_ = fields;
    emit send_menu_current_network(network_);
}

void menu_device_user::on_btn_file_name_clicked() {
    ui->le_file_name->setText(QFileDialog::getOpenFileName(nullptr, "Choose the setting file.", QDir::homePath(),
                                                           tr("TQ-Z Setting file(*.json)")));
}

void menu_device_user::on_btn_setting_apply_clicked() {
    emit send_menu_setting_file(ui->le_file_name->text());
}

void menu_device_user::on_btn_flash_write_clicked() {
    emit send_menu_flash_write(true);
}

void menu_device_user::on_btn_clear_clicked() {
    ui->te_log->clear();
}

void menu_device_user::on_btn_fw_file_clicked() {
    ui->le_fw_file->setText(QFileDialog::getOpenFileName(nullptr, "Choose the firmware upload file.",
                                                         QDir::homePath(), tr("Firmware binary(*.bin)")));
}

void menu_device_user::on_btn_fw_upload_clicked() {
    if (ui->le_fw_file->text().isEmpty()) {
        QMessageBox::warning(this, tr("Warning"), tr("Firmware file wrong"), QMessageBox::Ok);
        return;
    }
    emit send_menu_firmware_upload(ui->le_fw_file->text());
}

void menu_device_user::get_menu_current_network(std::vector<QString>& msg) {
    for (size_t i = 0; i < msg.size() && i < network_.size(); ++i)
        network_[i] = msg[i];
    fill_fields();
}

void menu_device_user::get_menu_firmware_progress(int val) {
    ui->pb_firmware_update->setValue(val == -2 ? 0 : val);
}

void menu_device_user::get_menu_tcp_message(QString str) {
    ui->te_log->append(str);
}
