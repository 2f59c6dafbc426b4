#pragma once

#include <vector>

#include <QString>
#include <QWidget>

namespace Ui {
class menu_device_user;
}

// "TQ Device Settings": the sensor's network settings, a JSON setting file
// to apply, saving to flash, and a firmware row that stays hidden.
class menu_device_user : public QWidget {
    Q_OBJECT

public:
    enum class field_kind { address, port };

    explicit menu_device_user(QWidget* parent = nullptr);
    ~menu_device_user() override;

    // Format check of one network field: an address has exactly three dots
    // and four non-empty parts; a port is non-empty and has no dot.
    static bool field_ok(const QString& text, field_kind kind);
    // A port as the sensor takes it: decimal digits only, 1 to 65535.
    static bool port_number(const QString& text, int& port);
    const std::vector<QString>& network() const { return network_; }

signals:
    void send_menu_current_network(std::vector<QString>& msg);
    void send_menu_setting_file(QString dir);
    void send_menu_flash_write(bool enable);
    void send_menu_firmware_upload(QString dir);

public slots:
    void get_menu_current_network(std::vector<QString>& msg);
    void get_menu_firmware_progress(int val);
    void get_menu_tcp_message(QString str);

private slots:
    void on_btn_change_network_clicked();
    void on_btn_file_name_clicked();
    void on_btn_setting_apply_clicked();
    void on_btn_flash_write_clicked();
    void on_btn_clear_clicked();
    void on_btn_fw_file_clicked();
    void on_btn_fw_upload_clicked();

private:
    void fill_fields();

    Ui::menu_device_user* ui;
    std::vector<QString> network_ = {"192.168.1.10", "2000", "192.168.1.15", "2000", "192.168.1.1", "255.255.255.0",
                                     "0.0.0.0.0.0"};
};
