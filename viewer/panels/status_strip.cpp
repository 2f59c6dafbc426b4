#include "panels/status_strip.hpp"

#include <QHBoxLayout>
#include <QLabel>

namespace {

QString value(double v, int decimals) {
    return v < 0.0 ? QString("-") : QString::number(v, 'f', decimals);
}

QLabel* field(const char* name, QHBoxLayout* layout, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    layout->addWidget(label);
    return label;
}

}  // namespace

status_strip::status_strip(QWidget* parent) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 0, 4, 0);
    layout->setSpacing(16);
    source_ = field("lel_source", layout, this);
    layout->addStretch(1);
    sensor_fps_ = field("lel_sensor_fps", layout, this);
    display_fps_ = field("lel_display_fps", layout, this);
    loss_ = field("lel_loss", layout, this);
    data_rate_ = field("lel_data_rate", layout, this);
    set_source(tr("Not connected"));
    set_rates(-1.0, -1.0, -1.0, -1.0);
}

void status_strip::set_source(const QString& text) {
    source_->setText(text);
}

void status_strip::set_rates(double sensor_fps, double display_fps, double loss_percent, double megabytes_per_s) {
    sensor_fps_->setText(tr("Sensor %1 fps").arg(value(sensor_fps, 1)));
    display_fps_->setText(tr("Display %1 fps").arg(value(display_fps, 1)));
    loss_->setText(tr("Loss %1 %").arg(value(loss_percent, 1)));
    data_rate_->setText(tr("Data %1 MB/s").arg(value(megabytes_per_s, 2)));
}

QString status_strip::source_text() const {
    return source_->text();
}

QString status_strip::text() const {
    return QStringList{source_->text(), sensor_fps_->text(), display_fps_->text(), loss_->text(),
                       data_rate_->text()}
        .join(" | ");
}
