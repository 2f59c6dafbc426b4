#include "views/viewer_image.hpp"

#include <QImage>
#include <QLabel>
#include <QLayout>
#include <QPixmap>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "ui_viewer_image.h"

namespace {

// Dark blue through teal to yellow, one entry per 8-bit value.
const uint8_t kRed[256] = {
      3,   4,   5,   5,   6,   6,   7,   8,   8,   9,   9,  10,  10,  11,  12,  12,
     13,  13,  14,  15,  15,  16,  16,  17,  18,  18,  19,  19,  20,  21,  21,  22,
     22,  23,  24,  24,  25,  25,  26,  27,  27,  28,  28,  29,  29,  30,  31,  31,
     32,  32,  33,  34,  34,  35,  35,  36,  37,  37,  38,  38,  39,  40,  40,  41,
     41,  42,  42,  43,  43,  43,  44,  44,  45,  45,  46,  46,  46,  47,  47,  48,
     48,  49,  49,  49,  50,  50,  51,  51,  51,  52,  52,  53,  53,  54,  54,  54,
     55,  55,  56,  56,  57,  57,  57,  58,  58,  59,  59,  60,  60,  60,  61,  61,
     62,  62,  62,  63,  63,  64,  64,  65,  65,  66,  66,  66,  67,  67,  68,  68,
     70,  71,  73,  75,  77,  79,  80,  82,  84,  86,  88,  90,  92,  93,  95,  97,
     99, 101, 102, 104, 106, 108, 110, 111, 113, 115, 117, 119, 120, 122, 124, 126,
    128, 129, 131, 133, 135, 137, 138, 140, 142, 144, 145, 147, 149, 151, 153, 154,
    156, 158, 160, 162, 163, 165, 167, 169, 171, 172, 174, 176, 178, 180, 181, 183,
    184, 185, 187, 188, 189, 190, 191, 192, 194, 195, 196, 197, 198, 199, 200, 201,
    203, 204, 205, 206, 207, 208, 209, 210, 212, 213, 214, 215, 216, 217, 218, 219,
    221, 222, 223, 224, 225, 226, 227, 228, 230, 231, 232, 233, 234, 235, 236, 237,
    239, 240, 241, 242, 243, 244, 245, 246, 248, 249, 250, 251, 252, 253, 254, 254,
};
const uint8_t kGreen[256] = {
     18,  19,  21,  23,  24,  26,  27,  29,  30,  32,  33,  35,  37,  38,  40,  41,
     43,  44,  46,  47,  49,  50,  52,  54,  55,  57,  58,  60,  61,  63,  64,  66,
     67,  69,  71,  72,  74,  75,  77,  78,  80,  81,  83,  84,  86,  88,  89,  91,
     92,  94,  95,  97,  98, 100, 101, 103, 105, 106, 108, 109, 111, 112, 114, 116,
    117, 118, 119, 120, 121, 122, 124, 125, 126, 127, 128, 129, 130, 131, 132, 133,
    134, 136, 137, 138, 139, 140, 141, 142, 143, 144, 145, 146, 148, 149, 150, 151,
    152, 153, 154, 155, 156, 157, 159, 160, 161, 162, 163, 164, 165, 166, 167, 168,
    169, 171, 172, 173, 174, 175, 176, 177, 178, 180, 181, 182, 183, 184, 185, 186,
    187, 188, 189, 190, 191, 192, 193, 194, 196, 197, 198, 199, 200, 201, 202, 203,
    204, 206, 207, 208, 209, 210, 211, 212, 213, 214, 215, 216, 217, 218, 220, 221,
    222, 223, 224, 225, 226, 227, 228, 229, 230, 231, 232, 234, 235, 236, 237, 238,
    239, 240, 241, 242, 243, 244, 245, 247, 248, 249, 250, 251, 252, 253, 254, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
};
const uint8_t kBlue[256] = {
    107, 108, 109, 110, 111, 112, 113, 114, 114, 115, 116, 117, 118, 119, 120, 120,
    121, 122, 123, 124, 125, 126, 126, 127, 128, 129, 130, 131, 132, 132, 133, 134,
    135, 136, 137, 138, 138, 139, 140, 141, 142, 143, 144, 144, 145, 146, 147, 148,
    149, 150, 151, 151, 152, 153, 154, 155, 156, 157, 157, 158, 159, 160, 161, 162,
    162, 163, 163, 163, 164, 164, 164, 164, 165, 165, 165, 166, 166, 166, 167, 167,
    167, 168, 168, 168, 169, 169, 169, 169, 170, 170, 170, 171, 171, 171, 172, 172,
    172, 173, 173, 173, 174, 174, 174, 174, 175, 175, 175, 176, 176, 176, 177, 177,
    177, 178, 178, 178, 179, 179, 179, 179, 180, 180, 180, 181, 181, 181, 182, 182,
    181, 180, 179, 178, 177, 175, 175, 174, 172, 171, 170, 169, 168, 167, 166, 165,
    164, 162, 161, 160, 159, 158, 157, 156, 155, 154, 153, 152, 151, 150, 148, 147,
    146, 145, 144, 143, 142, 141, 140, 139, 138, 137, 136, 134, 133, 132, 131, 130,
    129, 128, 127, 126, 125, 124, 123, 121, 120, 119, 118, 117, 116, 115, 114, 113,
    111, 109, 107, 105, 104, 102, 100,  98,  96,  95,  93,  91,  89,  88,  86,  84,
     82,  81,  79,  77,  75,  73,  72,  70,  68,  66,  65,  63,  61,  59,  58,  56,
     54,  52,  51,  49,  47,  45,  43,  42,  40,  38,  36,  35,  33,  31,  29,  28,
     26,  24,  22,  21,  19,  17,  15,  13,  12,  10,   8,   6,   5,   2,   1,   1,
};

cv::Mat build_colour_table() {
    cv::Mat channels[3] = {cv::Mat(256, 1, CV_8UC1, const_cast<uint8_t*>(kRed)).clone(),
                           cv::Mat(256, 1, CV_8UC1, const_cast<uint8_t*>(kGreen)).clone(),
                           cv::Mat(256, 1, CV_8UC1, const_cast<uint8_t*>(kBlue)).clone()};
    cv::Mat table;
    cv::merge(channels, 3, table);
    return table;
}

// The colour of each 8-bit value of one palette, R G B.
struct Colours {
    uint8_t rgb[256][3];
};

Colours grey_colours() {
    Colours c{};
    for (int v = 0; v < 256; ++v)
        c.rgb[v][0] = c.rgb[v][1] = c.rgb[v][2] = static_cast<uint8_t>(v);
    return c;
}

Colours table_colours() {
    Colours c{};
    for (int v = 0; v < 256; ++v) {
        c.rgb[v][0] = kRed[v];
        c.rgb[v][1] = kGreen[v];
        c.rgb[v][2] = kBlue[v];
    }
    return c;
}

// OpenCV's jet colour map maps each 8-bit value through a fixed table of
// B G R colours: that table, once, in R G B.
Colours jet_colours() {
    cv::Mat ramp(1, 256, CV_8UC1);
    for (int v = 0; v < 256; ++v)
        ramp.at<uint8_t>(0, v) = static_cast<uint8_t>(v);
    cv::Mat bgr;
    cv::applyColorMap(ramp, bgr, cv::COLORMAP_JET);
    Colours c{};
    for (int v = 0; v < 256; ++v) {
        const cv::Vec3b& p = bgr.at<cv::Vec3b>(0, v);
        c.rgb[v][0] = p[2];
        c.rgb[v][1] = p[1];
        c.rgb[v][2] = p[0];
    }
    return c;
}

// Writes one captured picture (R G B in memory) as a PNG with the colours seen
// on screen. The picture itself is left untouched: the point-cloud view shares
// its pixels, and a second capture must not see them swapped.
void write_png(const cv::Mat& picture, const std::string& path) {
    if (picture.empty())
        return;
    cv::Mat bgr;
    cv::cvtColor(picture, bgr, cv::COLOR_RGB2BGR);
    try {
        cv::imwrite(path, bgr);
    } catch (const cv::Exception&) {
        // An unwritable path is not worth a crash; the file is simply missing.
    }
}

}  // namespace

