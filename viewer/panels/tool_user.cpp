#include "panels/tool_user.hpp"

#include <QDir>
#include <QFileDialog>

#include "ui_tool_user.h"

tool_user::tool_user(QWidget* parent)
    : QWidget(parent),
      connection_(new menu_connection),
      device_(new menu_device_user),
      image_(new menu_image),
      pointcloud_(new menu_pointcloud),
      grid_(new menu_grid),
      ui(new Ui::tool_user) {
    ui->setupUi(this);
    ui->btn_connect->setToolTip(tr("Connection"));
    ui->btn_load->setToolTip(tr("Data Load"));
    ui->btn_device_user->setToolTip(tr("Device Setting"));
    ui->btn_pointcloud->setToolTip(tr("Point Cloud Setting"));
    ui->btn_image->setToolTip(tr("Image Setting"));
    ui->btn_grid->setToolTip(tr("Grid Setting"));
    ui->btn_xy_axis->setToolTip(tr("View : XY-axis"));
    ui->btn_yz_axis->setToolTip(tr("View : YZ-axis"));
    ui->btn_zx_axis->setToolTip(tr("View : ZX-axis"));

    connect(pointcloud_.get(), &menu_pointcloud::send_menu_pointcloud, this, &tool_user::get_tool_pointcloud);
    connect(image_.get(), &menu_image::send_menu_image, this, &tool_user::get_tool_image);
    connect(grid_.get(), &menu_grid::send_menu_grid, this, &tool_user::get_tool_grid);
    connect(device_.get(), &menu_device_user::send_menu_setting_file, this, &tool_user::get_tool_setting_file);
    connect(device_.get(), &menu_device_user::send_menu_flash_write, this, &tool_user::get_tool_flahs_write);
    connect(device_.get(), &menu_device_user::send_menu_firmware_upload, this,
            &tool_user::get_tool_firmware_upload);
}

tool_user::~tool_user() {
    delete ui;
}

void tool_user::raise_window(QWidget* window) {
    if (!window->isActiveWindow())
        window->activateWindow();
    window->show();
}

void tool_user::on_btn_connect_clicked() {
    raise_window(connection_.get());
}

void tool_user::on_btn_device_user_clicked() {
    raise_window(device_.get());
}

void tool_user::on_btn_pointcloud_clicked() {
    raise_window(pointcloud_.get());
}

void tool_user::on_btn_image_clicked() {
    raise_window(image_.get());
}

void tool_user::on_btn_grid_clicked() {
    raise_window(grid_.get());
}

void tool_user::on_btn_load_clicked() {
    // The current source is closed before the dialog opens, so cancelling it
    // leaves the viewer disconnected.
    emit send_tool_play_mode(false);
    data_file_path = QFileDialog::getOpenFileName(nullptr, "Load TQ Data", QDir::homePath(), tr("Record TQ Data(*.bin)"));
    if (!data_file_path.isEmpty())
        emit send_tool_play_mode(true);
}

void tool_user::load_file(const QString& path) {
    emit send_tool_play_mode(false);
    data_file_path = path;
    if (!data_file_path.isEmpty())
        emit send_tool_play_mode(true);
}

void tool_user::on_btn_xy_axis_clicked() {
    emit send_tool_xy_axis(true);
}

void tool_user::on_btn_yz_axis_clicked() {
    emit send_tool_yz_axis(true);
}

void tool_user::on_btn_zx_axis_clicked() {
    emit send_tool_zx_axis(true);
}

void tool_user::get_tool_pointcloud(bool enable) {
    if (enable) {
        pointcloud.color_mode = pointcloud_->color_mode();
        pointcloud.point_size = pointcloud_->point_size();
        pointcloud.max_distance = pointcloud_->max_distance();
        pointcloud.min_distance = pointcloud_->min_distance();
        pointcloud.orthogonal = pointcloud_->orthogonal();
    }
    emit send_tool_pointcloud(enable);
}

void tool_user::get_tool_image(bool enable) {
    if (enable) {
        using t = menu_image::type;
        const menu_image& w = *image_;
        image.auto_norm_ambient = w.auto_norm(t::ambient);
        image.auto_norm_depth = w.auto_norm(t::depth);
        image.auto_norm_intensity = w.auto_norm(t::intensity);
        image.min_ambient = w.min_val(t::ambient);
        image.min_depth = w.min_val(t::depth);
        image.min_intensity = w.min_val(t::intensity);
        image.max_ambient = w.max_val(t::ambient);
        image.max_depth = w.max_val(t::depth);
        image.max_intensity = w.max_val(t::intensity);
        image.hist_ambient = w.hist_mode(t::ambient);
        image.hist_depth = w.hist_mode(t::depth);
        image.hist_intensity = w.hist_mode(t::intensity);
        image.grey_ambient = w.grey_mode(t::ambient);
        image.grey_depth = w.grey_mode(t::depth);
        image.grey_intensity = w.grey_mode(t::intensity);
    }
    emit send_tool_image(enable);
}

void tool_user::get_tool_grid(bool enable) {
    if (enable) {
        grid.grid_size = grid_->grid_size();
        grid.max_distance = grid_->max_distance();
        grid.font_size = grid_->font_size();
        grid.enable = grid_->grid_enable();
    }
    emit send_tool_grid(enable);
}

void tool_user::get_tool_setting_file(QString dir) {
    emit send_tool_setting_file(dir);
}

void tool_user::get_tool_flahs_write(bool enable) {
    emit send_tool_flahs_write(enable);
}

void tool_user::get_tool_firmware_upload(QString dir) {
    emit send_tool_firmware_upload(dir);
}

void tool_user::get_tool_connection_status(bool enable) {
    ui->btn_load->setEnabled(!enable);
}

void tool_user::get_tool_close_all() {
    for (QWidget* w : {static_cast<QWidget*>(connection_.get()), static_cast<QWidget*>(device_.get()),
                       static_cast<QWidget*>(image_.get()), static_cast<QWidget*>(pointcloud_.get()),
                       static_cast<QWidget*>(grid_.get())})
        if (w->isVisible())
            w->close();
}
