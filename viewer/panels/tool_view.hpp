#pragma once

#include <QWidget>

namespace Ui {
class tool_view;
}

// The right-hand column of the 3-D view's tools: bird's-eye view, the
// orthographic / perspective switch, reset view and clearing the picks.
// Each button emits what it asks for; the point-cloud view carries it out.
class tool_view : public QWidget {
    Q_OBJECT

public:
    explicit tool_view(QWidget* parent = nullptr);
    ~tool_view() override;

signals:
    void send_tool_birds_eye(bool enable);
    void send_tool_orthographic(bool enable);
    void send_tool_reset_view(bool enable);
    void send_tool_clear_picks(bool enable);

public slots:
    // Shows the projection in use without asking for it again.
    void get_tool_orthographic(bool enable);

private slots:
    void on_btn_birds_eye_clicked() { emit send_tool_birds_eye(true); }
    void on_btn_projection_clicked(bool checked) { emit send_tool_orthographic(checked); }
    void on_btn_reset_view_clicked() { emit send_tool_reset_view(true); }
    void on_btn_clear_picks_clicked() { emit send_tool_clear_picks(true); }

private:
    Ui::tool_view* ui;
};
