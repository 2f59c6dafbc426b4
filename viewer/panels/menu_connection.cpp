#include "panels/menu_connection.hpp"

#include <QIcon>
#include <QKeyEvent>

#include "ui_menu_connection.h"

menu_connection::menu_connection(QWidget* parent) : QWidget(parent), ui(new Ui::menu_connection) {
    ui->setupUi(this);
    setWindowTitle(tr("TQ Connection"));
    setWindowIcon(QIcon(":/icon/velkor_logo.ico"));
    setWindowModality(Qt::ApplicationModal);
    ui->btn_disconnect->setEnabled(false);
    ui->le_device_ip->setText(device_ip_);
    ui->le_pc_ip->setText(pc_ip_);
    ui->le_device_port->setText(QString::number(device_port_));
    ui->le_pc_port->setText(QString::number(pc_port_));
}

menu_connection::~menu_connection() {
    delete ui;
}

void menu_connection::connect_to(const QString& ip, int port) {
    ui->le_device_ip->setText(ip);
    ui->le_device_port->setText(QString::number(port));
    on_btn_connect_clicked();
}

void menu_connection::on_btn_connect_clicked() {
    device_ip_ = ui->le_device_ip->text();
    pc_ip_ = ui->le_pc_ip->text();
    // Text that is not a decimal number gives 0.
    device_port_ = ui->le_device_port->text().toInt();
    pc_port_ = ui->le_pc_port->text().toInt();
    emit send_menu_connect_status(true);
    close();
}

void menu_connection::on_btn_disconnect_clicked() {
    emit send_menu_connect_status(false);
    close();
}

void menu_connection::get_menu_btn_connect_control(bool enable) {
    ui->btn_connect->setEnabled(!enable);
    ui->btn_disconnect->setEnabled(enable);
}

void menu_connection::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape)
        close();
    else
        QWidget::keyPressEvent(event);
}
