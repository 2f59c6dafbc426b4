#include "views/viewer_pointcloud.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include <QMouseEvent>
#include <QVTKOpenGLStereoWidget.h>
#include <QVTKOpenGLWindow.h>
#include <vtkCamera.h>
#include <vtkCoordinate.h>
#include <vtkGenericOpenGLRenderWindow.h>
#include <vtkLookupTable.h>
#include <vtkObject.h>
#include <vtkMatrix4x4.h>
#include <vtkRenderWindow.h>
#include <vtkRenderer.h>
#include <vtkRendererCollection.h>
#include <vtkScalarBarActor.h>
#include <vtkSmartPointer.h>
#include <vtkTextActor.h>
#include <vtkTextProperty.h>

#include <pcl/io/pcd_io.h>
#include <pcl/point_cloud.h>
#include <pcl/point_types.h>
#include <pcl/visualization/pcl_visualizer.h>

#include "ui_viewer_pointcloud.h"

#include <QString>

namespace {

using Cloud = pcl::PointCloud<pcl::PointXYZRGB>;
using RgbHandler = pcl::visualization::PointCloudColorHandlerRGBField<pcl::PointXYZRGB>;

// True when an 8-bit 3-channel picture covers rows x cols pixels, so the
// Ambient/Depth/Intensity colour modes may read it.
bool picture_covers(const cv::Mat& picture, int rows, int cols) {
    return !picture.empty() && picture.type() == CV_8UC3 && picture.rows >= rows && picture.cols >= cols;
}

const char* const kPickedId = "picked";
const char* const kPickLineId = "pick_line";

// A click moves the pointer by at most this many pixels; more is a drag that
// turns the camera.
constexpr int kClickSlack = 3;
// A click picks a point drawn at most this many pixels from it.
constexpr double kPickRadius = 6.0;

vtkSmartPointer<vtkLookupTable> make_legend_table() {
    auto table = vtkSmartPointer<vtkLookupTable>::New();
    const auto& palette = colour_field::palette();
    table->SetNumberOfTableValues(colour_field::palette_size);
    for (int i = 0; i < colour_field::palette_size; ++i)
        table->SetTableValue(i, palette[i][0] / 255.0, palette[i][1] / 255.0, palette[i][2] / 255.0, 1.0);
    return table;
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

    // The 3-D view is a window of its own inside the form: it draws and
    // swaps only itself, where a render-to-texture widget made every frame
    // compose the whole main window again through OpenGL (under a software
    // renderer that composition cost more than drawing the cloud).
    ui->qvtkWidget->setMinimumSize(640, 480);
    ui->qvtkWidget->setRenderWindow(viewer_->getRenderWindow());
    ui->qvtkWidget->setBackgroundRole(QPalette::Window);
    ui->qvtkWidget->update();

    viewer_->setupInteractor(ui->qvtkWidget->interactor(), ui->qvtkWidget->renderWindow());
    viewer_->setShowFPS(false);
    viewer_->initCameraParameters();
    viewer_->setCameraPosition(-1, 0, 0, 0, 0, 0, 0, 0, 1, 0);

    pixels_.reserve(cloud_points);
    field_values_.reserve(cloud_points);
    picked_ = std::make_shared<Cloud>();

    vtkRenderer* first = viewer_->getRendererCollection()->GetFirstRenderer();
    legend_table_ = make_legend_table();
    legend_ = vtkSmartPointer<vtkScalarBarActor>::New();
    legend_->SetLookupTable(legend_table_);
    legend_->SetNumberOfLabels(5);
    // Up to four significant digits, without trailing zeros or a lone point
    // ("3500", "0.25", "-1.5"): the ends are whole 1-2-5 steps.
    legend_->SetLabelFormat("%-7.4g");
    legend_->SetPosition(0.90, 0.10);
    legend_->SetWidth(0.08);
    legend_->SetHeight(0.80);
    legend_->SetUnconstrainedFontSize(true);
    legend_->GetTitleTextProperty()->SetFontSize(14);
    legend_->GetLabelTextProperty()->SetFontSize(12);
    legend_->VisibilityOff();
    first->AddActor2D(legend_);

    readout_ = vtkSmartPointer<vtkTextActor>::New();
    readout_->GetPositionCoordinate()->SetCoordinateSystemToNormalizedViewport();
    readout_->SetPosition(0.01, 0.98);
    vtkTextProperty* text = readout_->GetTextProperty();
    text->SetFontFamilyToCourier();
    text->SetFontSize(14);
    text->SetColor(1.0, 1.0, 0.6);
    text->SetVerticalJustificationToTop();
    text->SetBackgroundColor(0.0, 0.0, 0.0);
    text->SetBackgroundOpacity(0.6);
    readout_->SetInput("");
    readout_->VisibilityOff();
    first->AddActor2D(readout_);

    // A click (no drag) on the view picks the point under the pointer; the
    // view is a window of its own, which gets the mouse.
    ui->qvtkWidget->embeddedOpenGLWindow()->installEventFilter(this);
}

viewer_pointcloud::~viewer_pointcloud() {
    delete ui;
}

void viewer_pointcloud::render() {
    // With VTK 9's widget a repaint only shows the last rendered image; the
    // render window itself must render the changed scene.
    if (ui->qvtkWidget->isVisible())
        ui->qvtkWidget->renderWindow()->Render();
    ui->qvtkWidget->embeddedOpenGLWindow()->update();
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
    // Pixels beyond the fixed cloud size, or beyond what the scene actually
    // carries, are not drawn.
    const bool usable = !scene.depth.empty() && scene.rows > 0 && scene.cols > 0;
    const std::size_t n =
        usable ? std::min({static_cast<std::size_t>(scene.rows) * static_cast<std::size_t>(scene.cols),
                           cloud_points, scene.depth.size(), scene.pointcloud.size()})
               : 0;
    // Every point below n is written below; of those above it, only the ones
    // an earlier scene wrote are blanked again (the rest still are).
    auto& points = cloud_->points;
    if (points.size() != cloud_points) {
        points.assign(cloud_points, blank);
        points_written_ = 0;
    }
    if (points_written_ > n)
        std::fill(points.begin() + static_cast<std::ptrdiff_t>(n),
                  points.begin() + static_cast<std::ptrdiff_t>(points_written_), blank);
    points_written_ = n;
    cloud_->width = 1;
    cloud_->height = static_cast<uint32_t>(cloud_points);

    scene_cols_ = 0;
    pixels_.clear();
    const bool by_field = color_mode_ >= first_field_mode && color_mode_ < first_field_mode + colour_field::field_count;
    if (!by_field)
        update_legend(colour_field::intensity, {});
    if (!usable)
        return;
    scene_cols_ = scene.cols;
    pixels_.resize(n);
    field_values_.resize(n);
    // Three ambient samples per depth column until depth completion widens
    // the scene to the ambient width; a sensor may also send one per column.
    std::size_t ambient_cols = scene.cols == 192 ? 576 : static_cast<std::size_t>(scene.cols);
    const std::size_t rows = static_cast<std::size_t>(scene.rows);
    if (scene.ambient.size() < rows * ambient_cols)
        ambient_cols = static_cast<std::size_t>(scene.cols);
    const int ambient_samples =
        scene.ambient.size() >= rows * ambient_cols ? static_cast<int>(ambient_cols / scene.cols) : 0;
    const colour_field::field_t field = static_cast<colour_field::field_t>(color_mode_ - first_field_mode);
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
        pixel_t& px = pixels_[i];
        px.range = distance;
        px.intensity = i < scene.intensity.size() ? scene.intensity[i] : 0;
        px.ambient_samples = static_cast<uint8_t>(ambient_samples);
        const std::size_t first_sample = (i / scene.cols) * ambient_cols + (i % scene.cols) * ambient_samples;
        for (int k = 0; k < ambient_samples; ++k)
            px.ambient[k] = scene.ambient[first_sample + k];
        px.drawn = min_distance_ < distance && distance < max_distance_;
        pcl::PointXYZRGB& p = points[i];
        if (!px.drawn) {
            p = blank;
            continue;
        }
        const VELKOR::LidarTQ::point_t& src = scene.pointcloud[i];
        p.x = static_cast<float>(src.x / 1000.0);
        p.y = static_cast<float>(src.y / 1000.0);
        p.z = static_cast<float>(src.z / 1000.0);
        if (by_field) {
            switch (field) {
            case colour_field::intensity: field_values_[i] = px.intensity; break;
            case colour_field::range: field_values_[i] = static_cast<float>(distance); break;
            case colour_field::ambient: {
                double sum = 0.0;
                for (int k = 0; k < ambient_samples; ++k)
                    sum += px.ambient[k];
                field_values_[i] = ambient_samples > 0 ? static_cast<float>(sum / ambient_samples) : 0.0f;
                break;
            }
            case colour_field::height: field_values_[i] = p.z; break;
            case colour_field::row: field_values_[i] = static_cast<float>(i / scene.cols); break;
            }
        } else if (picture) {
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
    if (by_field)
        colour_by_field(field, n);
}

void viewer_pointcloud::colour_by_field(colour_field::field_t field, std::size_t n) {
    double lo = std::numeric_limits<double>::infinity();
    double hi = -lo;
    for (std::size_t i = 0; i < n; ++i)
        if (pixels_[i].drawn) {
            lo = std::min(lo, static_cast<double>(field_values_[i]));
            hi = std::max(hi, static_cast<double>(field_values_[i]));
        }
    const colour_field::value_range range = colour_field::legend_range(lo, hi);
    const auto& palette = colour_field::palette();
    for (std::size_t i = 0; i < n; ++i)
        if (pixels_[i].drawn) {
            const colour_field::rgb& c = palette[colour_field::index_of(field_values_[i], range)];
            pcl::PointXYZRGB& p = cloud_->points[i];
            p.r = c[0];
            p.g = c[1];
            p.b = c[2];
        }
    update_legend(field, range);
}

void viewer_pointcloud::update_legend(colour_field::field_t field, const colour_field::value_range& range) {
    const bool by_field = color_mode_ >= first_field_mode && color_mode_ < first_field_mode + colour_field::field_count;
    if (!by_field) {
        if (legend_->GetVisibility())
            legend_->VisibilityOff();
        return;
    }
    // The legend's texts are laid out again whenever it changes; a range
    // that stays put costs nothing.
    if (legend_->GetVisibility() && field == legend_field_ && range == legend_range_)
        return;
    legend_field_ = field;
    legend_range_ = range;
    legend_table_->SetTableRange(range.lo, range.hi);
    legend_->SetTitle(colour_field::title(field));
    legend_->VisibilityOn();
}

bool viewer_pointcloud::legend_shown() const {
    return legend_->GetVisibility() != 0;
}

colour_field::value_range viewer_pointcloud::legend_range() const {
    const double* r = legend_table_->GetTableRange();
    return {r[0], r[1]};
}

std::string viewer_pointcloud::legend_title() const {
    return legend_->GetTitle() ? legend_->GetTitle() : "";
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
    // One pass: the first blank point is kept where it is met, the last one
    // is put back at its place in the order once the pass has found it.
    const auto& all = cloud_->points;
    auto& shown = shown_->points;
    shown.clear();
    bool blank_seen = false;
    std::size_t last_blank = 0;     // its index in the cloud
    std::size_t last_blank_at = 0;  // its place in `shown`
    for (std::size_t i = 0; i < all.size(); ++i) {
        const pcl::PointXYZRGB& p = all[i];
        if (!blank(p)) {
            shown.push_back(p);
        } else if (!blank_seen) {
            blank_seen = true;
            shown.push_back(p);
        } else {
            last_blank = i;
            last_blank_at = shown.size();
        }
    }
    if (last_blank_at > 0)
        shown.insert(shown.begin() + static_cast<std::ptrdiff_t>(last_blank_at), all[last_blank]);
    shown_->width = static_cast<uint32_t>(shown.size());
    shown_->height = 1;
}

void viewer_pointcloud::updatePointCloud(VELKOR::LidarTQ::scene_t& scene) {
    fill_cloud(scene);
    select_shown_points();

    RgbHandler rgb(shown_);
    if (!viewer_->updatePointCloud<pcl::PointXYZRGB>(shown_, rgb, "cloud"))
        viewer_->addPointCloud<pcl::PointXYZRGB>(shown_, rgb, "cloud", 0);

    apply_projection();

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
    emit send_viewer_orthographic(enable);
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

void viewer_pointcloud::apply_projection() {
    vtkCamera* camera = viewer_->getRendererCollection()->GetFirstRenderer()->GetActiveCamera();
    const int parallel = orthogonal_ ? 1 : 0;
    if (camera->GetParallelProjection() == parallel)
        return;
    // An orthographic view as wide as the perspective one at the focal point,
    // so switching keeps what the user looks at in place.
    if (parallel)
        camera->SetParallelScale(camera->GetDistance() * std::tan(camera->GetViewAngle() * M_PI / 360.0));
    camera->SetParallelProjection(parallel);
}

void viewer_pointcloud::get_viewer_orthographic(bool enable) {
    orthogonal_ = enable;
    apply_projection();
    render();
    emit send_viewer_orthographic(enable);
}

void viewer_pointcloud::get_viewer_birds_eye(bool enable) {
    if (!enable)
        return;
    vtkRenderer* renderer = viewer_->getRendererCollection()->GetFirstRenderer();
    double bounds[6];
    renderer->ComputeVisiblePropBounds(bounds);
    double cx = 0.0, cy = 0.0;
    if (bounds[0] <= bounds[1]) {
        cx = 0.5 * (bounds[0] + bounds[1]);
        cy = 0.5 * (bounds[2] + bounds[3]);
    }
    // Straight down onto the ground plane, the sensor's forward (+x) up the
    // screen, then moved back along that line until everything fits.
    vtkCamera* camera = renderer->GetActiveCamera();
    camera->SetFocalPoint(cx, cy, 0.0);
    camera->SetPosition(cx, cy, 1.0);
    camera->SetViewUp(1.0, 0.0, 0.0);
    renderer->ResetCamera();
    render();
}

void viewer_pointcloud::get_viewer_reset_view(bool enable) {
    if (!enable)
        return;
    // The start-up view (behind the sensor, looking along +x, +z up), moved
    // back until everything fits.
    vtkRenderer* renderer = viewer_->getRendererCollection()->GetFirstRenderer();
    vtkCamera* camera = renderer->GetActiveCamera();
    camera->SetFocalPoint(0.0, 0.0, 0.0);
    camera->SetPosition(-1.0, 0.0, 0.0);
    camera->SetViewUp(0.0, 0.0, 1.0);
    renderer->ResetCamera();
    render();
}

bool viewer_pointcloud::pick_pixel(int row, int col) {
    if (row < 0 || col < 0 || col >= scene_cols_)
        return false;
    const std::size_t pixel = static_cast<std::size_t>(row) * scene_cols_ + col;
    if (pixel >= pixels_.size() || !pixels_[pixel].drawn)
        return false;
    add_pick(pixel);
    return true;
}

void viewer_pointcloud::add_pick(std::size_t pixel) {
    if (picks_.size() >= 2)
        picks_.clear();
    const pixel_t& px = pixels_[pixel];
    const pcl::PointXYZRGB& p = cloud_->points[pixel];
    pick_t pick;
    pick.row = static_cast<int>(pixel / scene_cols_);
    pick.col = static_cast<int>(pixel % scene_cols_);
    pick.range = px.range;
    pick.intensity = px.intensity;
    pick.ambient_samples = px.ambient_samples;
    std::copy(px.ambient, px.ambient + 3, pick.ambient);
    pick.x = p.x;
    pick.y = p.y;
    pick.z = p.z;
    picks_.push_back(pick);
    show_picks();
}

void viewer_pointcloud::get_viewer_clear_picks(bool enable) {
    if (!enable)
        return;
    picks_.clear();
    show_picks();
}

double viewer_pointcloud::measured_distance() const {
    if (picks_.size() < 2)
        return -1.0;
    const double dx = static_cast<double>(picks_[1].x) - picks_[0].x;
    const double dy = static_cast<double>(picks_[1].y) - picks_[0].y;
    const double dz = static_cast<double>(picks_[1].z) - picks_[0].z;
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

std::string viewer_pointcloud::pick_readout() const {
    QString text;
    for (std::size_t i = 0; i < picks_.size(); ++i) {
        const pick_t& p = picks_[i];
        QString ambient;
        for (int k = 0; k < p.ambient_samples; ++k)
            ambient += QString(k ? " %1" : "%1").arg(p.ambient[k]);
        if (ambient.isEmpty())
            ambient = "-";
        text += QString("Pick %1: row %2, column %3\n").arg(i + 1).arg(p.row).arg(p.col);
        text += QString("  range %1 m, intensity %2, ambient %3\n")
                    .arg(p.range, 0, 'f', 3)
                    .arg(p.intensity)
                    .arg(ambient);
        text += QString("  x %1  y %2  z %3 m\n")
                    .arg(p.x, 0, 'f', 3)
                    .arg(p.y, 0, 'f', 3)
                    .arg(p.z, 0, 'f', 3);
    }
    if (picks_.size() == 2)
        text += QString("Distance: %1 m\n").arg(measured_distance(), 0, 'f', 3);
    return text.trimmed().toStdString();
}

void viewer_pointcloud::show_picks() {
    viewer_->removePointCloud(kPickedId, 0);
    viewer_->removeShape(kPickLineId, 0);
    picked_->points.clear();
    for (const pick_t& p : picks_) {
        pcl::PointXYZRGB marker;
        marker.x = p.x;
        marker.y = p.y;
        marker.z = p.z;
        marker.r = 255;
        marker.g = 255;
        marker.b = 0;
        marker.a = 255;
        picked_->points.push_back(marker);
    }
    picked_->width = static_cast<uint32_t>(picked_->points.size());
    picked_->height = 1;
    if (!picks_.empty()) {
        RgbHandler rgb(picked_);
        viewer_->addPointCloud<pcl::PointXYZRGB>(picked_, rgb, kPickedId, 0);
        viewer_->setPointCloudRenderingProperties(pcl::visualization::PCL_VISUALIZER_POINT_SIZE, 10.0, kPickedId, 0);
    }
    if (picks_.size() == 2) {
        const pcl::PointXYZ a(picks_[0].x, picks_[0].y, picks_[0].z);
        const pcl::PointXYZ b(picks_[1].x, picks_[1].y, picks_[1].z);
        viewer_->addLine(a, b, 1.0, 1.0, 0.0, kPickLineId, 0);
        viewer_->setShapeRenderingProperties(pcl::visualization::PCL_VISUALIZER_LINE_WIDTH, 2.0, kPickLineId, 0);
    }
    const std::string text = pick_readout();
    readout_->SetInput(text.c_str());
    readout_->SetVisibility(text.empty() ? 0 : 1);
    render();
}

void viewer_pointcloud::pick_on_screen(int x, int y) {
    // The drawn point nearest to the click on screen, the nearer to the
    // camera of points equally near; pixels without a drawn return (the
    // black points at the origin) cannot be picked.
    vtkRenderer* renderer = viewer_->getRendererCollection()->GetFirstRenderer();
    const int* size = renderer->GetSize();
    if (size[0] <= 0 || size[1] <= 0 || pixels_.empty())
        return;
    double m[16];
    vtkMatrix4x4::DeepCopy(
        m, renderer->GetActiveCamera()->GetCompositeProjectionTransformMatrix(renderer->GetTiledAspectRatio(), -1, 1));
    // VTK counts display pixels from the bottom, in device pixels.
    const double ratio = ui->qvtkWidget->devicePixelRatioF();
    const double cx = x * ratio;
    const double cy = (ui->qvtkWidget->height() - 1 - y) * ratio;
    const double slack = kPickRadius * ratio;
    std::size_t best = pixels_.size();
    double best_ring = std::numeric_limits<double>::infinity(), best_depth = best_ring;
    for (std::size_t i = 0; i < pixels_.size(); ++i) {
        if (!pixels_[i].drawn)
            continue;
        const pcl::PointXYZRGB& p = cloud_->points[i];
        const double w = m[12] * p.x + m[13] * p.y + m[14] * p.z + m[15];
        if (w <= 0.0)
            continue;  // behind the camera
        const double depth = (m[8] * p.x + m[9] * p.y + m[10] * p.z + m[11]) / w;
        const double sx = ((m[0] * p.x + m[1] * p.y + m[2] * p.z + m[3]) / w + 1.0) * 0.5 * size[0];
        const double sy = ((m[4] * p.x + m[5] * p.y + m[6] * p.z + m[7]) / w + 1.0) * 0.5 * size[1];
        const double d = std::hypot(sx - cx, sy - cy);
        if (d > slack || depth < -1.0 || depth > 1.0)
            continue;
        // Whole pixels of distance first, then depth.
        const double ring = std::floor(d);
        if (ring < best_ring || (ring == best_ring && depth < best_depth)) {
            best_ring = ring;
            best_depth = depth;
            best = i;
        }
    }
    if (best < pixels_.size())
        add_pick(best);
}

bool viewer_pointcloud::eventFilter(QObject* watched, QEvent* event) {
    if (watched != ui->qvtkWidget->embeddedOpenGLWindow())
        return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::MouseButtonPress) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const bool left = mouse->button() == Qt::LeftButton;
        press_x_ = left ? mouse->pos().x() : -1;
        press_y_ = left ? mouse->pos().y() : -1;
    } else if (event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && press_x_ >= 0 &&
            std::abs(mouse->pos().x() - press_x_) + std::abs(mouse->pos().y() - press_y_) <= kClickSlack)
            pick_on_screen(mouse->pos().x(), mouse->pos().y());
        press_x_ = press_y_ = -1;
    }
    return false;  // the interactor still gets every event
}
