// From end to end on loopback: Nimbra Studio records the stream of the
// simulated sensor (in this process) for three seconds, replays the file at
// twice the speed with repeat on, and captures one replayed scene to a point
// cloud and four pictures, which are read back.
#include <cmath>
#include <set>

#include <QDir>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QSurfaceFormat>
#include <QTemporaryDir>
#include <QtTest>

#include <QVTKOpenGLNativeWidget.h>
#include <vtkLogger.h>

#include <pcl/io/pcd_io.h>
#include <pcl/point_types.h>

#include "main_window/main_window.hpp"
#include "modal_answerer.hpp"
#include "panels/tool_playbar.hpp"
#include "recording/logger.hpp"
#include "sim_sensor.hpp"
#include "views/viewer_pointcloud.hpp"

namespace {

template <typename T>
T* child(QWidget* w, const char* name) {
    T* c = w->findChild<T*>(name);
    if (!c)
        qFatal("no child %s", name);
    return c;
}

uint64_t frames_in(const QString& path) {
    VELKOR::Logger reader;
    VELKOR::LOG_PROPS_T props;
    props.file_path = path.toStdString();
    props.read_mode = true;
    if (!reader.open(props))
        return 0;
    unsigned long long last = 0;
    reader.get_total_size(last);
    reader.close();
    return last >= 0xFFFFFFFFull ? 0 : last + 1;
}

bool at_origin(float x, float y, float z) {
    return x == 0.0f && y == 0.0f && z == 0.0f;
}

}  // namespace

class TestRecordReplay : public QObject {
    Q_OBJECT

    QTemporaryDir work_;

private slots:
    void initTestCase() {
        vtkLogger::SetStderrVerbosity(vtkLogger::VERBOSITY_ERROR);
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
        qRegisterMetaType<uint64_t>("uint64_t");
        QVERIFY(QDir::setCurrent(work_.path()));
    }

