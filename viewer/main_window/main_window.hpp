#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <QElapsedTimer>
#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <QThread>

#include "api/lidar_tq.hpp"

class QDockWidget;
class QDragEnterEvent;
class QDropEvent;
class QMenu;
class QSettings;
class QTimer;
class sensor_worker;
class status_strip;
class tool_log;
class tool_playbar;
class tool_user;
class viewer_image;
class viewer_pointcloud;

namespace Ui {
class MainWindow;
}

// The hub of Nimbra Studio: owns the sensor worker (which owns the sensor
// handle on a thread of its own), the replay timer and the scene the views
// show; builds the five docks, wires the panels and carries out everything
// that touches the sensor. Panels only emit.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Start-up actions taken as if the user had used the windows: connect in
    // stream mode to ip:port, or open a recording. Both return at once; the
    // window shows the connect under way and connected() turns true when the
    // source is open.
    void start_stream(const QString& ip, int port);
    void start_replay(const QString& path);

    // Window geometry, display settings and recent files are kept in
    // `settings` from now on (restored at once, saved on close); without it
    // nothing is stored.
    void use_settings(QSettings* settings);
    QStringList recent_files() const { return recent_files_; }

    // The firmware-status callback handed to the library; runs on a library
    // thread and only emits signals, which Qt delivers queued.
    static void firmware_status(void* user, std::string message);

    tool_user* user_bar() const { return user_; }
    tool_playbar* play_bar() const { return playbar_; }
    tool_log* log_panel() const { return log_; }
    viewer_image* image_view() const { return image_view_; }
    viewer_pointcloud* pointcloud_view() const { return pointcloud_view_; }
    status_strip* status() const { return status_; }
    bool connected() const { return source_ == source_t::stream || source_ == source_t::replay; }
    // A connect or a file open is under way.
    bool opening() const { return source_ == source_t::opening; }
    // Scenes shown since the source was opened.
    uint64_t frames_displayed() const { return frames_displayed_; }

signals:
    void send_main_data(VELKOR::LidarTQ::scene_t& scene);
    void send_main_btn_connect_control(bool enable);
    void send_main_current_network(std::vector<QString>& msg);
    void send_main_playmode_FPS(double val);
    void send_main_stream_mode(bool enable);
    void send_main_record_status(bool enable);
    void send_main_pointcloud(int color, std::vector<double>& val, bool enable);
    void send_main_image_auto_norm_ambient(bool enable);
    void send_main_image_auto_norm_depth(bool enable);
    void send_main_image_auto_norm_intensity(bool enable);
    void send_main_image_min_val_ambient(double val);
    void send_main_image_min_val_depth(double val);
    void send_main_image_min_val_intensity(double val);
    void send_main_image_max_val_ambient(double val);
    void send_main_image_max_val_depth(double val);
    void send_main_image_max_val_intensity(double val);
    void send_main_image_hist_mode_ambient(bool enable);
    void send_main_image_hist_mode_depth(bool enable);
    void send_main_image_hist_mode_intensity(bool enable);
    void send_main_image_grey_mode_ambient(bool enable);
    void send_main_image_grey_mode_depth(bool enable);
    void send_main_image_grey_mode_intensity(bool enable);
    void send_main_grid_setting(std::vector<double>& val, bool enable);
    void send_main_xy_axis(bool enable);
    void send_main_yz_axis(bool enalbe);
    void send_main_zx_axis(bool enable);
    void send_main_firmware_progress(int val);
    void send_main_log_message(QString str);
    void send_main_close_all();

