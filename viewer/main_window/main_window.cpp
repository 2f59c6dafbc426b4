#include "main_window/main_window.hpp"

#include <algorithm>
#include <chrono>
#include <functional>

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QSpinBox>
#include <QDir>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QStatusBar>
#include <QThread>
#include <QTimer>

#include "main_window/replay_timing.hpp"
#include "main_window/sensor_worker.hpp"
#include "panels/status_strip.hpp"
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

// Entries of the recent-files menu.
constexpr int kRecentFiles = 8;

// The local recording among dropped URLs; empty when there is none.
QString dropped_recording(const QMimeData* mime) {
    if (!mime || !mime->hasUrls())
        return QString();
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile() && url.toLocalFile().endsWith(".bin", Qt::CaseInsensitive))
            return url.toLocalFile();
    return QString();
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

// A first size that fits the screen below and right of the window's
// position (100, 100), leaving room for the frame and a panel of the desktop.
QSize fitting_size(const QWidget* window) {
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return QSize(1200, 800);
    const QRect free = screen->availableGeometry();
    return QSize(std::max(640, std::min(1600, free.right() - 100 - 40)),
                 std::max(480, std::min(1000, free.bottom() - 100 - 60)));
}

}  // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent),
      ui(new Ui::MainWindow),
      user_(new tool_user),
      playbar_(new tool_playbar),
      log_(new tool_log),
      pointcloud_view_(new viewer_pointcloud),
      image_view_(new viewer_image),
      frame_timer_(new QTimer(this)),
      worker_(new sensor_worker(&MainWindow::firmware_status, this)),
      status_(new status_strip),
      status_timer_(new QTimer(this)) {
    ui->setupUi(this);
    frame_timer_->setInterval(0);
    frame_timer_->setTimerType(Qt::PreciseTimer);
    worker_->moveToThread(&sensor_thread_);
    sensor_thread_.setObjectName("sensor_worker");
    sensor_thread_.start();
    connect(worker_, &sensor_worker::stream_opened, this, &MainWindow::on_stream_opened);
    connect(worker_, &sensor_worker::replay_opened, this, &MainWindow::on_replay_opened);
    connect(worker_, &sensor_worker::scene_ready, this, &MainWindow::on_scene_ready);
    ui->statusbar->addWidget(status_, 1);
    connect(status_timer_, &QTimer::timeout, this, &MainWindow::update_status);
    status_timer_->start(1000);
    status_clock_.start();
    replay_clock_.start();

    move(100, 100);
    resize(fitting_size(this));
    setAcceptDrops(true);
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
    // The point-cloud window shows (and applies, and keeps) the projection in use.
    connect(pointcloud_view_, &viewer_pointcloud::send_viewer_orthographic, this, [this](bool enable) {
        user_->pointcloud_window()->findChild<QCheckBox*>("cb_Orthogonal")->setChecked(enable);
        user_->pointcloud.orthogonal = enable;
    });

    QMenu* file = menuBar()->addMenu(tr("&File"));
    file->addAction(tr("&Open Recording..."), this, [this] { user_->findChild<QPushButton*>("btn_load")->click(); });
    recent_menu_ = file->addMenu(tr("Recent Files"));
    fill_recent_menu();

    // Replay keys; a focused input that takes these keys keeps them.
    auto key = [this](Qt::Key k, std::function<void()> act) {
        connect(new QShortcut(QKeySequence(k), this), &QShortcut::activated, this, std::move(act));
    };
    key(Qt::Key_Space, [this] {
        if (source_ == source_t::replay)
            playbar_->findChild<QPushButton*>(playing_ ? "btn_pause" : "btn_play")->click();
    });
    key(Qt::Key_Left, [this] { step_frame(-1); });
    key(Qt::Key_Right, [this] { step_frame(1); });
    key(Qt::Key_Home, [this] { seek_frame(0); });
    key(Qt::Key_End, [this] { seek_frame(total_frames_ > 0 ? total_frames_ - 1 : 0); });
}

