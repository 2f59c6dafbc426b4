#pragma once

#include <QWidget>
#include <QString>

#include <opencv2/core.hpp>

#include "api/lidar_tq.hpp"

namespace Ui {
class viewer_image;
}

class QImage;
class QLabel;

// The image strip: turns each scene's ambient, depth and intensity images into
// 8-bit false-colour pictures (R G B byte order), shows them side by side and
// hands them to the point-cloud view, which colours its points with them.
class viewer_image : public QWidget {
    Q_OBJECT

public:
    explicit viewer_image(QWidget* parent = nullptr);
    ~viewer_image() override;

    // The fixed 256-entry colour table for ambient and intensity: a 256 x 1
    // image of three channels, byte 0 = R, byte 1 = G, byte 2 = B.
    static const cv::Mat& colour_table();

    const cv::Mat& ambient_picture() const { return last_ambient_; }
    const cv::Mat& depth_picture() const { return last_depth_; }
    const cv::Mat& intensity_picture() const { return last_intensity_; }
    double max_val_ambient() const { return max_ambient_; }
    double max_val_depth() const { return max_depth_; }
    double max_val_intensity() const { return max_intensity_; }

signals:
    void send_viewer_image_ambient_img(cv::Mat img);
    void send_viewer_image_depth_img(cv::Mat img);
    void send_viewer_image_intensity_img(cv::Mat img);

public slots:
    void updateScene(VELKOR::LidarTQ::scene_t& scene);
    void get_viewer_playmode_capture(QString dir);

    void get_main_image_auto_norm_ambient(bool enable) { auto_ambient_ = enable; }
    void get_main_image_auto_norm_depth(bool enable) { auto_depth_ = enable; }
    void get_main_image_auto_norm_intensity(bool enable) { auto_intensity_ = enable; }
    void get_main_image_min_val_ambient(double val) { min_ambient_ = val; }
    void get_main_image_min_val_depth(double val) { min_depth_ = val; }
    void get_main_image_min_val_intensity(double val) { min_intensity_ = val; }
    void get_main_image_max_val_ambient(double val) { max_ambient_ = val; }
    void get_main_image_max_val_depth(double val) { max_depth_ = val; }
    void get_main_image_max_val_intensity(double val) { max_intensity_ = val; }
    void get_main_image_hist_mode_ambient(bool enable) { hist_ambient_ = enable; }
    void get_main_image_hist_mode_depth(bool enable) { hist_depth_ = enable; }
    void get_main_image_hist_mode_intensity(bool enable) { hist_intensity_ = enable; }
    void get_main_image_grey_mode_ambient(bool enable) { grey_ambient_ = enable; }
    void get_main_image_grey_mode_depth(bool enable) { grey_depth_ = enable; }
    void get_main_image_grey_mode_intensity(bool enable) { grey_intensity_ = enable; }

private:
    enum class Palette { table, jet };
    // The 8-bit false-colour picture of `raw` (R G B), and in `shown` the
    // same picture as the label shows it.
    cv::Mat make_picture(const cv::Mat& raw, bool auto_norm, double min_val, double& max_val, bool hist,
                         bool grey, Palette palette, QImage& shown) const;
    static void show(const QImage& image, QLabel* label);
    void settle_layouts();

    Ui::viewer_image* ui;
    bool auto_ambient_ = false, auto_depth_ = false, auto_intensity_ = true;
    double min_ambient_ = 0.0, min_depth_ = 0.0, min_intensity_ = 0.0;
    double max_ambient_ = 5000.0, max_depth_ = 100.0, max_intensity_ = 3000.0;
    bool hist_ambient_ = false, hist_depth_ = false, hist_intensity_ = true;
    bool grey_ambient_ = false, grey_depth_ = false, grey_intensity_ = false;
    cv::Mat last_depth_, last_intensity_, last_ambient_;
};