viewer_image::viewer_image(QWidget* parent) : QWidget(parent), ui(new Ui::viewer_image) {
    ui->setupUi(this);
}

viewer_image::~viewer_image() {
    delete ui;
}

const cv::Mat& viewer_image::colour_table() {
    static const cv::Mat table = build_colour_table();
    return table;
}

cv::Mat viewer_image::make_picture(const cv::Mat& raw, bool auto_norm, double min_val, double& max_val,
                                   bool hist, bool grey, Palette palette, QImage& shown) const {
    double m = min_val;
    double M = max_val;
    if (auto_norm) {
        cv::minMaxLoc(raw, &m, &M);
        // An image of one value has no range; show it as the bottom of the
        // scale instead of dividing by zero.
        if (M == m)
            M = m + 1.0;
    } else if (M == m) {
        max_val = m + 1.0;
        M = max_val;
    }
    cv::Mat grey8;
    raw.convertTo(grey8, CV_8U, 255.0 / (M - m), -(m / (M - m) * 255.0));
    if (hist)
        cv::equalizeHist(grey8, grey8);

    static const Colours grey_map = grey_colours();
    static const Colours table_map = table_colours();
    static const Colours jet_map = jet_colours();
    const Colours& colours = grey ? grey_map : palette == Palette::table ? table_map : jet_map;
    // One pass colours the picture (R G B, for the point-cloud view and the
    // capture) and the image the label shows (32-bit, the format a pixmap
    // keeps, so that it is neither converted nor copied on its way there).
    cv::Mat picture(grey8.rows, grey8.cols, CV_8UC3);
    shown = QImage(grey8.cols, grey8.rows, QImage::Format_RGB32);
    for (int r = 0; r < grey8.rows; ++r) {
        const uint8_t* in = grey8.ptr<uint8_t>(r);
        uint8_t* out = picture.ptr<uint8_t>(r);
        auto* screen = reinterpret_cast<QRgb*>(shown.scanLine(r));
        for (int c = 0; c < grey8.cols; ++c) {
            const uint8_t* rgb = colours.rgb[in[c]];
            out[3 * c] = rgb[0];
            out[3 * c + 1] = rgb[1];
            out[3 * c + 2] = rgb[2];
            screen[c] = qRgb(rgb[0], rgb[1], rgb[2]);
        }
    }
    return picture;
}

