#include <algorithm>
#include <memory>
#include <thread>

#include <QCheckBox>
#include <QDockWidget>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSurfaceFormat>
#include <QTimer>
#include <QtTest>

#include <QVTKOpenGLNativeWidget.h>
#include <vtkLogger.h>

#include "loopback.hpp"
#include "main_window/main_window.hpp"
#include "panels/tool_log.hpp"
#include "panels/tool_playbar.hpp"
#include "panels/tool_user.hpp"
#include "sim_sensor.hpp"
#include "views/viewer_pointcloud.hpp"

namespace {

// Counts the repaints of the window it filters.
struct RepaintCounter : QObject {
    int repaints = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        repaints += e->type() == QEvent::UpdateRequest;
        return false;
    }
};

}  // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { vtkLogger::SetStderrVerbosity(vtkLogger::VERBOSITY_ERROR); }

    void builds_five_docks_around_the_cloud() {
        MainWindow w;
        w.show();
        QCOMPARE(w.windowTitle(), QString("Nimbra Studio"));
        QCOMPARE(w.pos(), QPoint(100, 100));
        for (const char* name : {"user_Dock", "playbar_Dock", "log_Dock", "pointcloud_Dock", "image_Dock"})
            QVERIFY2(w.findChild<QDockWidget*>(name), name);
        auto* central = qobject_cast<QDockWidget*>(w.centralWidget());
        QVERIFY(central);
        QCOMPARE(central->objectName(), QString("pointcloud_Dock"));
        QCOMPARE(w.dockWidgetArea(w.findChild<QDockWidget*>("user_Dock")), Qt::LeftDockWidgetArea);
        QCOMPARE(w.dockWidgetArea(w.findChild<QDockWidget*>("image_Dock")), Qt::TopDockWidgetArea);
        QCOMPARE(w.dockWidgetArea(w.findChild<QDockWidget*>("log_Dock")), Qt::BottomDockWidgetArea);
        QCOMPARE(w.corner(Qt::TopLeftCorner), Qt::LeftDockWidgetArea);
        QCOMPARE(w.corner(Qt::BottomRightCorner), Qt::RightDockWidgetArea);
        QVERIFY(!w.connected());
    }

    void grid_apply_reaches_the_view_twice() {
        MainWindow w;
        w.show();
        int grid_settings = 0;
        connect(&w, &MainWindow::send_main_grid_setting, [&](std::vector<double>& v, bool enable) {
            grid_settings += v.size() == 3 && v[0] == 10.0 && v[1] == 50.0 && enable;
        });
        menu_grid* grid = w.user_bar()->grid_window();
        grid->findChild<QCheckBox*>("cb_grid_enable")->setChecked(true);
        grid->findChild<QPushButton*>("btn_apply")->click();
        QCOMPARE(grid_settings, 2);
        QCOMPARE(w.pointcloud_view()->grid_shape_ids().size(), size_t(18));
    }

    void display_settings_fan_out_in_order() {
        MainWindow w;
        std::vector<double> pc;
        int color = -1;
        connect(&w, &MainWindow::send_main_pointcloud, [&](int c, std::vector<double>& v, bool) {
            color = c;
            pc = v;
        });
        menu_pointcloud* window = w.user_bar()->pointcloud_window();
        window->findChild<QDoubleSpinBox*>("sb_MinDistance")->setValue(1.5);
        window->findChild<QPushButton*>("btn_apply")->click();
        QCOMPARE(color, 6);
        QCOMPARE(pc, (std::vector<double>{2.0, 200.0, 1.5}));  // size, max, min

        QStringList order;
        connect(&w, &MainWindow::send_main_image_auto_norm_ambient, [&] { order << "auto"; });
        connect(&w, &MainWindow::send_main_image_max_val_intensity, [&](double v) { order << QString::number(v); });
        connect(&w, &MainWindow::send_main_image_grey_mode_intensity, [&] { order << "grey"; });
        w.user_bar()->image_window()->findChild<QPushButton*>("btn_apply")->click();
        QCOMPARE(order, (QStringList{"auto", "3000", "grey"}));
    }

    void firmware_status_from_a_library_thread_is_queued() {
        MainWindow w;
        QList<int> progress;
        connect(&w, &MainWindow::send_main_firmware_progress, &w, [&](int v) { progress << v; });
        std::thread library([&] {
            MainWindow::firmware_status(&w, "PG57");
            MainWindow::firmware_status(&w, "FW upload done");
            MainWindow::firmware_status(&w, "PGxx");
            // As the library words its reports: the whole part moves the bar.
            MainWindow::firmware_status(&w, "PG25.000000");
            MainWindow::firmware_status(&w, "PG");
            MainWindow::firmware_status(&w, "PG57abc");
            MainWindow::firmware_status(&w, "PG99999999999");
            MainWindow::firmware_status(&w, "PG57");
        });
        library.join();
        // Nothing reached the GUI widgets from the library thread itself.
        auto* bar = w.user_bar()->device_window()->findChild<QProgressBar*>("pb_firmware_update");
        QCOMPARE(bar->value(), 0);
        QVERIFY(w.log_panel()->text().isEmpty());
        QCoreApplication::processEvents();
        QCOMPARE(bar->value(), 57);
        QCOMPARE(progress, (QList<int>{57, 25, 57}));
        const QStringList lines = w.log_panel()->text().split('\n');
        QCOMPARE(lines.size(), 5);
        QVERIFY(lines[0].endsWith("] FW upload done"));
        QVERIFY(lines[1].endsWith("] PGxx"));
        QVERIFY(lines[2].endsWith("] PG"));
        QVERIFY(lines[3].endsWith("] PG57abc"));
        QVERIFY(lines[4].endsWith("] PG99999999999"));
    }

    // Each scene changes the images and the cloud; next to the OpenGL view
    // every repaint composes the whole window again, so a scene must cost one
    // repaint, not a second one once the image labels' layouts catch up.
    void a_scene_costs_one_repaint_of_the_window() {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        VELKOR::LidarTQ::scene_t scene;
        scene.rows = 56;
        scene.cols = 192;
        const size_t n = 56 * 192;
        scene.ambient.resize(n * 3);
        scene.depth.resize(n);
        scene.intensity.resize(n);
        scene.pointcloud.resize(n);
        for (size_t i = 0; i < n; ++i) {
            scene.depth[i] = 20.0f + i % 50;
            scene.intensity[i] = static_cast<uint16_t>(i % 3000);
            scene.pointcloud[i].x = 3000.0;
            scene.pointcloud[i].y = (static_cast<double>(i % 192) - 96.0) * 10.0;
            scene.pointcloud[i].z = (28.0 - static_cast<double>(i / 192)) * 10.0;
        }
        for (size_t i = 0; i < n * 3; ++i)
            scene.ambient[i] = static_cast<uint32_t>(i % 5000);
        emit w.send_main_data(scene);
        QTest::qWait(200);

        RepaintCounter counter;
        w.installEventFilter(&counter);
        const int scenes = 10;
        for (int i = 0; i < scenes; ++i) {
            emit w.send_main_data(scene);
            QTest::qWait(60);
        }
        w.removeEventFilter(&counter);
        QVERIFY2(counter.repaints >= 1 && counter.repaints <= scenes + 2,
                 qPrintable(QString("%1 repaints for %2 scenes").arg(counter.repaints).arg(scenes)));
    }

    // A sensor that takes the connection and never answers: the connect
    // waits on the sensor's thread while the window's timers keep ticking
    // and it repaints, and a disconnect gives the window back at once.
    void window_stays_live_while_a_sensor_never_answers() {
        const int listen_fd = loopback::listener();
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTest::qWait(300);  // the first paints
        QElapsedTimer clock;
        qint64 last = 0, worst = 0;
        int ticks = 0;
        QTimer tick;
        tick.setInterval(20);
        connect(&tick, &QTimer::timeout, [&] {
            const qint64 now = clock.elapsed();
            worst = std::max(worst, now - last);
            last = now;
            ++ticks;
        });
        w.start_stream("127.0.0.1", loopback::local_port(listen_fd));
        clock.start();
        tick.start();
        QTest::qWait(2000);
        tick.stop();
        qInfo("while connecting: %d ticks, longest gap %lld ms", ticks, static_cast<long long>(worst));
        QVERIFY(w.opening());
        QVERIFY2(worst < 100, qPrintable(QString("a tick came %1 ms after the last").arg(worst)));
        QVERIFY(ticks >= 50);
        RepaintCounter counter;
        w.installEventFilter(&counter);
        for (int i = 0; i < 3; ++i) {
            w.update();
            QTRY_COMPARE(counter.repaints, i + 1);
        }
        w.removeEventFilter(&counter);
        QVERIFY(w.opening());
        QElapsedTimer cancel;
        cancel.start();
        w.user_bar()->connection_window()->findChild<QPushButton*>("btn_disconnect")->click();
        QVERIFY(cancel.elapsed() < 500);
        QVERIFY(!w.opening() && !w.connected());
        ::close(listen_fd);
    }

    // A connect given up on a sensor that never answers holds nothing up:
    // the next connect, to a sensor that answers, is not queued behind the
    // first one's 10-s settings wait, and a window closed while it connects
    // closes at once.
    void a_connect_given_up_holds_nothing_up() {
        const int listen_fd = loopback::listener();
        VELKOR::SIM::SimOptions options;
        options.bind_ip = "127.0.0.1";
        VELKOR::SIM::SimSensor sim(options);
        QVERIFY(sim.start());
        auto w = std::make_unique<MainWindow>();
        w->show();
        w->start_stream("127.0.0.1", loopback::local_port(listen_fd));
        QTest::qWait(300);
        QVERIFY(w->opening());
        w->user_bar()->connection_window()->findChild<QPushButton*>("btn_disconnect")->click();
        QElapsedTimer clock;
        clock.start();
        w->start_stream("127.0.0.1", sim.port());
        QTRY_VERIFY_WITH_TIMEOUT(w->connected(), 10000);
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString("connected after %1 ms").arg(clock.elapsed())));

        w->user_bar()->connection_window()->findChild<QPushButton*>("btn_disconnect")->click();
        w->start_stream("127.0.0.1", loopback::local_port(listen_fd));
        QTest::qWait(300);
        QVERIFY(w->opening());
        clock.restart();
        w.reset();
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString("closed after %1 ms").arg(clock.elapsed())));
        ::close(listen_fd);
    }

    // The view column's buttons reach the cloud; the projection it switches
    // is the one the point-cloud window shows and applies.
    void view_tools_reach_the_cloud() {
        MainWindow w;
        w.show();
        QDockWidget* dock = w.findChild<QDockWidget*>("view_Dock");
        QVERIFY(dock);
        QCOMPARE(w.dockWidgetArea(dock), Qt::RightDockWidgetArea);
        auto* projection = dock->findChild<QPushButton*>("btn_projection");
        projection->click();
        QVERIFY(w.pointcloud_view()->parallel_projection());
        auto* checkbox = w.user_bar()->pointcloud_window()->findChild<QCheckBox*>("cb_Orthogonal");
        QVERIFY(checkbox->isChecked());
        w.user_bar()->pointcloud_window()->findChild<QPushButton*>("btn_apply")->click();
        QVERIFY(projection->isChecked());
        checkbox->setChecked(false);
        w.user_bar()->pointcloud_window()->findChild<QPushButton*>("btn_apply")->click();
        QVERIFY(!projection->isChecked());

        dock->findChild<QPushButton*>("btn_birds_eye")->click();
        QCOMPARE(w.pointcloud_view()->camera_pose()[3], 1.0);  // forward is up the screen
        dock->findChild<QPushButton*>("btn_reset_view")->click();
        QCOMPARE(w.pointcloud_view()->camera_pose()[5], 1.0);
    }

    void speed_change_before_any_file_is_harmless() {
        MainWindow w;
        w.play_bar()->findChild<QDoubleSpinBox*>("sb_speed")->setValue(2.5);
        QCOMPARE(w.play_bar()->fps_text(), QString("0 FPS"));
        QCOMPARE(w.play_bar()->findChild<QDoubleSpinBox*>("sb_speed")->text(), QString("2.5x"));
    }

    void close_shuts_every_settings_window() {
        MainWindow w;
        w.show();
        w.user_bar()->image_window()->show();
        w.user_bar()->device_window()->show();
        w.close();
        QVERIFY(!w.user_bar()->image_window()->isVisible());
        QVERIFY(!w.user_bar()->device_window()->isVisible());
    }
};

int main(int argc, char** argv) {
    QSurfaceFormat::setDefaultFormat(QVTKOpenGLNativeWidget::defaultFormat());
    QApplication app(argc, argv);
    TestMainWindow test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_main_window_gl.moc"
