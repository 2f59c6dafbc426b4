#include "main_window/main_window.hpp"

#include <chrono>

#include <QCloseEvent>
#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QIcon>
#include <QMessageBox>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>

#include "panels/tool_log.hpp"
#include "panels/tool_playbar.hpp"
#include "panels/tool_user.hpp"
#include "panels/tool_view.hpp"
#include "ui_main_window.h"
#include "views/viewer_image.hpp"
#include "views/viewer_pointcloud.hpp"

namespace {

const char* const kConnectSettingFile = "./LiDAR_connect_setting.json";

// Wall-clock time in 100-ns ticks since 1970.
int64_t wall_clock_ticks() {
    using ticks = std::chrono::duration<int64_t, std::ratio<1, 10000000>>;
    return std::chrono::duration_cast<ticks>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::string to_8bit(const QString& s) {
    return s.toLocal8Bit().toStdString();
}

// Frames of the open recording. The library reports the last frame number,
// which is 4294967295 (0 - 1 in 32 bits) for a file without frames; the
// replay needs the count, so that the last frame is shown too.
uint64_t frame_count(VELKOR::LidarTQ& sensor) {
    uint64_t last = 0;
    if (!sensor.get_file_size(last) || last >= 0xFFFFFFFFull)
        return 0;
    return last + 1;
}

// The number of a firmware progress report, the text after "PG": the library
// sends it with decimals ("25.000000"), of which the bar shows the whole part.
// Anything else is no number, and the report is then logged as it came.
bool progress_value(const QString& rest, int& value) {
    static const QRegularExpression number("^([+-]?[0-9]{1,9})(\\.[0-9]+)?$");
    const QRegularExpressionMatch m = number.match(rest);
    if (!m.hasMatch())
        return false;
    value = m.captured(1).toInt();
    return true;
}

// The wait cursor for the length of one operation, restored on every path.
struct WaitCursor {
    WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
};

}  // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent),
      ui(new Ui::MainWindow),
      user_(new tool_user),
      playbar_(new tool_playbar),
      log_(new tool_log),
      pointcloud_view_(new viewer_pointcloud),
      image_view_(new viewer_image),
      frame_timer_(new QTimer(this)) {
    ui->setupUi(this);
    frame_timer_->setInterval(0);
    frame_timer_->setTimerType(Qt::PreciseTimer);

    move(100, 100);
    setDockOptions(QMainWindow::DockOptions(8));  // ForceTabbedDocks
    setWindowTitle(tr("Nimbra Studio"));
    setWindowIcon(QIcon(":/icon/velkor_logo.ico"));

    addDockWidget(Qt::LeftDockWidgetArea, make_dock("user_Dock", user_));
    QDockWidget* playbar_dock = make_dock("playbar_Dock", playbar_);
    addDockWidget(Qt::BottomDockWidgetArea, playbar_dock);
    QDockWidget* log_dock = make_dock("log_Dock", log_);
    log_dock->setAllowedAreas(Qt::BottomDockWidgetArea);
    addDockWidget(Qt::BottomDockWidgetArea, log_dock);
    splitDockWidget(playbar_dock, log_dock, Qt::Vertical);
    // The user tool bar runs the full height of the window.
    setCorner(Qt::BottomLeftCorner, Qt::LeftDockWidgetArea);
    setCorner(Qt::TopLeftCorner, Qt::LeftDockWidgetArea);
    setCorner(Qt::BottomRightCorner, Qt::RightDockWidgetArea);
    setCorner(Qt::TopRightCorner, Qt::RightDockWidgetArea);
    setCentralWidget(make_dock("pointcloud_Dock", pointcloud_view_));
    addDockWidget(Qt::TopDockWidgetArea, make_dock("image_Dock", image_view_));

    menu_connection* connection = user_->connection_window();
    menu_device_user* device = user_->device_window();

    connect(frame_timer_, &QTimer::timeout, this, &MainWindow::main_tick);                                    // 1
    connect(this, &MainWindow::send_main_btn_connect_control, connection,
            &menu_connection::get_menu_btn_connect_control);                                                   // 2
    connect(connection, &menu_connection::send_menu_connect_status, this, &MainWindow::get_main_connect_status);  // 3
    connect(user_, &tool_user::send_tool_play_mode, this, &MainWindow::get_main_playmode_status);               // 4
    connect(playbar_, &tool_playbar::send_tool_play_button, this, &MainWindow::get_main_playmode_play_button);  // 5
    connect(playbar_, &tool_playbar::send_tool_stop_button, this, &MainWindow::get_main_playmode_stop_button);  // 6
    connect(this, &MainWindow::send_main_playmode_FPS, playbar_, &tool_playbar::get_tool_FPS);                  // 7
    connect(playbar_, &tool_playbar::send_tool_speed, this, &MainWindow::get_main_playmode_speed);              // 8
    connect(playbar_, &tool_playbar::send_tool_current_frame, this,
            &MainWindow::get_main_playmode_currrent_frame);                                                    // 9
    connect(playbar_, &tool_playbar::send_tool_slider_status, this,
            &MainWindow::get_main_playmode_slider_status);                                                     // 10
    connect(playbar_, &tool_playbar::send_tool_record, this, &MainWindow::get_main_playmode_record);            // 11
    connect(playbar_, &tool_playbar::send_tool_capture, pointcloud_view_,
            &viewer_pointcloud::get_viewer_playmode_capture);                                                  // 12
    connect(this, &MainWindow::send_main_stream_mode, playbar_, &tool_playbar::get_tool_stream_mode);           // 13
    connect(this, &MainWindow::send_main_stream_mode, user_, &tool_user::get_tool_connection_status);           // 14
    connect(this, &MainWindow::send_main_record_status, playbar_, &tool_playbar::get_tool_record_status);       // 15
    connect(user_, &tool_user::send_tool_firmware_upload, this, &MainWindow::get_main_firmware_upload);         // 16
    connect(user_, &tool_user::send_tool_setting_file, this, &MainWindow::get_main_setting_file);               // 17
    connect(user_, &tool_user::send_tool_flahs_write, this, &MainWindow::get_main_flash_write);                 // 18
    connect(this, &MainWindow::send_main_firmware_progress, device,
            &menu_device_user::get_menu_firmware_progress);                                                    // 19
    connect(device, &menu_device_user::send_menu_current_network, this, &MainWindow::get_main_network_change);  // 20
    connect(this, &MainWindow::send_main_current_network, device, &menu_device_user::get_menu_current_network); // 21
    connect(this, &MainWindow::send_main_current_network, this, &MainWindow::get_main_current_network);         // 22
    connect(user_, &tool_user::send_tool_pointcloud, this, &MainWindow::get_main_pointcloud);                   // 23
    connect(this, &MainWindow::send_main_pointcloud, pointcloud_view_, &viewer_pointcloud::get_viewer_pointcloud);  // 24
    connect(image_view_, &viewer_image::send_viewer_image_ambient_img, pointcloud_view_,
            &viewer_pointcloud::get_viewer_image_ambient_img);                                                 // 25
    connect(image_view_, &viewer_image::send_viewer_image_depth_img, pointcloud_view_,
            &viewer_pointcloud::get_viewer_image_depth_img);                                                   // 26
    connect(image_view_, &viewer_image::send_viewer_image_intensity_img, pointcloud_view_,
            &viewer_pointcloud::get_viewer_image_intensity_img);                                               // 27
    connect(user_, &tool_user::send_tool_image, this, &MainWindow::get_main_image);                             // 28
    connect(this, &MainWindow::send_main_image_auto_norm_ambient, image_view_,
            &viewer_image::get_main_image_auto_norm_ambient);                                                  // 29
    connect(this, &MainWindow::send_main_image_auto_norm_depth, image_view_,
            &viewer_image::get_main_image_auto_norm_depth);                                                    // 30
    connect(this, &MainWindow::send_main_image_auto_norm_intensity, image_view_,
            &viewer_image::get_main_image_auto_norm_intensity);                                                // 31
    connect(this, &MainWindow::send_main_image_min_val_ambient, image_view_,
            &viewer_image::get_main_image_min_val_ambient);                                                    // 32
    connect(this, &MainWindow::send_main_image_min_val_depth, image_view_,
            &viewer_image::get_main_image_min_val_depth);                                                      // 33
    connect(this, &MainWindow::send_main_image_min_val_intensity, image_view_,
            &viewer_image::get_main_image_min_val_intensity);                                                  // 34
    connect(this, &MainWindow::send_main_image_max_val_ambient, image_view_,
            &viewer_image::get_main_image_max_val_ambient);                                                    // 35
    connect(this, &MainWindow::send_main_image_max_val_depth, image_view_,
            &viewer_image::get_main_image_max_val_depth);                                                      // 36
    connect(this, &MainWindow::send_main_image_max_val_intensity, image_view_,
            &viewer_image::get_main_image_max_val_intensity);                                                  // 37
    connect(this, &MainWindow::send_main_image_hist_mode_ambient, image_view_,
            &viewer_image::get_main_image_hist_mode_ambient);                                                  // 38
    connect(this, &MainWindow::send_main_image_hist_mode_depth, image_view_,
            &viewer_image::get_main_image_hist_mode_depth);                                                    // 39
    connect(this, &MainWindow::send_main_image_hist_mode_intensity, image_view_,
            &viewer_image::get_main_image_hist_mode_intensity);                                                // 40
    connect(this, &MainWindow::send_main_image_grey_mode_ambient, image_view_,
            &viewer_image::get_main_image_grey_mode_ambient);                                                  // 41
    connect(this, &MainWindow::send_main_image_grey_mode_depth, image_view_,
            &viewer_image::get_main_image_grey_mode_depth);                                                    // 42
    connect(this, &MainWindow::send_main_image_grey_mode_intensity, image_view_,
            &viewer_image::get_main_image_grey_mode_intensity);                                                // 43
    connect(playbar_, &tool_playbar::send_tool_capture, image_view_, &viewer_image::get_viewer_playmode_capture);  // 44
    connect(user_, &tool_user::send_tool_grid, this, &MainWindow::get_main_grid);                               // 45
    connect(this, &MainWindow::send_main_grid_setting, pointcloud_view_, &viewer_pointcloud::get_main_grid_setting);  // 46
    connect(user_, &tool_user::send_tool_grid, this, &MainWindow::get_main_grid);                               // 47
    connect(user_, &tool_user::send_tool_xy_axis, this, &MainWindow::get_main_xy_axis);                         // 48
    connect(user_, &tool_user::send_tool_yz_axis, this, &MainWindow::get_main_yz_axis);                         // 49
    connect(user_, &tool_user::send_tool_zx_axis, this, &MainWindow::get_main_zx_axis);                         // 50
    connect(this, &MainWindow::send_main_xy_axis, pointcloud_view_, &viewer_pointcloud::get_main_xy_axis);      // 51
    connect(this, &MainWindow::send_main_yz_axis, pointcloud_view_, &viewer_pointcloud::get_main_yz_axis);      // 52
    connect(this, &MainWindow::send_main_zx_axis, pointcloud_view_, &viewer_pointcloud::get_main_zx_axis);      // 53
    // Images first: the point-cloud view colours its points with them.
    connect(this, &MainWindow::send_main_data, image_view_, &viewer_image::updateScene);                        // 54
    connect(this, &MainWindow::send_main_data, pointcloud_view_, &viewer_pointcloud::updatePointCloud);         // 55
    connect(this, &MainWindow::send_main_log_message, log_, &tool_log::get_tool_log);                           // 56
    connect(this, &MainWindow::send_main_close_all, user_, &tool_user::get_tool_close_all);                     // 57

    // The 3-D view's own tools, right of it and wired straight to it.
    auto* view_tools = new tool_view;
    addDockWidget(Qt::RightDockWidgetArea, make_dock("view_Dock", view_tools));
    connect(view_tools, &tool_view::send_tool_birds_eye, pointcloud_view_, &viewer_pointcloud::get_viewer_birds_eye);
    connect(view_tools, &tool_view::send_tool_orthographic, pointcloud_view_,
            &viewer_pointcloud::get_viewer_orthographic);
    connect(view_tools, &tool_view::send_tool_reset_view, pointcloud_view_, &viewer_pointcloud::get_viewer_reset_view);
    connect(view_tools, &tool_view::send_tool_clear_picks, pointcloud_view_,
            &viewer_pointcloud::get_viewer_clear_picks);
    connect(pointcloud_view_, &viewer_pointcloud::send_viewer_orthographic, view_tools,
            &tool_view::get_tool_orthographic);
}

MainWindow::~MainWindow() {
    delete ui;
    if (sensor_) {
        sensor_->stop();
        sensor_->disconnect();
        sensor_.reset();
    }
}

QDockWidget* MainWindow::make_dock(const char* name, QWidget* panel) {
    auto* dock = new QDockWidget(this);
    dock->setObjectName(name);
    dock->setWindowTitle(QString());
    dock->setFloating(false);
    dock->setTitleBarWidget(new QWidget());
    dock->setWidget(panel);
    dock->adjustSize();
    return dock;
}

void MainWindow::start_stream(const QString& ip, int port) {
    user_->connection_window()->connect_to(ip, port);
}

void MainWindow::start_replay(const QString& path) {
    user_->load_file(path);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    emit send_main_close_all();
    QMainWindow::closeEvent(event);
}

int MainWindow::play_interval_ms() const {
    return static_cast<int>(1000.0 / (base_frame_rate_ * speed_));
}

void MainWindow::main_tick() {
    if (!sensor_)
        return;
    if (!play_mode_) {
        const auto now = std::chrono::steady_clock::now();
        if (!sensor_->get_scene(scene_)) {
            if (frame_timer_->interval() == stream_poll_ms && now - last_frame_seen_ > std::chrono::seconds(1))
                frame_timer_->setInterval(quiet_poll_ms);
            return;
        }
        last_frame_seen_ = now;
        if (frame_timer_->interval() != stream_poll_ms)
            frame_timer_->setInterval(stream_poll_ms);
        const int64_t t = wall_clock_ticks();
        const int64_t dt = t - last_frame_time_;
        last_frame_time_ = wall_clock_ticks();
        emit send_main_playmode_FPS(1.0 / (static_cast<double>(dt) / 10000000.0));
        emit send_main_data(scene_);
        return;
    }
    if (playing_ && slider_released_) {
        if (current_frame_ < total_frames_) {
            if (sensor_->get_scene(scene_, static_cast<int>(current_frame_)))
                emit send_main_data(scene_);
            ++current_frame_;
            playbar_->set_current_frame(current_frame_);
        } else if (current_frame_ == total_frames_ && playbar_->repeat()) {
            current_frame_ = 0;
            playbar_->set_current_frame(0);
        }
        return;
    }
    if (stopped_ && slider_released_) {
        current_frame_ = 0;
        playbar_->set_current_frame(0);
        return;
    }
    if (!slider_released_) {
        if (sensor_->get_scene(scene_, static_cast<int>(current_frame_)))
            emit send_main_data(scene_);
    }
    // Keep the views on the frame while paused or seeking.
    if (!scene_.ambient.empty())
        emit send_main_data(scene_);
}

void MainWindow::get_main_connect_status(bool enable) {
    if (!enable) {
        get_main_device_disconnect();
        return;
    }
    if (play_mode_) {
        get_main_device_disconnect();
        play_mode_ = false;
    }
    get_main_device_connect();
}

void MainWindow::get_main_playmode_status(bool enable) {
    if (enable) {
        play_mode_ = true;
        play_file_path_ = user_->data_file_path;
        get_main_device_connect();
    } else {
        play_mode_ = false;
        get_main_device_disconnect();
    }
}

void MainWindow::get_main_device_connect() {
    WaitCursor wait;
    if (sensor_)
        return;
    sensor_ = std::make_unique<VELKOR::LidarTQ>();
    sensor_->set_signal_data_processing(true);
    sensor_->register_fw_status_callback(&MainWindow::firmware_status, this);
    if (play_mode_)
        connect_play();
    else
        connect_stream();
}

void MainWindow::connect_play() {
    play_path_8bit_ = to_8bit(play_file_path_);
    if (!sensor_->play_start(play_path_8bit_)) {
        play_mode_ = false;
        get_main_device_disconnect();
        QMessageBox::warning(this, tr("Warning"), tr("Cannot read the binary file. Please check the file path."),
                             QMessageBox::Ok);
        return;
    }
    emit send_main_log_message(QString("[Play mode] Connect File : ") + QString::fromLocal8Bit(play_path_8bit_.c_str()));
    emit send_main_stream_mode(false);
    total_frames_ = frame_count(*sensor_);
    current_frame_ = 0;
    playbar_->set_total_frame(total_frames_);
    base_frame_rate_ = 10.0;
    emit send_main_playmode_FPS(10.0);
    // Replay at the rate the play bar shows, not as fast as the event loop spins.
    frame_timer_->setInterval(play_interval_ms());
    frame_timer_->start();
}

void MainWindow::connect_stream() {
    menu_connection* window = user_->connection_window();
    device_ip_ = to_8bit(window->device_ip());
    device_port_ = window->device_port();
    pc_ip_ = to_8bit(window->pc_ip());
    pc_port_ = window->pc_port();

    VELKOR::IP_ADDRESS_T device{device_ip_, device_port_};
    VELKOR::IP_ADDRESS_T pc{pc_ip_, pc_port_};
    if (!sensor_->connect(device, pc)) {
        QMessageBox::warning(this, tr("Warning"),
                             tr("Cannot connect to device. Please check the connection informations."),
                             QMessageBox::Ok);
        get_main_device_disconnect();
        return;
    }
    std::vector<QString> network = {QString::fromLocal8Bit(device_ip_.c_str()), QString::number(device_port_),
                                    QString::fromLocal8Bit(pc_ip_.c_str()), QString::number(pc_port_)};
    emit send_main_current_network(network);
    emit send_main_log_message("[Stream mode] Connect TQ device");
    emit send_main_stream_mode(true);
    if (!sensor_->run()) {
        QMessageBox::warning(this, tr("Warning"), tr("TCP device run command is failed."), QMessageBox::Ok);
        get_main_device_disconnect();
        emit send_main_btn_connect_control(false);
        return;
    }
    // Poll briefly instead of on every pass of the event loop, which would
    // hold a core while no frame arrives; this also undoes a replay's pace.
    frame_timer_->setInterval(stream_poll_ms);
    last_frame_seen_ = std::chrono::steady_clock::now();
    frame_timer_->start();
    emit send_main_btn_connect_control(true);
}

void MainWindow::get_main_device_disconnect() {
    WaitCursor wait;
    if (!sensor_)
        return;
    if (play_mode_) {
        sensor_->play_stop();
        emit send_main_log_message("[Play mode] Disconnect File : " + play_file_path_);
    } else {
        end_recording();
        emit send_main_log_message("[Stream mode] Disconnect TQ Device");
    }
    // Without a sensor every tick returns at once; a stopped timer costs nothing.
    frame_timer_->stop();
    sensor_->stop();
    sensor_->disconnect();
    sensor_.reset();
    emit send_main_btn_connect_control(false);
    emit send_main_stream_mode(false);
}

void MainWindow::get_main_current_network(std::vector<QString>& msg) {
    if (!sensor_ || msg.size() < 4)
        return;
    nlohmann::json settings;
    if (QFile::exists(kConnectSettingFile))
        sensor_->json_read_from_file(kConnectSettingFile, settings);
    if (!settings.is_object())
        settings = nlohmann::json::object();
    nlohmann::json& ip = settings["IP_Setting"];
    if (!ip.is_object())
        ip = nlohmann::json::object();
    ip["tq_ip"] = to_8bit(msg[0]);
    ip["tq_port"] = to_8bit(msg[1]);
    ip["pc_ip"] = to_8bit(msg[2]);
    ip["pc_port"] = to_8bit(msg[3]);
    sensor_->json_write_to_file(kConnectSettingFile, settings);
}

void MainWindow::get_main_playmode_play_button(bool enable) {
    playing_ = enable;
}

void MainWindow::get_main_playmode_stop_button(bool enable) {
    stopped_ = enable;
}

void MainWindow::get_main_playmode_slider_status(bool enable) {
    slider_released_ = enable;
}

void MainWindow::get_main_playmode_currrent_frame(uint64_t val) {
    current_frame_ = val;
}

void MainWindow::get_main_playmode_speed(double val) {
    speed_ = val;
    // Before a file was opened there is no replay rate to scale.
    if (base_frame_rate_ <= 0.0 || speed_ <= 0.0)
        return;
    frame_timer_->setInterval(play_interval_ms());
    emit send_main_playmode_FPS(base_frame_rate_ * speed_);
}

void MainWindow::end_recording() {
    if (!recording_)
        return;
    if (sensor_)
        sensor_->record_stop();
    recording_ = false;
    emit send_main_record_status(false);
}

void MainWindow::get_main_playmode_record(bool enable) {
    if (!enable) {
        // A replay's recorder is the open file; releasing it would end the replay.
        if (sensor_ && !play_mode_)
            sensor_->record_stop();
        recording_ = false;
        emit send_main_record_status(false);
        return;
    }
    // Without a sensor nothing records; say so, or the play bar's clock runs on.
    if (!sensor_) {
        emit send_main_record_status(false);
        return;
    }
    const QString dir =
        QFileDialog::getExistingDirectory(nullptr, "Record TQ Data", QDir::homePath(), QFileDialog::ShowDirsOnly);
    if (dir.isEmpty()) {
        recording_ = false;
        emit send_main_record_status(false);
        return;
    }
    if (!sensor_->record_start(to_8bit(dir + "/"))) {
        // A failed open leaves its recorder in place, which would refuse every
        // later start; a replay's recorder is the file being played.
        if (!play_mode_)
            sensor_->record_stop();
        recording_ = false;
        emit send_main_record_status(false);
        QMessageBox::warning(this, tr("Warning"), tr("Record start failed! Please check the directory."),
                             QMessageBox::Ok);
        return;
    }
    recording_ = true;
    emit send_main_record_status(true);
}

void MainWindow::get_main_setting_file(QString dir) {
    if (!sensor_)
        return;
    if (!play_mode_)
        end_recording();
    sensor_->stop();
    if (play_mode_)
        return;
    const std::string path = to_8bit(dir);
    nlohmann::json settings;
    if (!sensor_->json_read_from_file(path.c_str(), settings)) {
        QMessageBox::warning(this, tr("Warning"), tr("Setting file read failed!"), QMessageBox::Ok);
    } else if (!sensor_->send_json(settings)) {
        QMessageBox::warning(this, tr("Warning"), tr("Setting apply failed!"), QMessageBox::Ok);
    } else {
        QThread::msleep(10);
        emit send_main_log_message(dir + " : file read from file completed!");
    }
    sensor_->run();
}

void MainWindow::get_main_flash_write(bool enable) {
    if (!sensor_ || !enable)
        return;
    if (!play_mode_)
        end_recording();
    sensor_->stop();
    if (sensor_->json_write_to_memory())
        QThread::msleep(100);
    else
        QMessageBox::warning(this, tr("Warning"), tr("TQ-Z Save Failed!!!"), QMessageBox::Ok);
    get_main_device_disconnect();
    QMessageBox::warning(this, tr("Warning"), tr("Save Done. Reconnect TQ-Z."), QMessageBox::Ok);
}

void MainWindow::get_main_network_change(std::vector<QString>& msg) {
    if (msg.size() < 6)
        return;
    int tq_port = 0, pc_port = 0;
    const bool tq_port_ok = menu_device_user::port_number(msg[1], tq_port);
    const bool pc_port_ok = menu_device_user::port_number(msg[3], pc_port);
    nlohmann::json message = {{"IP_Setting",
                               {{"tq_ip", to_8bit(msg[0])},
                                {"tq_port", tq_port},
                                {"pc_ip", to_8bit(msg[2])},
                                {"pc_port", pc_port},
                                {"gateway", to_8bit(msg[4])},
                                {"netmask", to_8bit(msg[5])}}}};
    if (!sensor_) {
        QMessageBox::warning(this, tr("IP Setting Fail"), tr("IP Setting Fail. Lidar connect check."),
                             QMessageBox::Ok);
        return;
    }
    // A port that is not a decimal number from 1 to 65535 would be written to
    // the sensor's flash; it is refused like any other format fault.
    if (!tq_port_ok || !pc_port_ok) {
        QMessageBox::warning(this, tr("IP Setting fail"), tr("IP setting apply fail. Check the format"),
                             QMessageBox::Ok);
        return;
    }
    sensor_->stop();
    if (!sensor_->send_json(message)) {
        QMessageBox::warning(this, tr("IP Setting fail"), tr("IP setting apply fail."), QMessageBox::Ok);
        return;
    }
    QThread::msleep(300);
    if (sensor_->json_write_to_memory())
        QThread::msleep(100);
    else
        QMessageBox::warning(this, tr("Warning"), tr("TQ-Z Save Failed!!!"), QMessageBox::Ok);
    get_main_device_disconnect();
    QMessageBox::information(this, tr("Information"), tr("Save Done. Reconnect TQ-Z."), QMessageBox::Ok);
}

void MainWindow::get_main_firmware_upload(QString dir) {
    if (!sensor_) {
        QMessageBox::warning(this, tr("Warning"), tr("Firmware remove fail. Please connect TQ-Z"), QMessageBox::Ok);
        return;
    }
    if (!play_mode_)
        end_recording();
    sensor_->stop();
    QThread::msleep(10);
    if (sensor_->tcp_fw_upload(to_8bit(dir).c_str()))
        emit send_main_log_message(dir + " : FW_Upgrade_Start!");
    else
        QMessageBox::warning(this, tr("Warning"), tr("FW_Upgrade_Start_Fail!"), QMessageBox::Ok);
}

void MainWindow::get_main_pointcloud(bool enable) {
    if (!enable)
        return;
    const tool_user::pointcloud_values& v = user_->pointcloud;
    pc_color_ = v.color_mode;
    pc_point_size_ = v.point_size;
    pc_max_distance_ = v.max_distance;
    pc_min_distance_ = v.min_distance;
    pc_orthogonal_ = v.orthogonal;
    std::vector<double> values = {pc_point_size_, pc_max_distance_, pc_min_distance_};
    emit send_main_pointcloud(pc_color_, values, pc_orthogonal_);
}

void MainWindow::get_main_image(bool enable) {
    if (enable) {
        const tool_user::image_values& v = user_->image;
        auto_norm_[0] = v.auto_norm_ambient;
        auto_norm_[1] = v.auto_norm_depth;
        auto_norm_[2] = v.auto_norm_intensity;
        min_val_[0] = v.min_ambient;
        min_val_[1] = v.min_depth;
        min_val_[2] = v.min_intensity;
        max_val_[0] = v.max_ambient;
        max_val_[1] = v.max_depth;
        max_val_[2] = v.max_intensity;
        hist_[0] = v.hist_ambient;
        hist_[1] = v.hist_depth;
        hist_[2] = v.hist_intensity;
        grey_[0] = v.grey_ambient;
        grey_[1] = v.grey_depth;
        grey_[2] = v.grey_intensity;
    }
    emit send_main_image_auto_norm_ambient(auto_norm_[0]);
    emit send_main_image_auto_norm_depth(auto_norm_[1]);
    emit send_main_image_auto_norm_intensity(auto_norm_[2]);
    emit send_main_image_min_val_ambient(min_val_[0]);
    emit send_main_image_min_val_depth(min_val_[1]);
    emit send_main_image_min_val_intensity(min_val_[2]);
    emit send_main_image_max_val_ambient(max_val_[0]);
    emit send_main_image_max_val_depth(max_val_[1]);
    emit send_main_image_max_val_intensity(max_val_[2]);
    emit send_main_image_hist_mode_ambient(hist_[0]);
    emit send_main_image_hist_mode_depth(hist_[1]);
    emit send_main_image_hist_mode_intensity(hist_[2]);
    emit send_main_image_grey_mode_ambient(grey_[0]);
    emit send_main_image_grey_mode_depth(grey_[1]);
    emit send_main_image_grey_mode_intensity(grey_[2]);
}

void MainWindow::get_main_grid(bool enable) {
    if (!enable)
        return;
    const tool_user::grid_values& v = user_->grid;
    grid_size_ = v.grid_size;
    grid_max_distance_ = v.max_distance;
    grid_font_size_ = v.font_size;
    grid_enable_ = v.enable;
    std::vector<double> values = {grid_size_, grid_max_distance_, grid_font_size_};
    emit send_main_grid_setting(values, grid_enable_);
}

void MainWindow::get_main_xy_axis(bool enable) {
    if (!enable)
        return;
    xy_axis_ = enable;
    emit send_main_xy_axis(true);
}

void MainWindow::get_main_yz_axis(bool enable) {
    if (!enable)
        return;
    yz_axis_ = enable;
    emit send_main_yz_axis(true);
}

void MainWindow::get_main_zx_axis(bool enable) {
    if (!enable)
        return;
    zx_axis_ = enable;
    emit send_main_zx_axis(true);
}

void MainWindow::firmware_status(void* user, std::string message) {
    static_cast<MainWindow*>(user)->get_main_log(QString::fromStdString(message));
}

void MainWindow::get_main_log(QString msg) {
    int value = 0;
    if (msg.startsWith("PG") && progress_value(msg.mid(2), value)) {
        emit send_main_firmware_progress(value);
        return;
    }
    emit send_main_log_message(msg);
}
