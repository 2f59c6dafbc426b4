#include "views/viewer_pointcloud.hpp"

#include <algorithm>
#include <cmath>

#include <QVTKOpenGLNativeWidget.h>
#include <vtkCamera.h>
#include <vtkGenericOpenGLRenderWindow.h>
#include <vtkObject.h>
#include <vtkRenderWindow.h>
#include <vtkRenderer.h>
#include <vtkRendererCollection.h>
#include <vtkSmartPointer.h>

#include <pcl/io/pcd_io.h>
#include <pcl/point_cloud.h>
#include <pcl/point_types.h>
#include <pcl/visualization/pcl_visualizer.h>

#include "ui_viewer_pointcloud.h"

namespace {

using Cloud = pcl::PointCloud<pcl::PointXYZRGB>;
using RgbHandler = pcl::visualization::PointCloudColorHandlerRGBField<pcl::PointXYZRGB>;

// True when an 8-bit 3-channel picture covers rows x cols pixels, so the
// Ambient/Depth/Intensity colour modes may read it.
bool picture_covers(const cv::Mat& picture, int rows, int cols) {
    return !picture.empty() && picture.type() == CV_8UC3 && picture.rows >= rows && picture.cols >= cols;
}

}  // namespace

viewer_pointcloud::viewer_pointcloud(QWidget* parent) : QWidget(parent), ui(new Ui::viewer_pointcloud) {
    setAttribute(Qt::WA_DeleteOnClose);
    vtkObject::SetGlobalWarningDisplay(0);
    ui->setupUi(this);

    cloud_ = std::make_shared<Cloud>();
    cloud_->is_dense = true;
    cloud_->sensor_origin_ = Eigen::Vector4f::Zero();
    cloud_->sensor_orientation_ = Eigen::Quaternionf::Identity();
    cloud_->points.clear();
    cloud_->width = 0;
    cloud_->height = 0;
    shown_ = std::make_shared<Cloud>();
    shown_->is_dense = true;
    shown_->points.reserve(cloud_points);

    auto renderer = vtkSmartPointer<vtkRenderer>::New();
    auto window = vtkSmartPointer<vtkGenericOpenGLRenderWindow>::New();
    window->AddRenderer(renderer);
    // Multisampling triples the cost of a frame under a software renderer and
    // adds little to single-pixel points.
    window->SetMultiSamples(0);
    viewer_ = std::make_shared<pcl::visualization::PCLVisualizer>(renderer, window, "pclviz_", false);

    ui->qvtkWidget->setMinimumSize(640, 480);
    ui->qvtkWidget->setRenderWindow(viewer_->getRenderWindow());
    ui->qvtkWidget->setBackgroundRole(QPalette::Window);
    ui->qvtkWidget->update();

    viewer_->setupInteractor(ui->qvtkWidget->interactor(), ui->qvtkWidget->renderWindow());
    viewer_->setShowFPS(false);
    viewer_->initCameraParameters();
    viewer_->setCameraPosition(-1, 0, 0, 0, 0, 0, 0, 0, 1, 0);
}

viewer_pointcloud::~viewer_pointcloud() {
    delete ui;
}

void viewer_pointcloud::render() {
    // With VTK 9's widget a repaint only shows the last rendered image; the
    // render window itself must render the changed scene.
    if (ui->qvtkWidget->isVisible())
        ui->qvtkWidget->renderWindow()->Render();
    ui->qvtkWidget->update();
}

std::size_t viewer_pointcloud::cloud_size() const {
    return cloud_->points.size();
}

viewer_pointcloud::view_point viewer_pointcloud::cloud_point(std::size_t i) const {
    const pcl::PointXYZRGB& p = cloud_->points.at(i);
    return {p.x, p.y, p.z, p.r, p.g, p.b};
}

bool viewer_pointcloud::parallel_projection() const {
    return viewer_->getRenderWindow()->GetRenderers()->GetFirstRenderer()->GetActiveCamera()->GetParallelProjection() !=
           0;
}

std::vector<double> viewer_pointcloud::camera_pose() const {
    pcl::visualization::Camera camera;
    viewer_->getCameraParameters(camera);
    return {camera.pos[0], camera.pos[1], camera.pos[2], camera.view[0], camera.view[1], camera.view[2]};
}