    void record_replay_and_capture() {
        VELKOR::SIM::SimOptions options;
        options.bind_ip = "127.0.0.1";
        options.fps = 10.0;
        VELKOR::SIM::SimSensor sim(options);
        QVERIFY(sim.start());

        MainWindow w;
        w.resize(1200, 900);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        int shown = 0;
        connect(&w, &MainWindow::send_main_data, [&](VELKOR::LidarTQ::scene_t&) { ++shown; });
        ModalAnswerer answers;
        tool_playbar* bar = w.play_bar();

        // Live stream, then three seconds of recording.
        w.start_stream("127.0.0.1", sim.port());
        QTRY_VERIFY_WITH_TIMEOUT(w.connected(), 15000);
        QTRY_VERIFY_WITH_TIMEOUT(shown > 0, 10000);
        QTemporaryDir records;
        answers.answer_file(records.path());
        child<QPushButton>(bar, "btn_record")->click();
        QCOMPARE(child<QPushButton>(bar, "btn_record")->toolTip(), QString("Record Stop"));
        const uint64_t sent_before = sim.frames_sent();
        QTest::qWait(3000);
        QTRY_COMPARE(child<QLineEdit>(bar, "le_frame")->text(), QString("Record : 00m03s"));
        child<QPushButton>(bar, "btn_record")->click();
        const uint64_t sent = sim.frames_sent() - sent_before;
        QCOMPARE(child<QPushButton>(bar, "btn_record")->toolTip(), QString("Record"));
        const QStringList files = QDir(records.path()).entryList({"*.bin"}, QDir::Files);
        QCOMPARE(files.size(), 1);
        const QString recording = records.filePath(files[0]);
        const uint64_t frames = frames_in(recording);
        qInfo("recorded %llu frames of %llu sent in 3 s (%lld bytes)", static_cast<unsigned long long>(frames),
              static_cast<unsigned long long>(sent), static_cast<long long>(QFileInfo(recording).size()));
        QVERIFY(frames >= 20);
        QVERIFY(frames <= sent + 2);

        // Replay from the file at 2x, repeating.
        QList<uint64_t> positions;
        connect(bar, &tool_playbar::send_tool_current_frame, [&](uint64_t v) { positions << v; });
        w.start_replay(recording);
        QTRY_VERIFY(w.connected());
        QVERIFY(answers.boxes.empty());
        QCOMPARE(child<QLineEdit>(bar, "le_frame_control")->text(), QString("Frame : [0/%1]").arg(frames));
        QCOMPARE(child<QSlider>(bar, "sl_frame_control")->maximum(), int(frames - 1));
        QVERIFY(child<QPushButton>(bar, "btn_play")->isEnabled());
        child<QPushButton>(bar, "btn_repeat")->click();
        child<QDoubleSpinBox>(bar, "sb_speed")->setValue(2.0);
        // Twice the recorded 10 fps.
        const double fps = bar->fps_text().section(' ', 0, 0).toDouble();
        QVERIFY2(fps > 19.0 && fps < 21.0, qPrintable(bar->fps_text()));
        positions.clear();
        shown = 0;
        QElapsedTimer pass;
        pass.start();
        child<QPushButton>(bar, "btn_play")->click();
        // Through the whole file, back to its start and on.
        auto wrapped = [&] {
            const int zero = positions.indexOf(0);
            return zero > 0 && positions.size() > zero + 3;
        };
        QTRY_VERIFY_WITH_TIMEOUT(wrapped(), 60000);
        const qint64 first_pass_ms = pass.elapsed();
        child<QPushButton>(bar, "btn_pause")->click();
        const int zero = positions.indexOf(0);
        const std::set<uint64_t> first_pass(positions.begin(), positions.begin() + zero);
        qInfo("first pass of %llu frames: %d positions in %lld ms, %d scenes shown by the pause",
              static_cast<unsigned long long>(frames), zero, static_cast<long long>(first_pass_ms), shown);
        // Every frame of the file is visited, the last one too, and nothing beyond it.
        for (uint64_t i = 1; i < frames; ++i)
            QVERIFY2(first_pass.count(i), qPrintable(QString("frame %1 skipped").arg(i)));
        QCOMPARE(*first_pass.rbegin(), frames - 1);
        // At 2x a frame takes 50 ms: a pass is never quicker than that.
        QVERIFY(first_pass_ms >= qint64(frames) * 50 * 8 / 10);
        QVERIFY(shown >= int(frames) - 2);

        // Capture the paused scene.
        QTemporaryDir captures;
        const QString base = captures.filePath("scene");
        answers.answer_file(base);
        child<QPushButton>(bar, "btn_capture")->click();
        QCOMPARE(answers.file_requests.back().caption, QString("Save current point cloud / images"));
        for (const char* suffix : {".pcd", "_pointcloud.png", "_intensity.png", "_depth.png", "_ambient.png"}) {
            const QFileInfo file(base + suffix);
            QVERIFY2(file.exists() && file.size() > 0, suffix);
            if (QString(suffix).endsWith(".png"))
                QVERIFY2(!QImage(file.filePath()).isNull(), suffix);
        }

        pcl::PointCloud<pcl::PointXYZRGB> cloud;
        pcl::PCDReader reader;
        QCOMPARE(reader.read((base + ".pcd").toStdString(), cloud), 0);
        QCOMPARE(cloud.size(), viewer_pointcloud::cloud_points);
        const viewer_pointcloud* view = w.pointcloud_view();
        size_t placed = 0, view_placed = 0, differ = 0;
        for (size_t i = 0; i < cloud.size(); ++i) {
            const auto& p = cloud.points[i];
            const auto q = view->cloud_point(i);
            placed += at_origin(p.x, p.y, p.z) ? 0 : 1;
            view_placed += at_origin(q.x, q.y, q.z) ? 0 : 1;
            differ += std::abs(p.x - q.x) > 1e-3f || std::abs(p.y - q.y) > 1e-3f || std::abs(p.z - q.z) > 1e-3f ||
                      p.r != q.r || p.g != q.g || p.b != q.b;
        }
        qInfo("capture: %zu points in the file, %zu of them placed", cloud.size(), placed);
        QCOMPARE(placed, view_placed);
        QVERIFY(placed > 1000);
        QCOMPARE(differ, size_t(0));
    }
};

int main(int argc, char** argv) {
    QSurfaceFormat::setDefaultFormat(QVTKOpenGLNativeWidget::defaultFormat());
    QApplication app(argc, argv);
    TestRecordReplay test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_record_replay_gl.moc"
