#include "panels/menu_grid.hpp"

#include <QIcon>

#include "ui_menu_grid.h"

menu_grid::menu_grid(QWidget* parent) : QWidget(parent), ui(new Ui::menu_grid) {
    ui->setupUi(this);
    setWindowTitle(tr("TQ Grid Setting"));
    setWindowIcon(QIcon(":/icon/velkor_logo.ico"));
    setWindowModality(Qt::ApplicationModal);
}

menu_grid::~menu_grid() {
    delete ui;
}

void menu_grid::on_btn_apply_clicked() {
    grid_size_ = ui->sb_grid_size->value();
    max_distance_ = ui->sb_max_dist->value();
    font_size_ = ui->sb_font_size->value();
    enable_ = ui->cb_grid_enable->isChecked();
    emit send_menu_grid(true);
}
