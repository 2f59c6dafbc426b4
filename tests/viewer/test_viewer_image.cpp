#include <QLabel>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "views/viewer_image.hpp"

namespace {

using scene_t = VELKOR::LidarTQ::scene_t;

scene_t make_scene(int rows, int cols) {
    scene_t s;
    s.rows = rows;
    s.cols = cols;
    const int ambient_cols = cols == 192 ? 576 : cols;
    s.ambient.assign(static_cast<size_t>(rows) * ambient_cols, 0);
    s.depth.assign(static_cast<size_t>(rows) * cols, 0.0f);
    s.intensity.assign(static_cast<size_t>(rows) * cols, 0);
    return s;
}

cv::Vec3b table_entry(int v) {
    return viewer_image::colour_table().at<cv::Vec3b>(v, 0);
}

cv::Vec3b px(const cv::Mat& m, int r, int c) {
    return m.at<cv::Vec3b>(r, c);
}

}  // namespace

class TestViewerImage : public QObject {
    Q_OBJECT

private slots:
    void colour_table_runs_from_dark_blue_to_yellow() {
        const cv::Mat& t = viewer_image::colour_table();
        QCOMPARE(t.rows, 256);
        QCOMPARE(t.cols, 1);
        QCOMPARE(t.type(), CV_8UC3);
        // (index, R, G, B) samples across every segment of the table.
        const int samples[][4] = {{0, 3, 18, 107},    {31, 22, 66, 134},   {32, 22, 67, 135},   {64, 41, 117, 162},
                                  {127, 68, 186, 182}, {128, 70, 187, 181}, {160, 128, 222, 146}, {191, 183, 255, 113},
                                  {192, 184, 255, 111}, {224, 221, 255, 54}, {254, 254, 255, 1},  {255, 254, 255, 1}};
        for (const auto& s : samples) {
            const cv::Vec3b e = table_entry(s[0]);
            QVERIFY2(e[0] == s[1] && e[1] == s[2] && e[2] == s[3], qPrintable(QString("entry %1").arg(s[0])));
        }
    }

    void fixed_range_maps_min_to_0_and_max_to_255_and_saturates() {
        viewer_image view;
        view.get_main_image_grey_mode_ambient(true);  // grey shows the 8-bit value itself
        scene_t s = make_scene(56, 192);
        s.ambient[0] = 0;
        s.ambient[1] = 5000;
        s.ambient[2] = 1000;
        s.ambient[3] = 9000;  // above the maximum
        view.updateScene(s);
        const cv::Mat& a = view.ambient_picture();
        QCOMPARE(a.cols, 576);  // three ambient samples per depth column
        QCOMPARE(a.rows, 56);
        QCOMPARE(int(px(a, 0, 0)[0]), 0);
        QCOMPARE(int(px(a, 0, 1)[0]), 255);
        QCOMPARE(int(px(a, 0, 2)[0]), 51);
        QCOMPARE(int(px(a, 0, 3)[0]), 255);

        // Depth defaults to 0-100 ns through JET, stored R G B: 0 is dark blue, 100 dark red.
        scene_t d = make_scene(56, 192);
        d.depth[0] = 0.0f;
        d.depth[1] = 100.0f;
        d.depth[2] = -5.0f;  // below the minimum
        view.updateScene(d);
        const cv::Mat& dp = view.depth_picture();
        QCOMPARE(px(dp, 0, 0), cv::Vec3b(0, 0, 128));
        QCOMPARE(px(dp, 0, 1), cv::Vec3b(128, 0, 0));
        QCOMPARE(px(dp, 0, 2), px(dp, 0, 0));
    }

    void depth_is_coloured_as_opencv_jet_for_every_value() {
        viewer_image view;
        view.get_main_image_min_val_depth(0.0);
        view.get_main_image_max_val_depth(255.0);
        scene_t s = make_scene(2, 256);
        for (int v = 0; v < 256; ++v)
            s.depth[v] = static_cast<float>(v);
        view.updateScene(s);
        cv::Mat ramp(1, 256, CV_8UC1);
        for (int v = 0; v < 256; ++v)
            ramp.at<uint8_t>(0, v) = static_cast<uint8_t>(v);
        cv::Mat bgr;
        cv::applyColorMap(ramp, bgr, cv::COLORMAP_JET);
        for (int v = 0; v < 256; ++v) {
            const cv::Vec3b e = bgr.at<cv::Vec3b>(0, v);
            QCOMPARE(px(view.depth_picture(), 0, v), cv::Vec3b(e[2], e[1], e[0]));
        }
    }