MainWindow::~MainWindow() {
    // The worker ends its source and then its thread; a connect under way
    // ends first.
    frame_timer_->stop();
    worker_->finish();
    sensor_thread_.wait();
    delete worker_;
    delete ui;
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
    if (settings_) {
        settings_->setValue("window/geometry", saveGeometry());
        const tool_user::pointcloud_values& pc = user_->pointcloud;
        settings_->setValue("display/applied", pc.point_size > 0.0);
        settings_->setValue("display/color_mode", pc.color_mode);
        settings_->setValue("display/point_size", pc.point_size);
        settings_->setValue("display/max_distance", pc.max_distance);
        settings_->setValue("display/min_distance", pc.min_distance);
        settings_->setValue("display/orthogonal", pc.orthogonal);
        const tool_user::grid_values& grid = user_->grid;
        settings_->setValue("grid/applied", grid.grid_size > 0.0);
        settings_->setValue("grid/enable", grid.enable);
        settings_->setValue("grid/size", grid.grid_size);
        settings_->setValue("grid/max_distance", grid.max_distance);
        settings_->setValue("grid/font_size", grid.font_size);
        settings_->sync();
    }
    QMainWindow::closeEvent(event);
}

void MainWindow::use_settings(QSettings* settings) {
    settings_ = settings;
    if (!settings_)
        return;
    const QByteArray geometry = settings_->value("window/geometry").toByteArray();
    if (!geometry.isEmpty())
        restoreGeometry(geometry);
    recent_files_ = settings_->value("recent_files").toStringList();
    fill_recent_menu();
    // Display settings come back through their windows, as if applied there.
    if (settings_->value("display/applied").toBool()) {
        menu_pointcloud* pc = user_->pointcloud_window();
        pc->findChild<QComboBox*>("tg_PointColor")->setCurrentIndex(settings_->value("display/color_mode").toInt());
        pc->findChild<QDoubleSpinBox*>("sb_PointSize")->setValue(settings_->value("display/point_size").toDouble());
        pc->findChild<QDoubleSpinBox*>("sb_MaxDistance")->setValue(settings_->value("display/max_distance").toDouble());
        pc->findChild<QDoubleSpinBox*>("sb_MinDistance")->setValue(settings_->value("display/min_distance").toDouble());
        pc->findChild<QCheckBox*>("cb_Orthogonal")->setChecked(settings_->value("display/orthogonal").toBool());
        pc->findChild<QPushButton*>("btn_apply")->click();
    }
    if (settings_->value("grid/applied").toBool()) {
        menu_grid* grid = user_->grid_window();
        grid->findChild<QCheckBox*>("cb_grid_enable")->setChecked(settings_->value("grid/enable").toBool());
        grid->findChild<QSpinBox*>("sb_grid_size")->setValue(settings_->value("grid/size").toInt());
        grid->findChild<QSpinBox*>("sb_max_dist")->setValue(settings_->value("grid/max_distance").toInt());
        grid->findChild<QDoubleSpinBox*>("sb_font_size")->setValue(settings_->value("grid/font_size").toDouble());
        grid->findChild<QPushButton*>("btn_apply")->click();
    }
}

void MainWindow::add_recent_file(const QString& path) {
    const QString full = QFileInfo(path).absoluteFilePath();
    recent_files_.removeAll(full);
    recent_files_.prepend(full);
    while (recent_files_.size() > kRecentFiles)
        recent_files_.removeLast();
    if (settings_)
        settings_->setValue("recent_files", recent_files_);
    fill_recent_menu();
}