private slots:
    void get_main_connect_status(bool enable);
    void get_main_device_connect();
    void get_main_device_disconnect();
    void get_main_network_change(std::vector<QString>& msg);
    void get_main_current_network(std::vector<QString>& msg);
    void get_main_playmode_status(bool enable);
    void get_main_playmode_play_button(bool enable);
    void get_main_playmode_stop_button(bool enable);
    void get_main_playmode_speed(double val);
    void get_main_playmode_currrent_frame(uint64_t val);
    void get_main_playmode_slider_status(bool enable);
    void get_main_playmode_record(bool enable);
    void get_main_firmware_upload(QString dir);
    void get_main_setting_file(QString dir);
    void get_main_flash_write(bool enable);
    void get_main_pointcloud(bool enable);
    void get_main_image(bool enable);
    void get_main_grid(bool enable);
    void get_main_xy_axis(bool enable);
    void get_main_yz_axis(bool enable);
    void get_main_zx_axis(bool enable);
    void get_main_log(QString msg);

    void main_tick();

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    enum class source_t { none, opening, stream, replay };

    QDockWidget* make_dock(const char* name, QWidget* panel);
    void connect_stream();
    void connect_play();
    void on_stream_opened(bool connected, bool running, QString why);
    void on_replay_opened(bool opened, quint64 frames, double rate);
    bool take_open_answer();
    void on_scene_ready(bool ok);
    void show_scene();
    void update_status();
    // Replay pacing: frame k after the anchor is due k periods after it.
    void anchor_replay();
    void schedule_next_frame();
    void request_frame(uint64_t index);
    // Keys of the replay: one frame back or on, the first or the last frame.
    void step_frame(int64_t delta);
    void seek_frame(uint64_t index);
    void add_recent_file(const QString& path);
    void fill_recent_menu();
    // Stops a running stream recording and reports it off to the play bar.
    void end_recording();
    // A write to the recording failed: ends it and says why.
    void recording_failed();

    Ui::MainWindow* ui;
    std::string play_path_8bit_;
    tool_user* user_;  // each panel is owned by its dock
    tool_playbar* playbar_;
    tool_log* log_;
    viewer_pointcloud* pointcloud_view_;
    viewer_image* image_view_;
    QTimer* frame_timer_;
    std::string device_ip_;
    int device_port_ = 0;
    std::string pc_ip_;
    int pc_port_ = 0;
    bool play_mode_ = false;
    bool playing_ = false;
    bool stopped_ = false;
    bool slider_released_ = true;
    QString play_file_path_;
    uint64_t total_frames_ = 0;
    uint64_t current_frame_ = 0;
    double speed_ = 1.0;
    double base_frame_rate_ = 0.0;
    bool recording_ = false;
    int pc_color_ = 0;
    double pc_point_size_ = 0.0, pc_max_distance_ = 0.0, pc_min_distance_ = 0.0;
    bool pc_orthogonal_ = false;
    bool auto_norm_[3] = {false, false, false};  // ambient, depth, intensity
    double min_val_[3] = {0.0, 0.0, 0.0};
    double max_val_[3] = {0.0, 0.0, 0.0};
    bool hist_[3] = {false, false, false};
    bool grey_[3] = {false, false, false};
    double grid_size_ = 0.0, grid_max_distance_ = 0.0, grid_font_size_ = 0.0;
    bool grid_enable_ = false;
    bool xy_axis_ = false, yz_axis_ = false, zx_axis_ = false;
    QThread sensor_thread_;
    sensor_worker* worker_;  // lives on sensor_thread_
    source_t source_ = source_t::none;
    // Answers still to come of opens that were cancelled: the worker answers
    // in order, and these are not for the open now under way.
    int cancelled_opens_ = 0;
    VELKOR::LidarTQ::scene_t scene_;
    int64_t last_frame_time_ = 0;  // 100-ns ticks since 1970
    status_strip* status_;
    QTimer* status_timer_;
    uint64_t frames_displayed_ = 0, frames_at_last_status_ = 0;
    QElapsedTimer status_clock_;
    // Replay pacing.
    QElapsedTimer replay_clock_;
    qint64 anchor_ns_ = 0;
    uint64_t frames_since_anchor_ = 0;
    bool awaiting_frame_ = false;  // a requested replay frame is not back yet
    bool behind_ = false;          // a frame fell due while the last was awaited
    QSettings* settings_ = nullptr;
    QStringList recent_files_;
    QMenu* recent_menu_;
};