    void equal_min_and_max_becomes_a_range_of_one() {
        viewer_image view;
        view.get_main_image_auto_norm_intensity(false);
        view.get_main_image_hist_mode_intensity(false);
        view.get_main_image_min_val_intensity(100.0);
        view.get_main_image_max_val_intensity(100.0);
        scene_t s = make_scene(56, 192);
        s.intensity[0] = 100;
        s.intensity[1] = 101;
        view.updateScene(s);
        QCOMPARE(view.max_val_intensity(), 101.0);
        QCOMPARE(px(view.intensity_picture(), 0, 0), table_entry(0));
        QCOMPARE(px(view.intensity_picture(), 0, 1), table_entry(255));
    }

    void auto_normalisation_of_a_flat_image_shows_the_bottom_of_the_scale() {
        viewer_image view;  // intensity: auto, histogram, colour table
        view.get_main_image_hist_mode_intensity(false);
        scene_t s = make_scene(56, 192);
        std::fill(s.intensity.begin(), s.intensity.end(), 700);
        view.updateScene(s);
        const cv::Mat& p = view.intensity_picture();
        QCOMPARE(p.rows, 56);
        QCOMPARE(px(p, 0, 0), table_entry(0));
        QCOMPARE(px(p, 55, 191), table_entry(0));
    }

    void default_intensity_is_auto_normalised_and_coloured() {
        viewer_image view;
        view.get_main_image_hist_mode_intensity(false);
        scene_t s = make_scene(56, 192);
        for (size_t i = 0; i < s.intensity.size(); ++i)
            s.intensity[i] = static_cast<uint16_t>(1000 + i % 2);
        view.updateScene(s);
        QCOMPARE(px(view.intensity_picture(), 0, 0), table_entry(0));
        QCOMPARE(px(view.intensity_picture(), 0, 1), table_entry(255));
    }

    void pictures_are_handed_on_and_shown() {
        viewer_image view;
        view.resize(900, 120);
        int handed = 0;
        connect(&view, &viewer_image::send_viewer_image_ambient_img, [&](cv::Mat m) { handed += m.cols == 576; });
        connect(&view, &viewer_image::send_viewer_image_depth_img, [&](cv::Mat m) { handed += m.cols == 192; });
        connect(&view, &viewer_image::send_viewer_image_intensity_img, [&](cv::Mat m) { handed += m.cols == 192; });
        scene_t s = make_scene(56, 192);
        view.updateScene(s);
        QCOMPARE(handed, 3);
        for (const char* name : {"im_ambient_image", "im_depth_image", "im_intensity_image"}) {
            auto* label = view.findChild<QLabel*>(name);
            QVERIFY2(label && !label->pixmap(Qt::ReturnByValue).isNull(), name);
        }
        // A scene without a source leaves that picture alone and emits nothing for it.
        handed = 0;
        scene_t partial = make_scene(56, 192);
        partial.ambient.clear();
        view.updateScene(partial);
        QCOMPARE(handed, 2);
    }

    void capture_writes_three_pngs_in_screen_colours_every_time() {
        viewer_image view;
        QTemporaryDir dir;
        const QString base = dir.path() + "/scan";
        view.get_viewer_playmode_capture(base);  // before any scene: nothing to write
        QVERIFY(!QFile::exists(base + "_intensity.png"));

        view.get_main_image_hist_mode_intensity(false);
        scene_t s = make_scene(56, 192);
        s.intensity[1] = 10;  // entry 255 at column 1, entry 0 elsewhere
        view.updateScene(s);
        for (int round = 0; round < 2; ++round) {
            view.get_viewer_playmode_capture(base);
            for (const char* suffix : {"_intensity.png", "_depth.png", "_ambient.png"})
                QVERIFY2(QFile::exists(base + suffix), suffix);
            const cv::Mat bgr = cv::imread((base + "_intensity.png").toStdString());
            const cv::Vec3b e = table_entry(255);
            QCOMPARE(bgr.at<cv::Vec3b>(0, 1), cv::Vec3b(e[2], e[1], e[0]));
        }
        QCOMPARE(px(view.intensity_picture(), 0, 1), table_entry(255));
    }

    void ambient_of_one_sample_per_column_is_shown_as_wide_as_the_scene() {
        viewer_image view;
        view.get_main_image_grey_mode_ambient(true);
        scene_t s = make_scene(56, 192);
        s.ambient.assign(56 * 192, 0);
        s.ambient[56 * 192 - 1] = 5000;
        view.updateScene(s);
        const cv::Mat& a = view.ambient_picture();
        QCOMPARE(a.cols, 192);
        QCOMPARE(int(px(a, 55, 191)[0]), 255);
    }

    void short_sources_are_not_read_past() {
        viewer_image view;
        scene_t s = make_scene(56, 192);
        s.depth.resize(100);
        s.ambient.resize(10);
        view.updateScene(s);
        QVERIFY(view.depth_picture().empty());
        QVERIFY(view.ambient_picture().empty());
        QVERIFY(!view.intensity_picture().empty());
    }
};

QTEST_MAIN(TestViewerImage)
#include "test_viewer_image.moc"
