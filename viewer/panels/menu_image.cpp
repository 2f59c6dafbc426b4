#include "panels/menu_image.hpp"

#include <QIcon>

#include "ui_menu_image.h"

menu_image::menu_image(QWidget* parent) : QWidget(parent), ui(new Ui::menu_image) {
    ui->setupUi(this);
    setWindowTitle(tr("TQ Image Setting"));
    setWindowIcon(QIcon(":/icon/velkor_logo.ico"));
    setWindowModality(Qt::ApplicationModal);
    load_inputs(selected_);
    emit send_menu_image(false);
}

menu_image::~menu_image() {
    delete ui;
}

void menu_image::load_inputs(int t) {
    ui->cb_auto_normal->setChecked(auto_norm_[t]);
    ui->sb_min_val->setValue(min_val_[t]);
    ui->sb_max_val->setValue(max_val_[t]);
    ui->cb_hist_equal->setChecked(hist_[t]);
    ui->cb_grey->setChecked(grey_[t]);
}

void menu_image::on_tg_image_type_currentIndexChanged(int index) {
    if (index < 0 || index > 2)
        return;
    selected_ = index;
    load_inputs(index);
}

void menu_image::on_btn_apply_clicked() {
    const int t = selected_;
    auto_norm_[t] = ui->cb_auto_normal->isChecked();
    min_val_[t] = ui->sb_min_val->value();
    max_val_[t] = ui->sb_max_val->value();
    hist_[t] = ui->cb_hist_equal->isChecked();
    grey_[t] = ui->cb_grey->isChecked();
    emit send_menu_image(true);
}
