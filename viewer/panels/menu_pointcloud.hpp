#pragma once

#include <QWidget>

namespace Ui {
class menu_pointcloud;
}

// "TQ Point-Cloud Setting": point colour, size, distance range, projection.
class menu_pointcloud : public QWidget {
    Q_OBJECT

public:
    explicit menu_pointcloud(QWidget* parent = nullptr);
    ~menu_pointcloud() override;

    int color_mode() const { return color_mode_; }
    double point_size() const { return point_size_; }
    double max_distance() const { return max_distance_; }
    double min_distance() const { return min_distance_; }
    bool orthogonal() const { return orthogonal_; }

signals:
    void send_menu_pointcloud(bool enable);

private slots:
    void on_btn_apply_clicked();

private:
    int color_mode_ = 6;  // Intensity
    double point_size_ = 2.0;
    double max_distance_ = 200.0;  // m
    double min_distance_ = 0.0;    // m
    bool orthogonal_ = false;
    Ui::menu_pointcloud* ui;
};