void viewer_pointcloud::fill_cloud(const VELKOR::LidarTQ::scene_t& scene) {
    pcl::PointXYZRGB blank;
    blank.x = blank.y = blank.z = 0.0f;
    blank.r = blank.g = blank.b = 0;
    blank.a = 255;
    cloud_->points.clear();
    cloud_->points.resize(cloud_points, blank);
    cloud_->width = 1;
    cloud_->height = static_cast<uint32_t>(cloud_points);

    if (scene.depth.empty() || scene.rows <= 0 || scene.cols <= 0)
        return;
    // Pixels beyond the fixed cloud size, or beyond what the scene actually
    // carries, are not drawn.
    const std::size_t n = std::min({static_cast<std::size_t>(scene.rows) * static_cast<std::size_t>(scene.cols),
                                    cloud_points, scene.depth.size(), scene.pointcloud.size()});
    const cv::Mat* picture = nullptr;
    if (color_mode_ == 4)
        picture = &ambient_img_;
    else if (color_mode_ == 5)
        picture = &depth_img_;
    else if (color_mode_ == 6)
        picture = &intensity_img_;
    // Before the image view has made its pictures (or when one does not fit
    // this scene) the image colour modes draw white points.
    if (picture && !picture_covers(*picture, scene.rows, scene.cols))
        picture = nullptr;

    uint8_t r = 0, g = 0, b = 0;
    switch (color_mode_) {
    case 0: r = g = b = 255; break;
    case 1: r = 255; break;
    case 2: g = 255; break;
    case 3: b = 255; break;
    case 4:
    case 5:
    case 6: r = g = b = 255; break;
    default: break;
    }

    for (std::size_t i = 0; i < n; ++i) {
        const double distance = static_cast<double>(half_speed_of_light_ * scene.depth[i]) / 1000.0;
        if (!(min_distance_ < distance && distance < max_distance_))
            continue;
        const VELKOR::LidarTQ::point_t& src = scene.pointcloud[i];
        pcl::PointXYZRGB& p = cloud_->points[i];
        p.x = static_cast<float>(src.x / 1000.0);
        p.y = static_cast<float>(src.y / 1000.0);
        p.z = static_cast<float>(src.z / 1000.0);
        if (picture) {
            const int row = static_cast<int>(i / scene.cols);
            const int col = static_cast<int>(i % scene.cols);
            const uint8_t* px = picture->data + row * picture->step + col * 3;
            p.r = px[0];
            p.g = px[1];
            p.b = px[2];
        } else {
            p.r = r;
            p.g = g;
            p.b = b;
        }
    }
}

void viewer_pointcloud::select_shown_points() {
    // A software renderer pays for every point it draws, and most of the
    // fixed-size cloud is the same black point at the origin, once for every
    // pixel without a drawn return. Drawing that point many times paints the
    // same pixels as drawing it once; it is kept first and last in drawing
    // order, so whichever of equally deep points wins the depth test, the
    // picture stays exactly that of the whole cloud.
    const auto blank = [](const pcl::PointXYZRGB& p) {
        return p.x == 0.0f && p.y == 0.0f && p.z == 0.0f && p.r == 0 && p.g == 0 && p.b == 0;
    };
    const auto& all = cloud_->points;
    const std::size_t none = all.size();
    std::size_t first = none, last = none;
    for (std::size_t i = 0; i < all.size(); ++i)
        if (blank(all[i])) {
            first = first == none ? i : first;
            last = i;
        }
    auto& shown = shown_->points;
    shown.clear();
    for (std::size_t i = 0; i < all.size(); ++i)
        if (!blank(all[i]) || i == first || i == last)
            shown.push_back(all[i]);
    shown_->width = static_cast<uint32_t>(shown.size());
    shown_->height = 1;
}

void viewer_pointcloud::updatePointCloud(VELKOR::LidarTQ::scene_t& scene) {
    fill_cloud(scene);
    select_shown_points();

    RgbHandler rgb(shown_);
    if (!viewer_->updatePointCloud<pcl::PointXYZRGB>(shown_, rgb, "cloud"))
        viewer_->addPointCloud<pcl::PointXYZRGB>(shown_, rgb, "cloud", 0);

    vtkCamera* active = viewer_->getRenderWindow()->GetRenderers()->GetFirstRenderer()->GetActiveCamera();
    active->SetParallelProjection(orthogonal_ ? 1 : 0);

    setAxisView();

    viewer_->setPointCloudRenderingProperties(pcl::visualization::PCL_VISUALIZER_POINT_SIZE, point_size_, "cloud",
                                              0);
    render();
}

