#include <QSurfaceFormat>
#include <QtTest>

#include <QVTKOpenGLNativeWidget.h>
#include <QVTKOpenGLStereoWidget.h>
#include <QVTKOpenGLWindow.h>
#include <vtkLogger.h>

#include "views/viewer_pointcloud.hpp"

namespace {

using scene_t = VELKOR::LidarTQ::scene_t;

// Distance in metres exactly as the view computes it from a depth in ns.
double distance_of(float depth_ns) {
    return static_cast<double>(149.89622f * depth_ns) / 1000.0;
}

scene_t make_scene(int rows, int cols, float depth_ns) {
    scene_t s;
    s.rows = rows;
    s.cols = cols;
    const size_t n = static_cast<size_t>(rows) * cols;
    s.depth.assign(n, depth_ns);
    s.intensity.assign(n, 0);
    s.pointcloud.resize(n);
    for (size_t i = 0; i < n; ++i) {
        s.pointcloud[i].x = 1000.0 + i;  // mm
        s.pointcloud[i].y = -500.0;
        s.pointcloud[i].z = 250.0;
    }
    return s;
}

// A wall 5 m ahead, 2 m wide and 1 m high, facing the camera.
scene_t wall_scene() {
    scene_t s = make_scene(56, 192, 5000.0f / 149.89622f);
    for (int r = 0; r < 56; ++r)
        for (int c = 0; c < 192; ++c) {
            auto& p = s.pointcloud[r * 192 + c];
            p.x = 5000.0;
            p.y = (96 - c) * 10.0;
            p.z = (28 - r) * 18.0;
        }
    return s;
}

cv::Mat solid(int rows, int cols, uint8_t r, uint8_t g, uint8_t b) {
    return cv::Mat(rows, cols, CV_8UC3, cv::Scalar(r, g, b));
}

bool drawn(const viewer_pointcloud& view, size_t i) {
    const auto p = view.cloud_point(i);
    return p.x != 0.0f || p.y != 0.0f || p.z != 0.0f;
}

void set_range(viewer_pointcloud& view, int color, double min, double max) {
    std::vector<double> val = {2.0, max, min};
    view.get_viewer_pointcloud(color, val, false);
}

}  // namespace

