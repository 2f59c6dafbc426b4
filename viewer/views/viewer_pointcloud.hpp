#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <QString>
#include <QWidget>

#include <opencv2/core.hpp>

#include "api/lidar_tq.hpp"

// The PCL headers are heavy; only viewer_pointcloud.cpp includes them.
namespace pcl {
struct PointXYZRGB;
template <typename PointT>
class PointCloud;
namespace visualization {
class PCLVisualizer;
}
}  // namespace pcl

namespace Ui {
class viewer_pointcloud;
}

// The central 3-D view: each scene becomes a fixed-size cloud of coloured
// points, filtered by distance, drawn by PCL's visualiser in a VTK widget,
// with an optional ground grid, a projection switch and axis views.
class viewer_pointcloud : public QWidget {
    Q_OBJECT

public:
    // Points the cloud always holds; those a scene does not fill stay black at the origin.
    static constexpr std::size_t cloud_points = 40000;

    struct view_point {
        float x, y, z;
        uint8_t r, g, b;
    };

    explicit viewer_pointcloud(QWidget* parent = nullptr);
    ~viewer_pointcloud() override;

    std::size_t cloud_size() const;
    view_point cloud_point(std::size_t i) const;
    const std::vector<std::string>& grid_shape_ids() const { return grid_ids_; }
    double grid_max_distance() const { return grid_max_distance_; }
    bool parallel_projection() const;
    // Camera position and view-up, as set by the last scene.
    std::vector<double> camera_pose() const;

public slots:
    void updatePointCloud(VELKOR::LidarTQ::scene_t& scene);
    void get_viewer_playmode_capture(QString dir);
    void setGrid(pcl::visualization::PCLVisualizer* view);
    void eraseGrid(pcl::visualization::PCLVisualizer* view);
    void setAxisView();
    void get_viewer_pointcloud(int color, std::vector<double>& val, bool enable);
    void get_viewer_pointcloud_echo(bool enable1, bool enable2, bool enable3, bool enable4);
    void get_viewer_image_ambient_img(cv::Mat img) { ambient_img_ = img; }
    void get_viewer_image_depth_img(cv::Mat img) { depth_img_ = img; }
    void get_viewer_image_intensity_img(cv::Mat img) { intensity_img_ = img; }
    void get_main_grid_setting(std::vector<double>& setting, bool enable);
    void get_main_xy_axis(bool enable) { xy_request_ = enable; }
    void get_main_yz_axis(bool enable) { yz_request_ = enable; }
    void get_main_zx_axis(bool enable) { zx_request_ = enable; }

private:
    void fill_cloud(const VELKOR::LidarTQ::scene_t& scene);
    void select_shown_points();
    void render();

    Ui::viewer_pointcloud* ui;
    std::shared_ptr<pcl::visualization::PCLVisualizer> viewer_;
    std::shared_ptr<pcl::PointCloud<pcl::PointXYZRGB>> cloud_;
    // What the visualiser draws of the cloud: every point that differs from
    // the black origin point of a pixel without a drawn return, and that point
    // itself only once at each end of the drawing order.
    std::shared_ptr<pcl::PointCloud<pcl::PointXYZRGB>> shown_;
    bool echo_[4] = {true, false, false, false};
    int color_mode_ = 6;
    double point_size_ = 2.0;
    double min_distance_ = 0.0;    // m
    double max_distance_ = 200.0;  // m
    bool orthogonal_ = false;
    double grid_size_ = 10.0;          // m
    double grid_max_distance_ = 50.0;  // m
    double grid_font_size_ = 0.5;
    bool grid_enable_ = false;
    bool xy_request_ = false, yz_request_ = false, zx_request_ = false;
    std::vector<std::string> grid_ids_;
    cv::Mat ambient_img_, depth_img_, intensity_img_;  // 8-bit, 3 channels, R G B
    const float half_speed_of_light_ = 149.89622f;     // mm per ns of round trip
};