void viewer_pointcloud::setAxisView() {
    pcl::visualization::Camera camera;
    viewer_->getCameraParameters(camera);
    // Distance of the camera from the origin, not from its focal point.
    const double r = std::sqrt(camera.pos[0] * camera.pos[0] + camera.pos[1] * camera.pos[1] +
                               camera.pos[2] * camera.pos[2]);
    auto place = [&](double px, double py, double pz, double ux, double uy, double uz) {
        camera.pos[0] = px;
        camera.pos[1] = py;
        camera.pos[2] = pz;
        camera.view[0] = ux;
        camera.view[1] = uy;
        camera.view[2] = uz;
        camera.focal[0] = 0.0;
        camera.focal[1] = 0.0;
    };
    if (xy_request_) {
        xy_request_ = false;
        place(0, 0, r, 1, 0, 0);
    } else if (yz_request_) {
        yz_request_ = false;
        place(-r, 0, 0, 0, 0, 1);
    } else if (zx_request_) {
        zx_request_ = false;
        place(0, -r, 0, 0, 0, 1);
    }
    viewer_->setCameraParameters(camera, 0);
}

void viewer_pointcloud::get_viewer_pointcloud(int color, std::vector<double>& val, bool enable) {
    color_mode_ = color;
    if (val.size() == 3) {
        point_size_ = val[0];
        max_distance_ = val[1];
        min_distance_ = val[2];
    }
    orthogonal_ = enable;
}

void viewer_pointcloud::get_viewer_pointcloud_echo(bool enable1, bool enable2, bool enable3, bool enable4) {
    echo_[0] = enable1;
    echo_[1] = enable2;
    echo_[2] = enable3;
    echo_[3] = enable4;
}

void viewer_pointcloud::get_main_grid_setting(std::vector<double>& setting, bool enable) {
    if (setting.size() >= 3) {
        grid_size_ = setting[0];
        grid_max_distance_ = setting[1];
        grid_font_size_ = setting[2];
    }
    grid_enable_ = enable;
    if (enable) {
        if (!grid_ids_.empty())
            eraseGrid(viewer_.get());
        setGrid(viewer_.get());
    } else {
        eraseGrid(viewer_.get());
    }
    render();
}

void viewer_pointcloud::setGrid(pcl::visualization::PCLVisualizer* view) {
    const int size = static_cast<int>(grid_size_);
    const int max = static_cast<int>(grid_max_distance_);
    // A grid finer than a metre has no whole-metre cells to draw.
    if (size <= 0 || max < 0)
        return;
    const int n = max / size;
    const int rem = max % size;
    if (rem != 0)
        grid_max_distance_ -= rem;
    const double s = grid_size_;
    const double d = grid_max_distance_;
    for (int i = 0; i <= n; ++i) {
        const std::string across = QString("grid_%1").arg(i).toStdString();
        grid_ids_.push_back(across);
        view->addLine(pcl::PointXYZ(0.0f, static_cast<float>(i * s - d * 0.5), 0.0f),
                      pcl::PointXYZ(static_cast<float>(d), static_cast<float>(i * s - d * 0.5), 0.0f), 0.5, 0.5,
                      0.5, across, 0);
        view->setShapeRenderingProperties(pcl::visualization::PCL_VISUALIZER_LINE_WIDTH, 1.0, across, 0);

        const std::string along = QString("grid_%1").arg(n + 1 + i).toStdString();
        grid_ids_.push_back(along);
        view->addLine(pcl::PointXYZ(static_cast<float>(i * s), static_cast<float>(-d * 0.5), 0.0f),
                      pcl::PointXYZ(static_cast<float>(i * s), static_cast<float>(d * 0.5), 0.0f), 0.5, 0.5, 0.5,
                      along, 0);
        view->setShapeRenderingProperties(pcl::visualization::PCL_VISUALIZER_LINE_WIDTH, 1.0, along, 0);

        const std::string label = QString("%1m").arg(i * s).toStdString();
        grid_ids_.push_back(label);
        view->addText3D(label, pcl::PointXYZ(static_cast<float>(i * s), 0.0f, 0.0f), grid_font_size_, 1.0, 1.0,
                        1.0, label, 0);
    }
}

void viewer_pointcloud::eraseGrid(pcl::visualization::PCLVisualizer* view) {
    for (const std::string& id : grid_ids_)
        view->removeShape(id, 0);
    grid_ids_.clear();
}

void viewer_pointcloud::get_viewer_playmode_capture(QString dir) {
    if (cloud_->points.empty() || dir.isNull())
        return;
    const std::string path = dir.toLocal8Bit().toStdString();
    pcl::PCDWriter writer;
    writer.writeASCII(path + ".pcd", *cloud_, 8);
    viewer_->saveScreenshot(path + "_pointcloud.png");
}
