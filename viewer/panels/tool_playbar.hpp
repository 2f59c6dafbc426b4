#pragma once

#include <cstdint>

#include <QString>
#include <QElapsedTimer>
#include <QWidget>

class QTimer;

namespace Ui {
class tool_playbar;
}

// The bar below the views: replay controls, record and capture buttons, the
// frame counter and the frame rate. It only emits requests; the main window
// keeps the replay state and pushes position, totals and rates back.
class tool_playbar : public QWidget {
    Q_OBJECT

public:
    explicit tool_playbar(QWidget* parent = nullptr);
    ~tool_playbar() override;

    void set_current_frame(uint64_t n);
    void set_total_frame(uint64_t n);
    bool repeat() const { return repeat_; }
    QString fps_text() const;
    // The record field's text after elapsed_ms of recording: "Record : 01m05s"
    // after 65 s; minutes wrap at 60.
    static QString record_clock_text(qint64 elapsed_ms);

signals:
    void send_tool_play_button(bool enable);
    void send_tool_stop_button(bool enable);
    void send_tool_speed(double val);
    void send_tool_current_frame(uint64_t val);
    void send_tool_slider_status(bool enable);
    void send_tool_record(bool enable);
    void send_tool_capture(QString dir);

public slots:
    void get_tool_FPS(double val);
    void get_tool_stream_mode(bool enable);
    void get_tool_record_status(bool enable);

private slots:
    void on_btn_play_clicked();
    void on_btn_pause_clicked();
    void on_btn_stop_clicked();
    void on_sb_speed_valueChanged(double val);
    void on_btn_repeat_clicked();
    void on_sl_frame_control_sliderPressed();
    void on_sl_frame_control_sliderReleased();
    void on_sl_frame_control_valueChanged(int value);
    void on_btn_record_clicked();
    void on_btn_capture_clicked();
    void get_tool_record_frame();

private:
    void refresh_frame_text();

    double total_frames_ = 0;
    double current_frame_ = 0;
    double speed_ = 1.0;
    bool repeat_ = false;
    bool recording_ = false;
    Ui::tool_playbar* ui;
    QTimer* record_clock_;
    QElapsedTimer record_start_;
};
