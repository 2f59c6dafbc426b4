#pragma once

#include <QString>
#include <QWidget>

namespace Ui {
class menu_connection;
}

// "TQ Connection": the sensor's and the PC's address and port, and the
// connect / disconnect requests. The main window reads the four values.
class menu_connection : public QWidget {
    Q_OBJECT

public:
    explicit menu_connection(QWidget* parent = nullptr);
    ~menu_connection() override;

    QString device_ip() const { return device_ip_; }
    QString pc_ip() const { return pc_ip_; }
    int device_port() const { return device_port_; }
    int pc_port() const { return pc_port_; }

    // Fills in the sensor's address and presses "Connect", as a user would.
    void connect_to(const QString& ip, int port);

signals:
    void send_menu_connect_status(bool enable);

public slots:
    void get_menu_btn_connect_control(bool enable);

private slots:
    void on_btn_connect_clicked();
    void on_btn_disconnect_clicked();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QString device_ip_ = "192.168.1.10";
    QString pc_ip_ = "0.0.0.0";
    int device_port_ = 2000;
    int pc_port_ = 0;
    Ui::menu_connection* ui;
};
