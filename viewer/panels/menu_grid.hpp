#pragma once

#include <QWidget>

namespace Ui {
class menu_grid;
}

// "TQ Grid Setting": the ground grid of the point-cloud view.
class menu_grid : public QWidget {
    Q_OBJECT

public:
    explicit menu_grid(QWidget* parent = nullptr);
    ~menu_grid() override;

    bool grid_enable() const { return enable_; }
    double grid_size() const { return grid_size_; }
    double max_distance() const { return max_distance_; }
    double font_size() const { return font_size_; }

signals:
    void send_menu_grid(bool enable);

private slots:
    void on_btn_apply_clicked();

private:
    bool enable_ = false;
    double grid_size_ = 10.0;     // m
    double max_distance_ = 50.0;  // m
    double font_size_ = 0.5;
    Ui::menu_grid* ui;
};
