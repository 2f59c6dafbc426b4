#include "panels/tool_playbar.hpp"

#include <cmath>

#include <QDateTime>
#include <QLocale>
#include <QDir>
#include <QFileDialog>
#include <QTimer>

#include "ui_tool_playbar.h"

tool_playbar::tool_playbar(QWidget* parent)
    : QWidget(parent), ui(new Ui::tool_playbar), record_clock_(new QTimer(this)) {
    ui->setupUi(this);
    speed_ = ui->sb_speed->value();
    ui->btn_play->setToolTip(tr("Play"));
    ui->btn_pause->setToolTip(tr("Pause"));
    ui->btn_stop->setToolTip(tr("Stop"));
    ui->btn_repeat->setToolTip(tr("Repeat On"));
    ui->btn_record->setToolTip(tr("Record"));
    ui->btn_capture->setToolTip(tr("Capture"));
    connect(record_clock_, &QTimer::timeout, this, &tool_playbar::get_tool_record_frame);
    ui->le_frame->hide();
}

tool_playbar::~tool_playbar() {
    delete ui;
}

QString tool_playbar::fps_text() const {
    return ui->le_fps->text();
}

namespace {

// A double in its shortest general form: 100 stays "100", never "1e+02".
QString shortest(double v) {
    return QString::number(v, 'g', QLocale::FloatingPointShortest);
}

}  // namespace

QString tool_playbar::record_clock_text(qint64 elapsed_ms) {
    // Minutes and seconds of a UTC time that many seconds after the epoch.
    return "Record : " + QDateTime::fromSecsSinceEpoch(elapsed_ms / 1000, Qt::UTC).toString("mm'm'ss's'");
}

void tool_playbar::refresh_frame_text() {
    ui->le_frame_control->setText(tr("Frame : [%1/%2]").arg(shortest(current_frame_), shortest(total_frames_)));
}

void tool_playbar::set_current_frame(uint64_t n) {
    // Past the last frame the slider clamps and reports the last one; the
    // text still shows n (after the last frame: the total).
    ui->sl_frame_control->setValue(static_cast<int>(n));
    current_frame_ = static_cast<double>(n);
    refresh_frame_text();
}

void tool_playbar::set_total_frame(uint64_t n) {
    total_frames_ = static_cast<double>(n);
    // An empty recording keeps the range 0..0: a maximum of -1 would drag the
    // minimum below 0 and report a negative frame.
    ui->sl_frame_control->setMaximum(n > 0 ? static_cast<int>(total_frames_ - 1) : 0);
    refresh_frame_text();
}

void tool_playbar::get_tool_FPS(double val) {
    ui->le_fps->setText(tr("%1 FPS").arg(shortest(std::floor(val * 10.0) / 10.0)));
}

void tool_playbar::get_tool_stream_mode(bool enable) {
    for (QWidget* w : {static_cast<QWidget*>(ui->btn_play), static_cast<QWidget*>(ui->btn_pause),
                       static_cast<QWidget*>(ui->btn_stop), static_cast<QWidget*>(ui->btn_repeat),
                       static_cast<QWidget*>(ui->sb_speed), static_cast<QWidget*>(ui->sl_frame_control)})
        w->setEnabled(!enable);
}

void tool_playbar::get_tool_record_status(bool enable) {
    recording_ = enable;
    // Recording refused or ended elsewhere (cancelled dialog, failed start,
    // disconnect): no clock may keep counting a recording that is not made.
    if (!enable) {
        record_clock_->stop();
        ui->le_frame->clear();
        ui->le_frame->hide();
    } else if (!record_clock_->isActive()) {
        // Ten refreshes a second are plenty for a seconds display.
        record_clock_->start(100);
        record_start_.start();
        get_tool_record_frame();
        ui->le_frame->show();
    }
    ui->btn_record->setToolTip(enable ? tr("Record Stop") : tr("Record"));
    ui->btn_record->setStyleSheet(enable ? "QPushButton{image: url(:/icon/icon/icon_record_stop.png)}"
                                         : "QPushButton{image: url(:/icon/icon/icon_record.png)}");
}

void tool_playbar::on_btn_play_clicked() {
    emit send_tool_play_button(true);
    emit send_tool_stop_button(false);
}

void tool_playbar::on_btn_pause_clicked() {
    emit send_tool_play_button(false);
    emit send_tool_stop_button(false);
}

void tool_playbar::on_btn_stop_clicked() {
    emit send_tool_play_button(false);
    emit send_tool_stop_button(true);
}

void tool_playbar::on_sb_speed_valueChanged(double val) {
    speed_ = val;
    emit send_tool_speed(val);
}

void tool_playbar::on_btn_repeat_clicked() {
    repeat_ = !repeat_;
    // The tool tip names what the next click does.
    ui->btn_repeat->setToolTip(repeat_ ? tr("Repeat Off") : tr("Repeat On"));
    ui->btn_repeat->setStyleSheet(repeat_ ? "QPushButton{image: url(:/icon/icon/icon_repeat_1x.png)}"
                                          : "QPushButton{image: url(:/icon/icon/icon_repeat.png)}");
}

void tool_playbar::on_sl_frame_control_sliderPressed() {
    emit send_tool_slider_status(false);
}

void tool_playbar::on_sl_frame_control_sliderReleased() {
    emit send_tool_slider_status(true);
}

void tool_playbar::on_sl_frame_control_valueChanged(int value) {
    current_frame_ = static_cast<double>(value);
    emit send_tool_current_frame(static_cast<uint64_t>(current_frame_));
    refresh_frame_text();
}

void tool_playbar::on_btn_record_clicked() {
    if (recording_) {
        emit send_tool_record(false);
        record_clock_->stop();
        ui->le_frame->clear();
        ui->le_frame->hide();
        return;
    }
    // The clock starts when the recording does (get_tool_record_status),
    // not while the directory is still being chosen.
    emit send_tool_record(true);
}

void tool_playbar::get_tool_record_frame() {
    ui->le_frame->setText(record_clock_text(record_start_.elapsed()));
}

void tool_playbar::on_btn_capture_clicked() {
    const QString path = QFileDialog::getSaveFileName(nullptr, "Save current point cloud / images", QDir::homePath(),
                                                      tr("Point Cloud (.pcd) / Images (.png)"));
    if (!path.isEmpty())
        emit send_tool_capture(path);
}
