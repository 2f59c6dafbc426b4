#include "panels/menu_pointcloud.hpp"

#include <QIcon>

#include "ui_menu_pointcloud.h"

menu_pointcloud::menu_pointcloud(QWidget* parent) : QWidget(parent), ui(new Ui::menu_pointcloud) {
    ui->setupUi(this);
    setWindowTitle(tr("TQ Point-Cloud Setting"));
    setWindowIcon(QIcon(":/icon/velkor_logo.ico"));
    setWindowModality(Qt::ApplicationModal);
    ui->tg_PointColor->setCurrentIndex(color_mode_);
    ui->sb_PointSize->setValue(point_size_);
    ui->sb_MinDistance->setValue(min_distance_);
    ui->sb_MaxDistance->setValue(max_distance_);
    ui->cb_Orthogonal->setChecked(orthogonal_);
    emit send_menu_pointcloud(false);
}

menu_pointcloud::~menu_pointcloud() {
    delete ui;
}

void menu_pointcloud::on_btn_apply_clicked() {
    color_mode_ = ui->tg_PointColor->currentIndex();
    point_size_ = ui->sb_PointSize->value();
    max_distance_ = ui->sb_MaxDistance->value();
    min_distance_ = ui->sb_MinDistance->value();
    orthogonal_ = ui->cb_Orthogonal->isChecked();
    emit send_menu_pointcloud(true);
}
