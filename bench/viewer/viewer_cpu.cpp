// CPU that drawing 576-column scenes at a fixed rate costs: Nimbra Studio's
// main window replaying a recording of the simulated room (every frame
// displayed, counted), or a bare PCL visualiser window drawing the clouds of
// the same frames at the same rate, its floor. One mode per run; the script
// beside this file runs both, in turns, under Xvfb.
//   viewer_cpu studio|floor --fps F [--frames N] [--warmup W] [--size WxH]
// prints one line: mode, rate asked, frames drawn, rate drawn, CPU of the
// whole process (all its threads, the GL rasteriser's included) in per cent
// of one core, and the size of the 3-D view.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QSurfaceFormat>
#include <QTemporaryDir>
#include <QTextStream>
#include <QtTest>

#include <QVTKOpenGLNativeWidget.h>
#include <vtkLogger.h>
#include <vtkRenderWindow.h>

#include <pcl/point_cloud.h>
#include <pcl/point_types.h>
#include <pcl/visualization/pcl_visualizer.h>

#include "api/lidar_tq.hpp"
#include "main_window/main_window.hpp"
#include "panels/tool_playbar.hpp"
#include "sim_recording.hpp"
#include "views/viewer_pointcloud.hpp"

namespace {

struct Options {
    std::string mode;
    double fps = 20.0;
    int frames = 0;  // default: 8 s of drawing after the warm-up
    int warmup = 0;  // default: 1 s
    int width = 0, height = 0;
};

double cpu_seconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// CPU and wall time between two moments of the run.
struct Span {
    double cpu0 = 0, cpu1 = 0;
    qint64 ns0 = 0, ns1 = 0;
    double load() const { return (cpu1 - cpu0) / ((ns1 - ns0) / 1e9); }
};

void report(const Options& o, int drawn, double rate, const Span& span, int w, int h) {
    std::printf("%s fps %.1f frames %d rate %.2f cpu %.1f %% view %dx%d\n", o.mode.c_str(), o.fps, drawn, rate,
                100.0 * span.load(), w, h);
}

// The recording both modes draw: the simulated room at `fps`, rows with 576
// ambient words, so that depth completion makes every scene 576 columns wide.
bool write_recording(const QString& path, const Options& o) {
    return recording_files::write_file(path.toStdString(),
                                       sim_recording::room(o.frames, o.fps, 1700000000000000, 1, 576));
}

int run_studio(const Options& o, const QString& path) {
    QFile style(":/qdarkstyle/dark/style.qss");
    if (style.open(QFile::ReadOnly | QFile::Text))
        qApp->setStyleSheet(QTextStream(&style).readAll());
    MainWindow w;
    w.show();
    if (!QTest::qWaitForWindowExposed(&w))
        return 1;
    QElapsedTimer clock;
    clock.start();
    Span span;
    int shown = 0, cols = 0;
    QObject::connect(&w, &MainWindow::send_main_data, [&](VELKOR::LidarTQ::scene_t& scene) {
        ++shown;
        cols = scene.cols;
        if (shown == o.warmup) {
            span.cpu0 = cpu_seconds();
            span.ns0 = clock.nsecsElapsed();
        } else if (shown == o.frames) {
            span.cpu1 = cpu_seconds();
            span.ns1 = clock.nsecsElapsed();
        }
    });
    w.start_replay(path);
    if (!QTest::qWaitFor([&] { return w.connected(); }, 10000))
        return 1;
    w.play_bar()->findChild<QPushButton*>("btn_play")->click();
    const int limit_ms = static_cast<int>(4000.0 * o.frames / o.fps) + 10000;
    (void)QTest::qWaitFor([&] { return shown >= o.frames; }, limit_ms);
    QTest::qWait(300);
    if (shown != o.frames || cols != 576) {
        std::fprintf(stderr, "studio: %d of %d frames displayed, %d columns\n", shown, o.frames, cols);
        return 1;
    }
    const QSize view = w.pointcloud_view()->findChild<QWidget*>("qvtkWidget")->size();
    report(o, shown - o.warmup, (shown - o.warmup) / ((span.ns1 - span.ns0) / 1e9), span, view.width(),
           view.height());
    return 0;
}

int run_floor(const Options& o, const QString& path) {
    // The clouds first, through the library as the viewer gets them: the
    // points with a return, coloured by intensity.
    using Cloud = pcl::PointCloud<pcl::PointXYZRGB>;
    std::vector<Cloud::Ptr> clouds;
    {
        VELKOR::LidarTQ player;
        player.set_signal_data_processing(true);
        if (!player.play_start(path.toStdString()))
            return 1;
        VELKOR::LidarTQ::scene_t scene;
        for (int i = 0; i < o.frames; ++i) {
            if (!player.get_scene(scene, i) || scene.cols != 576)
                return 1;
            auto cloud = std::make_shared<Cloud>();
            for (std::size_t k = 0; k < scene.pointcloud.size() && k < scene.depth.size(); ++k) {
                if (!(scene.depth[k] > 0.0f))
                    continue;
                pcl::PointXYZRGB p;
                p.x = static_cast<float>(scene.pointcloud[k].x / 1000.0);
                p.y = static_cast<float>(scene.pointcloud[k].y / 1000.0);
                p.z = static_cast<float>(scene.pointcloud[k].z / 1000.0);
                p.r = p.g = p.b = static_cast<uint8_t>(std::min(255, scene.intensity[k] / 16));
                cloud->push_back(p);
            }
            clouds.push_back(cloud);
        }
        player.play_stop();
    }
    pcl::visualization::PCLVisualizer viewer("floor");
    viewer.getRenderWindow()->SetMultiSamples(0);  // as in the viewer
    viewer.setShowFPS(false);
    viewer.initCameraParameters();
    viewer.setCameraPosition(-1, 0, 0, 0, 0, 0, 0, 0, 1, 0);
    // After the camera: PCL's camera set-up sizes the window to half the
    // screen, which would leave the floor drawing fewer pixels than the viewer.
    viewer.setSize(o.width, o.height);
    pcl::visualization::PointCloudColorHandlerRGBField<pcl::PointXYZRGB> first(clouds[0]);
    viewer.addPointCloud<pcl::PointXYZRGB>(clouds[0], first, "cloud");
    viewer.setPointCloudRenderingProperties(pcl::visualization::PCL_VISUALIZER_POINT_SIZE, 2.0, "cloud");
    viewer.getRenderWindow()->Render();
    const int* drawn_size = viewer.getRenderWindow()->GetSize();
    if (drawn_size[0] != o.width || drawn_size[1] != o.height) {
        std::fprintf(stderr, "floor: the window is %dx%d, not %dx%d\n", drawn_size[0], drawn_size[1], o.width,
                     o.height);
        return 1;
    }

    const auto period = std::chrono::duration<double>(1.0 / o.fps);
    const auto start = std::chrono::steady_clock::now();
    QElapsedTimer clock;
    clock.start();
    Span span;
    for (int i = 0; i < o.frames; ++i) {
        std::this_thread::sleep_until(start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(i * period));
        pcl::visualization::PointCloudColorHandlerRGBField<pcl::PointXYZRGB> rgb(clouds[i]);
        viewer.updatePointCloud<pcl::PointXYZRGB>(clouds[i], rgb, "cloud");
        viewer.setPointCloudRenderingProperties(pcl::visualization::PCL_VISUALIZER_POINT_SIZE, 2.0, "cloud");
        viewer.getRenderWindow()->Render();
        if (i + 1 == o.warmup) {
            span.cpu0 = cpu_seconds();
            span.ns0 = clock.nsecsElapsed();
        }
    }
    span.cpu1 = cpu_seconds();
    span.ns1 = clock.nsecsElapsed();
    report(o, o.frames - o.warmup, (o.frames - o.warmup) / ((span.ns1 - span.ns0) / 1e9), span, o.width, o.height);
    return 0;
}

bool parse(int argc, char** argv, Options& o) {
    if (argc < 2)
        return false;
    o.mode = argv[1];
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const char* value = argv[i + 1];
        if (key == "--fps")
            o.fps = std::atof(value);
        else if (key == "--frames")
            o.frames = std::atoi(value);
        else if (key == "--warmup")
            o.warmup = std::atoi(value);
        else if (key == "--size" && std::sscanf(value, "%dx%d", &o.width, &o.height) == 2)
            continue;
        else
            return false;
    }
    if (o.frames <= 0)
        o.frames = static_cast<int>(9.0 * o.fps);
    if (o.warmup <= 0)
        o.warmup = static_cast<int>(o.fps);
    if (o.width <= 0 || o.height <= 0)
        o.width = 1000, o.height = 600;
    return (o.mode == "studio" || o.mode == "floor") && o.fps > 0.0 && o.fps <= 100.0 && o.warmup < o.frames &&
           o.frames <= 2000;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(stderr, "usage: viewer_cpu studio|floor --fps F [--frames N] [--warmup W] [--size WxH]\n");
        return 2;
    }
    vtkLogger::SetStderrVerbosity(vtkLogger::VERBOSITY_ERROR);
    QSurfaceFormat::setDefaultFormat(QVTKOpenGLNativeWidget::defaultFormat());
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = dir.filePath("room.bin");
    if (!write_recording(path, o)) {
        std::fprintf(stderr, "viewer_cpu: cannot write %s\n", qPrintable(path));
        return 1;
    }
    return o.mode == "studio" ? run_studio(o, path) : run_floor(o, path);
}
