#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <QString>
#include <QWidget>

#include <opencv2/core.hpp>
#include <vtkSmartPointer.h>

#include "api/lidar_tq.hpp"
#include "views/colour_field.hpp"

// The PCL headers are heavy; only viewer_pointcloud.cpp includes them.
namespace pcl {
struct PointXYZRGB;
template <typename PointT>
class PointCloud;
namespace visualization {
class PCLVisualizer;
}
}  // namespace pcl

class vtkLookupTable;
class vtkScalarBarActor;
class vtkTextActor;

namespace Ui {
class viewer_pointcloud;
}

// The central 3-D view: each scene becomes a fixed-size cloud of coloured
// points, filtered by distance, drawn by PCL's visualiser in a VTK widget,
// with an optional ground grid, a projection switch and axis views. Points
// can be coloured by a pixel's value with a legend of the scale, picked
// (the pixel's values are read out, two picks are measured) and looked at
// from above.
class viewer_pointcloud : public QWidget {
    Q_OBJECT

public:
    // Points the cloud always holds; those a scene does not fill stay black at the origin.
    static constexpr std::size_t cloud_points = 40000;
    // Colour modes after the seven fixed ones: the value of a field
    // (intensity, range, ambient, height, row) through the colour scale.
    static constexpr int first_field_mode = 7;

    // The values of one picked pixel, as the scene it was picked in held them.
    struct pick_t {
        int row = 0, col = 0;
        double range = 0.0;  // m
        uint16_t intensity = 0;
        int ambient_samples = 0;  // 3 while the scene has three per depth column
        uint32_t ambient[3] = {0, 0, 0};
        float x = 0, y = 0, z = 0;  // m, the drawn point
    };

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
    // The range the colours of the last scene spanned and the legend shows;
    // none unless a field colour mode is on.
    bool legend_shown() const;
    colour_field::value_range legend_range() const;
    std::string legend_title() const;

    // Picks the drawn point of a pixel; false when there is none. A third
    // pick starts a new pair. A click on the view picks the drawn point
    // under the pointer.
    bool pick_pixel(int row, int col);
    const std::vector<pick_t>& picks() const { return picks_; }
    // Distance between the two picks in m, negative with fewer than two.
    double measured_distance() const;
    std::string pick_readout() const;

signals:
    // The projection now in use (true: orthographic).
    void send_viewer_orthographic(bool enable);

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
    void get_viewer_birds_eye(bool enable);
    void get_viewer_orthographic(bool enable);
    void get_viewer_reset_view(bool enable);
    void get_viewer_clear_picks(bool enable);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void fill_cloud(const VELKOR::LidarTQ::scene_t& scene);
    void select_shown_points();
    void render();
    void colour_by_field(colour_field::field_t field, std::size_t n);
    void update_legend(colour_field::field_t field, const colour_field::value_range& range);
    void apply_projection();
    void add_pick(std::size_t pixel);
    void show_picks();
    void pick_on_screen(int x, int y);

    // What the view keeps of each pixel of the last scene for the field
    // colours and the pick readout.
    struct pixel_t {
        float range = 0.0f;  // m
        uint16_t intensity = 0;
        bool drawn = false;
        uint8_t ambient_samples = 0;
        uint32_t ambient[3] = {0, 0, 0};
    };

    Ui::viewer_pointcloud* ui;
    std::shared_ptr<pcl::visualization::PCLVisualizer> viewer_;
    std::shared_ptr<pcl::PointCloud<pcl::PointXYZRGB>> cloud_;
    // What the visualiser draws of the cloud: every point that differs from
    // the black origin point of a pixel without a drawn return, and that point
    // itself only once at each end of the drawing order.
    std::shared_ptr<pcl::PointCloud<pcl::PointXYZRGB>> shown_;
    std::vector<pixel_t> pixels_;
    std::size_t points_written_ = 0;  // leading points of the cloud the last scene wrote
    int scene_cols_ = 0;
    std::vector<float> field_values_;
    std::shared_ptr<pcl::PointCloud<pcl::PointXYZRGB>> picked_;
    std::vector<pick_t> picks_;
    vtkSmartPointer<vtkLookupTable> legend_table_;  // the colour scale, for the legend
    vtkSmartPointer<vtkScalarBarActor> legend_;
    vtkSmartPointer<vtkTextActor> readout_;  // the pick readout, top left
    bool legend_valid_ = false;
    colour_field::field_t legend_field_ = colour_field::intensity;
    colour_field::value_range legend_range_;
    int press_x_ = -1, press_y_ = -1;  // where the left button went down, widget pixels
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
