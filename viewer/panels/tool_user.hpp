#pragma once

#include <memory>

#include <QString>
#include <QWidget>

#include "panels/menu_connection.hpp"
#include "panels/menu_device_user.hpp"
#include "panels/menu_grid.hpp"
#include "panels/menu_image.hpp"
#include "panels/menu_pointcloud.hpp"

namespace Ui {
class tool_user;
}

// The left-hand column of nine buttons. It owns the five settings windows,
// opens them, asks for a recording to replay and relays each window's apply
// with a copy of its values, which the main window then reads.
class tool_user : public QWidget {
    Q_OBJECT

public:
    explicit tool_user(QWidget* parent = nullptr);
    ~tool_user() override;

    menu_connection* connection_window() const { return connection_.get(); }
    menu_device_user* device_window() const { return device_.get(); }
    menu_image* image_window() const { return image_.get(); }
    menu_pointcloud* pointcloud_window() const { return pointcloud_.get(); }
    menu_grid* grid_window() const { return grid_.get(); }

    // Opens a recording as "Data Load" does once a file is chosen.
    void load_file(const QString& path);

    QString data_file_path;
    struct pointcloud_values {
        int color_mode = 0;
        double point_size = 0.0, max_distance = 0.0, min_distance = 0.0;
        bool orthogonal = false;
    } pointcloud;
    struct image_values {
        bool auto_norm_ambient = false, auto_norm_depth = false, auto_norm_intensity = false;
        double min_ambient = 0.0, min_depth = 0.0, min_intensity = 0.0;
        double max_ambient = 0.0, max_depth = 0.0, max_intensity = 0.0;
        bool hist_ambient = false, hist_depth = false, hist_intensity = false;
        bool grey_ambient = false, grey_depth = false, grey_intensity = false;
    } image;
    struct grid_values {
        bool enable = false;
        double grid_size = 0.0, max_distance = 0.0, font_size = 0.0;
    } grid;

signals:
    void send_tool_play_mode(bool enable);
    void send_tool_pointcloud(bool enable);
    void send_tool_image(bool enable);
    void send_tool_grid(bool enable);
    void send_tool_xy_axis(bool enable);
    void send_tool_yz_axis(bool enable);
    void send_tool_zx_axis(bool enable);
    void send_tool_setting_file(QString dir);
    void send_tool_flahs_write(bool enable);
    void send_tool_firmware_upload(QString dir);

public slots:
    void get_tool_pointcloud(bool enable);
    void get_tool_image(bool enable);
    void get_tool_grid(bool enable);
    void get_tool_setting_file(QString dir);
    void get_tool_flahs_write(bool enable);
    void get_tool_firmware_upload(QString dir);
    void get_tool_connection_status(bool enable);
    void get_tool_close_all();

private slots:
    void on_btn_connect_clicked();
    void on_btn_load_clicked();
    void on_btn_device_user_clicked();
    void on_btn_pointcloud_clicked();
    void on_btn_image_clicked();
    void on_btn_grid_clicked();
    void on_btn_xy_axis_clicked();
    void on_btn_yz_axis_clicked();
    void on_btn_zx_axis_clicked();

private:
    static void raise_window(QWidget* window);

    // Declared first so that they exist before the form's buttons are wired.
    std::unique_ptr<menu_connection> connection_;
    std::unique_ptr<menu_device_user> device_;
    std::unique_ptr<menu_image> image_;
    std::unique_ptr<menu_pointcloud> pointcloud_;
    std::unique_ptr<menu_grid> grid_;
    Ui::tool_user* ui;
};