class TestViewerPointcloud : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { vtkLogger::SetStderrVerbosity(vtkLogger::VERBOSITY_ERROR); }

    void cloud_is_filled_in_place_with_a_fixed_size() {
        viewer_pointcloud view;
        view.show();
        scene_t s = make_scene(56, 192, 20.0f);
        view.updatePointCloud(s);
        QCOMPARE(view.cloud_size(), viewer_pointcloud::cloud_points);
        const auto p = view.cloud_point(3);
        QCOMPARE(p.x, 1.003f);
        QCOMPARE(p.y, -0.5f);
        QCOMPARE(p.z, 0.25f);
        // Beyond the scene's pixels the cloud holds black points at the origin.
        QVERIFY(!drawn(view, 56 * 192));
        QCOMPARE(view.cloud_point(56 * 192).r, uint8_t(0));
        // Also where a larger scene before it drew points.
        scene_t small = make_scene(1, 4, 20.0f);
        view.updatePointCloud(small);
        QVERIFY(drawn(view, 3));
        for (std::size_t i = 4; i < viewer_pointcloud::cloud_points; ++i)
            QVERIFY2(!drawn(view, i) && view.cloud_point(i).r == 0, qPrintable(QString::number(i)));
    }

    void cloud_is_rendered_in_front_of_the_camera() {
        viewer_pointcloud view;
        view.resize(800, 600);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        scene_t s = wall_scene();
        set_range(view, 1, 0.0, 200.0);  // red
        view.updatePointCloud(s);
        QTest::qWait(200);
        auto* widget = view.findChild<QVTKOpenGLStereoWidget*>("qvtkWidget");
        QVERIFY(widget);
        const QImage frame = widget->grabFramebuffer();
        int red = 0;
        for (int y = 0; y < frame.height(); ++y)
            for (int x = 0; x < frame.width(); ++x) {
                const QRgb c = frame.pixel(x, y);
                red += qRed(c) > 200 && qGreen(c) < 60 && qBlue(c) < 60;
            }
        QVERIFY2(red > 1000, qPrintable(QString("%1 red pixels").arg(red)));
    }

    // Pixels without a drawn return stay black points at the origin, and they
    // are drawn: the camera starts 1 m behind the origin looking along +x, so
    // a point straight ahead is hidden behind them, one beside it is not.
    void undrawn_points_stay_black_at_the_origin_on_screen() {
        viewer_pointcloud view;
        view.resize(800, 600);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        auto* widget = view.findChild<QVTKOpenGLStereoWidget*>("qvtkWidget");
        QVERIFY(widget);
        auto red_near_centre = [&] {
            const QImage frame = widget->grabFramebuffer();
            int red = 0;
            for (int y = frame.height() / 2 - 6; y <= frame.height() / 2 + 6; ++y)
                for (int x = frame.width() / 2 - 6; x <= frame.width() / 2 + 6; ++x) {
                    const QRgb c = frame.pixel(x, y);
                    red += qRed(c) > 200 && qGreen(c) < 60 && qBlue(c) < 60;
                }
            return red;
        };
        set_range(view, 1, 0.0, 200.0);  // red
        scene_t s = make_scene(1, 2, 5000.0f / 149.89622f);
        s.depth[1] = 0.0f;  // no return: black at the origin
        s.pointcloud[0].x = 5000.0;
        s.pointcloud[0].y = 0.0;
        s.pointcloud[0].z = 0.0;
        view.updatePointCloud(s);
        QTest::qWait(200);
        QCOMPARE(red_near_centre(), 0);

        s.pointcloud[0].y = 20.0;  // 2 cm beside the line of sight, a few pixels off the centre
        view.updatePointCloud(s);
        QTest::qWait(200);
        QVERIFY(red_near_centre() > 0);
    }

    void distance_filter_is_strict_at_both_ends() {
        viewer_pointcloud view;
        view.show();
        const float depth = 10.0f;
        const double at = distance_of(depth);
        scene_t s = make_scene(1, 4, depth);

        set_range(view, 0, at, 200.0);  // exactly at the minimum
        view.updatePointCloud(s);
        QVERIFY(!drawn(view, 0));
        set_range(view, 0, std::nextafter(at, 0.0), 200.0);
        view.updatePointCloud(s);
        QVERIFY(drawn(view, 0));

        set_range(view, 0, 0.0, at);  // exactly at the maximum
        view.updatePointCloud(s);
        QVERIFY(!drawn(view, 0));
        set_range(view, 0, 0.0, std::nextafter(at, 1e9));
        view.updatePointCloud(s);
        QVERIFY(drawn(view, 0));

        // A minimum above the maximum draws nothing; a zero range (no return) is never drawn.
        set_range(view, 0, 100.0, 50.0);
        view.updatePointCloud(s);
        QVERIFY(!drawn(view, 0));
        scene_t none = make_scene(1, 4, 0.0f);
        set_range(view, 0, 0.0, 200.0);
        view.updatePointCloud(none);
        QVERIFY(!drawn(view, 0));
    }

    void colour_modes_paint_points() {
        viewer_pointcloud view;
        view.show();
        scene_t s = make_scene(2, 3, 20.0f);
        const uint8_t expected[4][3] = {{255, 255, 255}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
        for (int mode = 0; mode < 4; ++mode) {
            set_range(view, mode, 0.0, 200.0);
            view.updatePointCloud(s);
            const auto p = view.cloud_point(4);
            QCOMPARE(p.r, expected[mode][0]);
            QCOMPARE(p.g, expected[mode][1]);
            QCOMPARE(p.b, expected[mode][2]);
        }
        // A mode past the last field mode paints black.
        set_range(view, viewer_pointcloud::first_field_mode + colour_field::field_count, 0.0, 200.0);
        view.updatePointCloud(s);
        QCOMPARE(view.cloud_point(4).r, uint8_t(0));
        QCOMPARE(view.cloud_point(4).g, uint8_t(0));
        QVERIFY(drawn(view, 4));

        // Image modes read the picture at the point's row and column.
        cv::Mat depth = solid(2, 3, 1, 2, 3);
        depth.at<cv::Vec3b>(1, 1) = cv::Vec3b(200, 100, 50);  // pixel index 1 * 3 + 1
        view.get_viewer_image_depth_img(depth);
        view.get_viewer_image_ambient_img(solid(2, 9, 7, 8, 9));
        view.get_viewer_image_intensity_img(solid(2, 3, 4, 5, 6));
        set_range(view, 5, 0.0, 200.0);
        view.updatePointCloud(s);
        QCOMPARE(view.cloud_point(4).r, uint8_t(200));
        QCOMPARE(view.cloud_point(4).b, uint8_t(50));
        QCOMPARE(view.cloud_point(0).g, uint8_t(2));
        set_range(view, 4, 0.0, 200.0);
        view.updatePointCloud(s);
        QCOMPARE(view.cloud_point(5).r, uint8_t(7));
        set_range(view, 6, 0.0, 200.0);
        view.updatePointCloud(s);
        QCOMPARE(view.cloud_point(5).b, uint8_t(6));
    }

    // Each field spans the legend from its lowest to its highest drawn value,
    // rounded outward to a 1-2-5 step; the ends take the ends of the scale.
    void field_modes_colour_by_value_with_a_legend() {
        viewer_pointcloud view;
        view.show();
        scene_t s = make_scene(2, 3, 0.0f);
        s.ambient.resize(6);
        for (int i = 0; i < 6; ++i) {
            s.depth[i] = 20.0f + 10.0f * i;  // 3.0 m to 10.5 m
            s.intensity[i] = static_cast<uint16_t>(100 + 10 * i);
            s.ambient[i] = 1000 + 500 * i;
            s.pointcloud[i].z = -1000.0 + 500.0 * i;  // mm
        }
        struct expected_t {
            const char* title;
            double lo, hi;     // legend
            double v0, v5;     // values of pixels 0 and 5
        };
        const expected_t fields[colour_field::field_count] = {
            {"Intensity", 100.0, 150.0, 100.0, 150.0},
            {"Range [m]", 2.0, 11.0, static_cast<float>(distance_of(20.0f)), static_cast<float>(distance_of(70.0f))},
            {"Ambient", 1000.0, 3500.0, 1000.0, 3500.0},
            {"Height Z [m]", -1.0, 1.5, -1.0, 1.5},
            {"Row", 0.0, 1.0, 0.0, 1.0}};
        const auto& palette = colour_field::palette();
        for (int f = 0; f < colour_field::field_count; ++f) {
            const expected_t& e = fields[f];
            set_range(view, viewer_pointcloud::first_field_mode + f, 0.0, 200.0);
            view.updatePointCloud(s);
            QVERIFY(view.legend_shown());
            QCOMPARE(view.legend_title(), std::string(e.title));
            QCOMPARE(view.legend_range().lo, e.lo);
            QCOMPARE(view.legend_range().hi, e.hi);
            const colour_field::rgb c0 = palette[colour_field::index_of(e.v0, view.legend_range())];
            const colour_field::rgb c5 = palette[colour_field::index_of(e.v5, view.legend_range())];
            QCOMPARE(view.cloud_point(0).r, c0[0]);
            QCOMPARE(view.cloud_point(0).b, c0[2]);
            QCOMPARE(view.cloud_point(5).g, c5[1]);
            if (e.v5 == e.hi)
                QCOMPARE(view.cloud_point(5).g, palette.back()[1]);
        }
        // Points the distance filter leaves out do not count.
        set_range(view, viewer_pointcloud::first_field_mode + colour_field::range, 0.0, 10.0);
        view.updatePointCloud(s);
        QCOMPARE(view.legend_range().hi, 9.0);
        // One value spans one step; a fixed colour mode hides the legend.
        scene_t flat = make_scene(2, 3, 20.0f);
        set_range(view, viewer_pointcloud::first_field_mode + colour_field::intensity, 0.0, 200.0);
        view.updatePointCloud(flat);
        QCOMPARE(view.legend_range().lo, 0.0);
        QCOMPARE(view.legend_range().hi, 1.0);
        set_range(view, 6, 0.0, 200.0);
        view.updatePointCloud(s);
        QVERIFY(!view.legend_shown());
    }

    // The readout shows the picked pixel's own values; two picks are
    // measured, a third starts a new pair, and clearing empties it all.
    void picks_read_out_a_pixel_and_measure_two() {
        viewer_pointcloud view;
        view.show();
        scene_t s = make_scene(56, 192, 0.0f);
        s.ambient.assign(56 * 576, 0);
        auto set_pixel = [&](int row, int col, float depth, uint16_t intensity, double x, double y, double z) {
            const int i = row * 192 + col;
            s.depth[i] = depth;
            s.intensity[i] = intensity;
            s.pointcloud[i].x = x;
            s.pointcloud[i].y = y;
            s.pointcloud[i].z = z;
            for (int k = 0; k < 3; ++k)
                s.ambient[row * 576 + col * 3 + k] = 11 + k + 100 * col;
        };
        set_pixel(10, 20, 50.0f, 1234, 7400.0, -1200.0, 350.0);
        set_pixel(30, 100, 30.0f, 77, 4400.0, 2800.0, 350.0);
        view.updatePointCloud(s);
        QVERIFY(!view.pick_pixel(10, 21));  // no return there
        QVERIFY(view.picks().empty());
        QVERIFY(view.measured_distance() < 0.0);

        QVERIFY(view.pick_pixel(10, 20));
        QCOMPARE(view.picks().size(), size_t(1));
        QCOMPARE(view.picks()[0].range, static_cast<double>(static_cast<float>(distance_of(50.0f))));
        QCOMPARE(view.pick_readout(), std::string("Pick 1: row 10, column 20\n"
                                                  "  range 7.495 m, intensity 1234, ambient 2011 2012 2013\n"
                                                  "  x 7.400  y -1.200  z 0.350 m"));
        QVERIFY(view.pick_pixel(30, 100));
        QVERIFY(std::abs(view.measured_distance() - 5.0) < 1e-6);
        const std::string readout = view.pick_readout();
        QVERIFY(readout.find("Pick 2: row 30, column 100\n  range 4.497 m, intensity 77, ambient 10011 10012 10013") !=
                std::string::npos);
        QVERIFY(readout.size() > 17 && readout.compare(readout.size() - 17, 17, "Distance: 5.000 m") == 0);

        QVERIFY(view.pick_pixel(10, 20));
        QCOMPARE(view.picks().size(), size_t(1));
        view.get_viewer_clear_picks(true);
        QVERIFY(view.picks().empty());
        QCOMPARE(view.pick_readout(), std::string());
    }

    // A click picks the point drawn under the pointer, not the black points
    // of the pixels without a return that sit on the line of sight.
    void click_picks_the_point_under_the_pointer() {
        viewer_pointcloud view;
        view.resize(800, 600);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        scene_t s = wall_scene();
        s.depth[0] = 0.0f;  // one pixel without a return, at the origin
        view.updatePointCloud(s);
        QTest::qWait(100);
        auto* widget = view.findChild<QVTKOpenGLStereoWidget*>("qvtkWidget");
        QVERIFY(widget);
        QWindow* gl = widget->embeddedOpenGLWindow();
        QTest::mouseClick(gl, Qt::LeftButton, Qt::NoModifier, QRect(QPoint(), gl->size()).center());
        QCOMPARE(view.picks().size(), size_t(1));
        QVERIFY2(std::abs(view.picks()[0].row - 28) <= 1 && std::abs(view.picks()[0].col - 96) <= 1,
                 view.pick_readout().c_str());
        // A drag turns the camera and picks nothing.
        QTest::mousePress(gl, Qt::LeftButton, Qt::NoModifier, QPoint(100, 100));
        QTest::mouseMove(gl, QPoint(160, 140));
        QTest::mouseRelease(gl, Qt::LeftButton, Qt::NoModifier, QPoint(160, 140));
        QCOMPARE(view.picks().size(), size_t(1));
    }

    void birds_eye_projection_and_reset_views() {
        viewer_pointcloud view;
        view.show();
        QList<bool> reported;
        connect(&view, &viewer_pointcloud::send_viewer_orthographic, [&](bool on) { reported << on; });
        auto same_pose = [](const std::vector<double>& a, const std::vector<double>& b) {
            for (size_t i = 0; i < a.size(); ++i)
                if (std::abs(a[i] - b[i]) > 1e-9)
                    return false;
            return a.size() == b.size();
        };
        scene_t s = make_scene(56, 192, 20.0f);
        view.updatePointCloud(s);
        view.get_viewer_birds_eye(true);
        std::vector<double> pose = view.camera_pose();
        // Straight down from above, the sensor's forward up the screen.
        QVERIFY(pose[2] > 1.0);
        QCOMPARE(pose[3], 1.0);
        QCOMPARE(pose[5], 0.0);
        view.updatePointCloud(s);  // a new scene keeps the view
        QVERIFY(same_pose(view.camera_pose(), pose));

        view.get_viewer_orthographic(true);  // at once, not with the next scene
        QVERIFY(view.parallel_projection());
        view.updatePointCloud(s);
        QVERIFY(view.parallel_projection());
        view.get_viewer_orthographic(false);
        QVERIFY(!view.parallel_projection());
        QCOMPARE(reported, (QList<bool>{true, false}));

        view.get_viewer_reset_view(true);
        pose = view.camera_pose();
        // Behind the sensor, looking along +x at the middle of what is drawn
        // (the cloud at y = -0.5 m, z = 0.25 m and the sensor's origin).
        QVERIFY(pose[0] < 0.0);
        QVERIFY(pose[1] >= -0.5 && pose[1] <= 0.0);
        QVERIFY(pose[2] >= 0.0 && pose[2] <= 0.25);
        QCOMPARE(pose[5], 1.0);
    }

    void image_modes_without_pictures_draw_white() {
        viewer_pointcloud view;
        view.show();
        scene_t s = make_scene(56, 192, 20.0f);
        view.updatePointCloud(s);  // default mode is Intensity, no picture yet
        QCOMPARE(view.cloud_point(100).r, uint8_t(255));
        QCOMPARE(view.cloud_point(100).b, uint8_t(255));
        // A picture smaller than the scene is not read either.
        view.get_viewer_image_intensity_img(solid(10, 10, 1, 1, 1));
        view.updatePointCloud(s);
        QCOMPARE(view.cloud_point(56 * 192 - 1).g, uint8_t(255));
    }

    void grid_is_a_whole_number_of_cells() {
        viewer_pointcloud view;
        view.show();
        std::vector<double> setting = {3.0, 10.0, 0.5};
        view.get_main_grid_setting(setting, true);
        QCOMPARE(view.grid_max_distance(), 9.0);
        const std::vector<std::string> expected = {"grid_0", "grid_4", "0m", "grid_1", "grid_5", "3m",
                                                   "grid_2", "grid_6", "6m", "grid_3", "grid_7", "9m"};
        QCOMPARE(view.grid_shape_ids(), expected);

        // Applying again replaces the grid; disabling removes it.
        std::vector<double> bigger = {10.0, 50.0, 0.5};
        view.get_main_grid_setting(bigger, true);
        QCOMPARE(view.grid_shape_ids().size(), size_t(18));
        QCOMPARE(view.grid_shape_ids().back(), std::string("50m"));
        std::vector<double> fine = {2.5, 10.0, 0.5};
        view.get_main_grid_setting(fine, false);
        QVERIFY(view.grid_shape_ids().empty());
        view.get_main_grid_setting(fine, true);  // ids free again: adding them succeeds
        QCOMPARE(view.grid_shape_ids().size(), size_t(18));
        QCOMPARE(view.grid_shape_ids()[5], std::string("2.5m"));
    }

    void projection_and_axis_views_apply_with_the_next_scene() {
        viewer_pointcloud view;
        view.show();
        scene_t s = make_scene(56, 192, 20.0f);
        view.updatePointCloud(s);
        std::vector<double> val = {2.0, 200.0, 0.0};
        view.get_viewer_pointcloud(6, val, true);
        QVERIFY(!view.parallel_projection());
        view.updatePointCloud(s);
        QVERIFY(view.parallel_projection());

        const std::vector<double> before = view.camera_pose();
        const double r = std::sqrt(before[0] * before[0] + before[1] * before[1] + before[2] * before[2]);
        view.get_main_xy_axis(true);
        QCOMPARE(view.camera_pose(), before);
        view.updatePointCloud(s);
        std::vector<double> xy = view.camera_pose();
        QCOMPARE(xy[0], 0.0);
        QCOMPARE(xy[2], r);
        QCOMPARE(xy[3], 1.0);

        view.get_main_zx_axis(true);
        view.updatePointCloud(s);
        std::vector<double> zx = view.camera_pose();
        QVERIFY(std::abs(zx[1] + r) < 1e-9);
        QCOMPARE(zx[5], 1.0);
    }

    void capture_writes_cloud_and_screenshot() {
        viewer_pointcloud view;
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QTemporaryDir dir;
        const QString base = dir.path() + "/scan";
        view.get_viewer_playmode_capture(base);  // no scene yet
        QVERIFY(!QFile::exists(base + ".pcd"));

        scene_t s = make_scene(56, 192, 20.0f);
        view.updatePointCloud(s);
        view.get_viewer_playmode_capture(QString());
        QVERIFY(!QFile::exists(base + ".pcd"));
        view.get_viewer_playmode_capture(base);
        QFile pcd(base + ".pcd");
        QVERIFY(pcd.open(QIODevice::ReadOnly | QIODevice::Text));
        const QString text = QString::fromLatin1(pcd.readAll());
        QVERIFY(text.contains("VERSION 0.7"));
        QVERIFY(text.contains("POINTS 40000"));
        QVERIFY(text.contains("DATA ascii"));
        QVERIFY(QFileInfo(base + "_pointcloud.png").size() > 0);
    }
};

int main(int argc, char** argv) {
    QSurfaceFormat::setDefaultFormat(QVTKOpenGLNativeWidget::defaultFormat());
    QApplication app(argc, argv);
    TestViewerPointcloud test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_viewer_pointcloud_gl.moc"
