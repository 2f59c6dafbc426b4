#include "panels/tool_view.hpp"

#include <QSignalBlocker>

#include "ui_tool_view.h"

tool_view::tool_view(QWidget* parent) : QWidget(parent), ui(new Ui::tool_view) {
    ui->setupUi(this);
    ui->btn_birds_eye->setToolTip(tr("View : Bird's-eye"));
    ui->btn_projection->setToolTip(tr("Orthographic / Perspective"));
    ui->btn_reset_view->setToolTip(tr("Reset View"));
    ui->btn_clear_picks->setToolTip(tr("Clear Picks"));
}

tool_view::~tool_view() {
    delete ui;
}

void tool_view::get_tool_orthographic(bool enable) {
    const QSignalBlocker quiet(ui->btn_projection);
    ui->btn_projection->setChecked(enable);
}