void MainWindow::fill_recent_menu() {
    recent_menu_->clear();
    for (const QString& path : recent_files_)
        recent_menu_->addAction(path, this, [this, path] { start_replay(path); });
    recent_menu_->setEnabled(!recent_files_.isEmpty());
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (!dropped_recording(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
    const QString path = dropped_recording(event->mimeData());
    if (path.isEmpty())
        return;
    event->acceptProposedAction();
    // A live sensor stays: Data Load is refused while one is connected.
    if (source_ == source_t::stream)
        return;
    start_replay(path);
}

void MainWindow::anchor_replay() {
    anchor_ns_ = replay_clock_.nsecsElapsed();
    frames_since_anchor_ = 0;
}

// The next replay tick: the next frame falls due one period (at the play
// speed) after the last one, counted from the anchor so that timer
// rounding never adds up; a replay that fell far behind starts afresh.
void MainWindow::schedule_next_frame() {
    const double period_ns = 1e9 / (base_frame_rate_ * speed_);
    const qint64 now = replay_clock_.nsecsElapsed();
    ++frames_since_anchor_;
    qint64 due = anchor_ns_ + static_cast<qint64>(static_cast<double>(frames_since_anchor_) * period_ns);
    if (due < now - static_cast<qint64>(2.0 * period_ns)) {
        anchor_replay();
        due = now;
    }
    frame_timer_->start(static_cast<int>(std::max<qint64>(0, (due - now + 999999) / 1000000)));
}

void MainWindow::request_frame(uint64_t index) {
    awaiting_frame_ = true;
    worker_->want_frame(index);
}

void MainWindow::main_tick() {
    if (source_ != source_t::replay)
        return;
    if (playing_ && slider_released_) {
        // The last frame is not back yet: this one waits for it (one frame
        // at a time: a replay never builds a backlog).
        if (awaiting_frame_) {
            behind_ = true;
            return;
        }
        if (current_frame_ < total_frames_) {
            request_frame(current_frame_);
            ++current_frame_;
            playbar_->set_current_frame(current_frame_);
        } else if (current_frame_ == total_frames_ && playbar_->repeat()) {
            current_frame_ = 0;
            playbar_->set_current_frame(0);
        }
        schedule_next_frame();
        return;
    }
    frame_timer_->start(static_cast<int>(1000.0 / (base_frame_rate_ * speed_)));
    if (stopped_ && slider_released_) {
        current_frame_ = 0;
        playbar_->set_current_frame(0);
        return;
    }
    if (!slider_released_) {
        request_frame(current_frame_);
        return;
    }
    // Keep the views on the frame while paused.
    if (!scene_.ambient.empty())
        emit send_main_data(scene_);
}

void MainWindow::on_scene_ready(bool ok) {
    if (source_ == source_t::stream) {
        if (!worker_->take_scene(scene_))
            return;
        const int64_t t = wall_clock_ticks();
        const int64_t dt = t - last_frame_time_;
        last_frame_time_ = wall_clock_ticks();
        emit send_main_playmode_FPS(1.0 / (static_cast<double>(dt) / 10000000.0));
        ++frames_displayed_;
        emit send_main_data(scene_);
        return;
    }
    if (source_ != source_t::replay)
        return;
    awaiting_frame_ = false;
    if (ok && worker_->take_scene(scene_)) {
        ++frames_displayed_;
        emit send_main_data(scene_);
    }
    // A frame that fell due while this one was awaited goes now; the pace
    // keeps its anchor, so a short hold-up is caught up, and a replay that
    // fell far behind starts afresh (schedule_next_frame).
    if (behind_) {
        behind_ = false;
        frame_timer_->start(0);
    }
}

void MainWindow::step_frame(int64_t delta) {
    if (source_ != source_t::replay || total_frames_ == 0)
        return;
    // current_frame_ is the next frame to show; the one on screen is before it.
    const int64_t shown = static_cast<int64_t>(current_frame_) - 1;
    const int64_t last = static_cast<int64_t>(total_frames_) - 1;
    seek_frame(static_cast<uint64_t>(std::min(last, std::max<int64_t>(0, shown + delta))));
}

void MainWindow::seek_frame(uint64_t index) {
    if (source_ != source_t::replay || total_frames_ == 0)
        return;
    if (playing_)
        playbar_->findChild<QPushButton*>("btn_pause")->click();
    request_frame(index);
    playbar_->set_current_frame(index + 1);
    // The slider ends at the last frame and may report that instead.
    current_frame_ = index + 1;
}

void MainWindow::update_status() {
    const double seconds = static_cast<double>(status_clock_.restart()) / 1000.0;
    const double shown = static_cast<double>(frames_displayed_ - frames_at_last_status_);
    frames_at_last_status_ = frames_displayed_;
    if (!connected()) {
        status_->set_rates(-1.0, -1.0, -1.0, -1.0);
        return;
    }
    const sensor_worker::rates_t r = worker_->rates();
    status_->set_rates(r.sensor_fps, seconds > 0.0 ? shown / seconds : -1.0, r.loss_percent, r.megabytes_per_s);
    if (recording_ && r.recording_failed)
        recording_failed();
}

void MainWindow::recording_failed() {
    QString why;
    worker_->call([&](VELKOR::LidarTQ& sensor) { why = QString::fromStdString(sensor.last_error()); });
    end_recording();
    if (!why.isEmpty())
        why[0] = why[0].toUpper();
    QMessageBox::warning(this, tr("Warning"), tr("%1. The file keeps what was written before.").arg(why),
                         QMessageBox::Ok);
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
        // Play mode holds until the replay is closed, so that it is closed as one.
        get_main_device_disconnect();
        play_mode_ = false;
    }
}

void MainWindow::get_main_device_connect() {
    if (source_ != source_t::none)
        return;
    frames_displayed_ = frames_at_last_status_ = 0;
    if (play_mode_)
        connect_play();
    else
        connect_stream();
}

void MainWindow::connect_play() {
    play_path_8bit_ = to_8bit(play_file_path_);
    source_ = source_t::opening;
    status_->set_source(tr("Opening %1 ...").arg(QFileInfo(play_file_path_).fileName()));
    worker_->open_replay(play_path_8bit_);
}

// False for the answer to an open that was cancelled or is no longer awaited.
bool MainWindow::take_open_answer() {
    if (cancelled_opens_ > 0) {
        --cancelled_opens_;
        return false;
    }
    return source_ == source_t::opening;
}

void MainWindow::on_replay_opened(bool opened, quint64 frames, double rate) {
    if (!take_open_answer())
        return;
    if (!opened) {
        source_ = source_t::none;
        status_->set_source(tr("Not connected"));
        emit send_main_log_message("[Play mode] Disconnect File : " + play_file_path_);
        emit send_main_btn_connect_control(false);
        emit send_main_stream_mode(false);
        play_mode_ = false;
        QMessageBox::warning(this, tr("Warning"), tr("Cannot read the binary file. Please check the file path."),
                             QMessageBox::Ok);
        return;
    }
    source_ = source_t::replay;
    emit send_main_log_message(QString("[Play mode] Connect File : ") + QString::fromLocal8Bit(play_path_8bit_.c_str()));
    emit send_main_stream_mode(false);
    status_->set_source(tr("Playing %1").arg(QFileInfo(play_file_path_).fileName()));
    add_recent_file(play_file_path_);
    total_frames_ = frames;
    // The new range first: it may clamp the slider, whose report must not
    // outlive the start at frame 0.
    playbar_->set_total_frame(total_frames_);
    playbar_->set_current_frame(0);
    current_frame_ = 0;
    // At speed 1 the rate the recording's own time stamps show.
    base_frame_rate_ = rate > 0.0 ? rate : replay_timing::kFallbackRate;
    emit send_main_playmode_FPS(base_frame_rate_ * speed_);
    awaiting_frame_ = behind_ = false;
    // Paused views are kept on the last replayed frame; there is none yet.
    scene_ = VELKOR::LidarTQ::scene_t{};
    frame_timer_->setSingleShot(true);
    anchor_replay();
    frame_timer_->start(0);
    if (total_frames_ == 0)
        QMessageBox::warning(this, tr("Warning"), tr("The file holds no frame of the sensor."), QMessageBox::Ok);
}

void MainWindow::connect_stream() {
    menu_connection* window = user_->connection_window();
    device_ip_ = to_8bit(window->device_ip());
    device_port_ = window->device_port();
    pc_ip_ = to_8bit(window->pc_ip());
    pc_port_ = window->pc_port();
    source_ = source_t::opening;
    status_->set_source(tr("Connecting to %1:%2 ...").arg(window->device_ip()).arg(device_port_));
    // Disconnect cancels the connect under way.
    emit send_main_btn_connect_control(true);
    worker_->open_stream(VELKOR::IP_ADDRESS_T{device_ip_, device_port_}, VELKOR::IP_ADDRESS_T{pc_ip_, pc_port_});
}

void MainWindow::on_stream_opened(bool connected, bool running, QString why) {
    if (!take_open_answer())
        return;
    if (!connected) {
        source_ = source_t::none;
        status_->set_source(tr("Not connected"));
        if (!why.isEmpty())
            emit send_main_log_message("[Stream mode] Connect failed : " + why);
        emit send_main_log_message("[Stream mode] Disconnect TQ Device");
        emit send_main_btn_connect_control(false);
        emit send_main_stream_mode(false);
        QMessageBox::warning(this, tr("Warning"),
                             tr("Cannot connect to device. Please check the connection informations."),
                             QMessageBox::Ok);
        return;
    }
    source_ = source_t::stream;
    std::vector<QString> network = {QString::fromLocal8Bit(device_ip_.c_str()), QString::number(device_port_),
                                    QString::fromLocal8Bit(pc_ip_.c_str()), QString::number(pc_port_)};
    emit send_main_current_network(network);
    emit send_main_log_message("[Stream mode] Connect TQ device");
    emit send_main_stream_mode(true);
    if (!running) {
        QMessageBox::warning(this, tr("Warning"), tr("TCP device run command is failed."), QMessageBox::Ok);
        get_main_device_disconnect();
        emit send_main_btn_connect_control(false);
        return;
    }
    status_->set_source(tr("Connected to %1:%2").arg(QString::fromLocal8Bit(device_ip_.c_str())).arg(device_port_));
    last_frame_time_ = wall_clock_ticks();
    emit send_main_btn_connect_control(true);
}

void MainWindow::get_main_device_disconnect() {
    WaitCursor wait;
    if (source_ == source_t::none)
        return;
    if (source_ == source_t::opening) {
        // The worker answers the open first; that answer is dropped.
        ++cancelled_opens_;
        worker_->close(false);
        emit send_main_log_message(play_mode_ ? "[Play mode] Disconnect File : " + play_file_path_
                                              : QString("[Stream mode] Disconnect TQ Device"));
    } else if (source_ == source_t::replay) {
        emit send_main_log_message("[Play mode] Disconnect File : " + play_file_path_);
        worker_->close();
    } else {
        end_recording();
        emit send_main_log_message("[Stream mode] Disconnect TQ Device");
        worker_->close();
    }
    source_ = source_t::none;
    frame_timer_->stop();
    frame_timer_->setSingleShot(false);
    awaiting_frame_ = behind_ = false;
    status_->set_source(tr("Not connected"));
    status_->set_rates(-1.0, -1.0, -1.0, -1.0);
    emit send_main_btn_connect_control(false);
    emit send_main_stream_mode(false);
}

void MainWindow::get_main_current_network(std::vector<QString>& msg) {
    if (msg.size() < 4)
        return;
    const std::string tq_ip = to_8bit(msg[0]), tq_port = to_8bit(msg[1]);
    const std::string pc_ip = to_8bit(msg[2]), pc_port = to_8bit(msg[3]);
    worker_->call([&](VELKOR::LidarTQ& sensor) {
        nlohmann::json settings;
        if (QFile::exists(kConnectSettingFile))
            sensor.json_read_from_file(kConnectSettingFile, settings);
        if (!settings.is_object())
            settings = nlohmann::json::object();
        nlohmann::json& ip = settings["IP_Setting"];
        if (!ip.is_object())
            ip = nlohmann::json::object();
        ip["tq_ip"] = tq_ip;
        ip["tq_port"] = tq_port;
        ip["pc_ip"] = pc_ip;
        ip["pc_port"] = pc_port;
        sensor.json_write_to_file(kConnectSettingFile, settings);
    });
}

void MainWindow::get_main_playmode_play_button(bool enable) {
    if (enable && !playing_ && source_ == source_t::replay) {
        // Playing starts now, with the next frame.
        anchor_replay();
        frame_timer_->start(0);
    }
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
    anchor_replay();
    emit send_main_playmode_FPS(base_frame_rate_ * speed_);
}

void MainWindow::end_recording() {
    if (!recording_)
        return;
    worker_->call([](VELKOR::LidarTQ& sensor) { sensor.record_stop(); });
    recording_ = false;
    emit send_main_record_status(false);
}

void MainWindow::get_main_playmode_record(bool enable) {
    if (!enable) {
        // A replay's recorder is the open file; releasing it would end the replay.
        if (source_ == source_t::stream)
            worker_->call([](VELKOR::LidarTQ& sensor) { sensor.record_stop(); });
        recording_ = false;
        emit send_main_record_status(false);
        return;
    }
    // Without a sensor nothing records; say so, or the play bar's clock runs on.
    if (!connected()) {
        emit send_main_record_status(false);
        return;
    }
    if (source_ == source_t::replay) {
        emit send_main_record_status(false);
        QMessageBox::warning(this, tr("Warning"), tr("Recording is not possible during a replay."), QMessageBox::Ok);
        return;
    }
    const QString dir =
        QFileDialog::getExistingDirectory(nullptr, "Record TQ Data", QDir::homePath(), QFileDialog::ShowDirsOnly);
    if (dir.isEmpty()) {
        recording_ = false;
        emit send_main_record_status(false);
        return;
    }
    const std::string path = to_8bit(dir + "/");
    bool started = false;
    worker_->call([&](VELKOR::LidarTQ& sensor) {
        started = sensor.record_start(path);
        // A failed open leaves its recorder in place, which would refuse
        // every later start.
        if (!started)
            sensor.record_stop();
    });
    if (!started) {
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
    if (!connected())
        return;
    if (source_ == source_t::stream)
        end_recording();
    const bool replay = source_ == source_t::replay;
    const std::string path = to_8bit(dir);
    enum { unread, unsent, applied } outcome = unread;
    worker_->call([&](VELKOR::LidarTQ& sensor) {
        sensor.stop();
        if (replay)
            return;
        nlohmann::json settings;
        if (sensor.json_read_from_file(path.c_str(), settings)) {
            outcome = unsent;
            if (sensor.send_json(settings)) {
                outcome = applied;
                QThread::msleep(10);
            }
        }
        sensor.run();
    });
    if (replay)
        return;
    if (outcome == unread)
        QMessageBox::warning(this, tr("Warning"), tr("Setting file read failed!"), QMessageBox::Ok);
    else if (outcome == unsent)
        QMessageBox::warning(this, tr("Warning"), tr("Setting apply failed!"), QMessageBox::Ok);
    else
        emit send_main_log_message(dir + " : file read from file completed!");
}

void MainWindow::get_main_flash_write(bool enable) {
    if (!connected() || !enable)
        return;
    if (source_ == source_t::stream)
        end_recording();
    bool saved = false;
    worker_->call([&](VELKOR::LidarTQ& sensor) {
        sensor.stop();
        saved = sensor.json_write_to_memory();
        if (saved)
            QThread::msleep(100);
    });
    if (!saved)
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
    if (!connected()) {
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
    bool sent = false, saved = false;
    worker_->call([&](VELKOR::LidarTQ& sensor) {
        sensor.stop();
        sent = sensor.send_json(message);
        if (!sent)
            return;
        QThread::msleep(300);
        saved = sensor.json_write_to_memory();
        if (saved)
            QThread::msleep(100);
    });
    if (!sent) {
        QMessageBox::warning(this, tr("IP Setting fail"), tr("IP setting apply fail."), QMessageBox::Ok);
        return;
    }
    if (!saved)
        QMessageBox::warning(this, tr("Warning"), tr("TQ-Z Save Failed!!!"), QMessageBox::Ok);
    get_main_device_disconnect();
    QMessageBox::information(this, tr("Information"), tr("Save Done. Reconnect TQ-Z."), QMessageBox::Ok);
}

void MainWindow::get_main_firmware_upload(QString dir) {
    if (!connected()) {
        QMessageBox::warning(this, tr("Warning"), tr("Firmware remove fail. Please connect TQ-Z"), QMessageBox::Ok);
        return;
    }
    if (source_ == source_t::stream)
        end_recording();
    const std::string path = to_8bit(dir);
    bool started = false;
    worker_->call([&](VELKOR::LidarTQ& sensor) {
        sensor.stop();
        QThread::msleep(10);
        started = sensor.tcp_fw_upload(path.c_str());
    });
    if (started)
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