void viewer_image::show(const QImage& image, QLabel* label) {
    // Scaled as the image, not as a pixmap: a pixmap is turned back into an
    // image to be scaled, and the scaled image then becomes the label's
    // pixmap without a copy.
    label->setPixmap(QPixmap::fromImage(image.scaled(label->size(), Qt::IgnoreAspectRatio, Qt::FastTransformation)));
}

void viewer_image::updateScene(VELKOR::LidarTQ::scene_t& scene) {
    const int rows = scene.rows;
    const int cols = scene.cols;
    if (rows <= 0 || cols <= 0)
        return;
    // Three ambient samples per depth column until depth completion widens
    // the scene to the ambient width itself.
    // A sensor may also send one sample per column; the picture is then as
    // wide as the scene instead of being read past the end of the samples.
    int ambient_cols = cols == 192 ? 576 : cols;
    if (scene.ambient.size() < static_cast<size_t>(rows) * ambient_cols)
        ambient_cols = cols;
    const size_t pixels = static_cast<size_t>(rows) * static_cast<size_t>(cols);

    // A source shorter than the scene claims is skipped rather than read past.
    if (!scene.ambient.empty() && scene.ambient.size() >= static_cast<size_t>(rows) * ambient_cols) {
        const cv::Mat raw(rows, ambient_cols, CV_32SC1, scene.ambient.data());
        QImage image;
        // Each scene makes new pictures, so the last one is kept by
        // reference; whoever holds the one before keeps it unchanged.
        last_ambient_ = make_picture(raw, auto_ambient_, min_ambient_, max_ambient_, hist_ambient_, grey_ambient_,
                                     Palette::table, image);
        show(image, ui->im_ambient_image);
        emit send_viewer_image_ambient_img(last_ambient_);
    }
    if (!scene.depth.empty() && scene.depth.size() >= pixels) {
        const cv::Mat raw(rows, cols, CV_32FC1, scene.depth.data());
        QImage image;
        last_depth_ = make_picture(raw, auto_depth_, min_depth_, max_depth_, hist_depth_, grey_depth_, Palette::jet,
                                   image);
        show(image, ui->im_depth_image);
        emit send_viewer_image_depth_img(last_depth_);
    }
    if (!scene.intensity.empty() && scene.intensity.size() >= pixels) {
        const cv::Mat raw(rows, cols, CV_16UC1, scene.intensity.data());
        QImage image;
        last_intensity_ = make_picture(raw, auto_intensity_, min_intensity_, max_intensity_, hist_intensity_,
                                       grey_intensity_, Palette::table, image);
        show(image, ui->im_intensity_image);
        emit send_viewer_image_intensity_img(last_intensity_);
    }
    settle_layouts();
}

void viewer_image::settle_layouts() {
    // A label given a new pixmap asks its layout for a new geometry, and the
    // request climbs one posted event per level up to the main window, whose
    // layout then repaints part of the window. Arriving after this frame's
    // repaint, that would cost a second one per frame (the whole window is
    // composed again for any repaint next to the OpenGL view). Laying out now,
    // from here up, folds it into the repaint this frame already needs; the
    // requests still posted then find their layouts done.
    for (QWidget* w = this; w; w = w->parentWidget())
        if (QLayout* layout = w->layout())
            layout->activate();
}

void viewer_image::get_viewer_playmode_capture(QString dir) {
    const std::string path = dir.toLocal8Bit().toStdString();
    write_png(last_intensity_, path + "_intensity.png");
    write_png(last_depth_, path + "_depth.png");
    write_png(last_ambient_, path + "_ambient.png");
}
