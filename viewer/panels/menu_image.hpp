#pragma once

#include <QWidget>

namespace Ui {
class menu_image;
}

// "TQ Image Setting": normalisation, histogram and grey mode, kept per image
// type; the window edits one type at a time.
class menu_image : public QWidget {
    Q_OBJECT

public:
    enum type { ambient = 0, depth = 1, intensity = 2 };

    explicit menu_image(QWidget* parent = nullptr);
    ~menu_image() override;

    bool auto_norm(type t) const { return auto_norm_[t]; }
    double min_val(type t) const { return min_val_[t]; }
    double max_val(type t) const { return max_val_[t]; }
    bool hist_mode(type t) const { return hist_[t]; }
    bool grey_mode(type t) const { return grey_[t]; }

signals:
    void send_menu_image(bool enable);

private slots:
    void on_btn_apply_clicked();
    void on_tg_image_type_currentIndexChanged(int index);

private:
    void load_inputs(int t);

    int selected_ = ambient;
    bool auto_norm_[3] = {false, false, true};
    double min_val_[3] = {0.0, 0.0, 0.0};
    double max_val_[3] = {5000.0, 100.0, 3000.0};
    bool hist_[3] = {false, false, true};
    bool grey_[3] = {false, false, false};
    Ui::menu_image* ui;
};
