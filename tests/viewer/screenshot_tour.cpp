// Pictures of Nimbra Studio's point-cloud tools, taken from the screen while
// the window streams the simulated sensor (in this process, 127.0.0.1, 20 fps):
// each colour field with its legend, a pick readout, a measurement between
// two picks and the bird's-eye view; the status strip is in every picture
// and also saved alone. Run under an X server (make screenshots uses Xvfb).
//   viewer_screenshot_tour OUT_DIR
#include <cstdio>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDockWidget>
#include <QPushButton>
#include <QScreen>
#include <QSurfaceFormat>
#include <QTemporaryDir>
#include <QtTest>

#include <QVTKOpenGLNativeWidget.h>
#include <vtkLogger.h>

#include "main_window/main_window.hpp"
#include "panels/menu_pointcloud.hpp"
#include "panels/status_strip.hpp"
#include "panels/tool_user.hpp"
#include "sim_sensor.hpp"
#include "views/viewer_pointcloud.hpp"

namespace {

// The window as the screen shows it (the 3-D view is a native GL window of
// its own, which a widget grab would leave out).
bool shoot(MainWindow& w, const QDir& out, const char* name) {
    QTest::qWait(400);  // a few frames drawn with what was just changed
    const QRect r = w.frameGeometry();
    const QPixmap picture = QGuiApplication::primaryScreen()->grabWindow(0, r.x(), r.y(), r.width(), r.height());
    const QString path = out.filePath(QString(name) + ".png");
    if (!picture.save(path))
        return false;
    std::printf("%s\n", qPrintable(path));
    return true;
}

void colour_by(MainWindow& w, int mode) {
    QWidget* menu = w.user_bar()->pointcloud_window();
    menu->findChild<QComboBox*>("tg_PointColor")->setCurrentIndex(mode);
    menu->findChild<QPushButton*>("btn_apply")->click();
}

void click_view_button(MainWindow& w, const char* name) {
    w.findChild<QDockWidget*>("view_Dock")->findChild<QPushButton*>(name)->click();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: viewer_screenshot_tour OUT_DIR\n");
        return 2;
    }
    vtkLogger::SetStderrVerbosity(vtkLogger::VERBOSITY_ERROR);
    QSurfaceFormat::setDefaultFormat(QVTKOpenGLNativeWidget::defaultFormat());
    QApplication app(argc, argv);
    QDir out(argv[1]);
    if (!out.mkpath(".")) {
        std::fprintf(stderr, "viewer_screenshot_tour: cannot create %s\n", argv[1]);
        return 1;
    }
    // The viewer writes its connection-settings file into the working directory.
    QTemporaryDir work;
    QDir::setCurrent(work.path());

    VELKOR::SIM::SimOptions options;
    options.bind_ip = "127.0.0.1";
    options.fps = 20.0;
    VELKOR::SIM::SimSensor sim(options);
    if (!sim.start()) {
        std::fprintf(stderr, "viewer_screenshot_tour: the simulated sensor did not start\n");
        return 1;
    }
    MainWindow w;
    w.show();
    if (!QTest::qWaitForWindowExposed(&w))
        return 1;
    w.start_stream("127.0.0.1", sim.port());
    if (!QTest::qWaitFor([&] { return w.connected(); }, 15000)) {
        std::fprintf(stderr, "viewer_screenshot_tour: no connection to the simulated sensor\n");
        return 1;
    }
    QTest::qWait(2500);  // the status strip's rates are per second

    const char* fields[colour_field::field_count] = {"field_intensity", "field_range", "field_ambient",
                                                     "field_height", "field_row"};
    bool ok = true;
    for (int f = 0; f < colour_field::field_count; ++f) {
        colour_by(w, viewer_pointcloud::first_field_mode + f);
        ok = shoot(w, out, fields[f]) && ok;
    }
    colour_by(w, viewer_pointcloud::first_field_mode + colour_field::range);
    viewer_pointcloud* view = w.pointcloud_view();
    ok = view->pick_pixel(31, 255) && shoot(w, out, "pick") && ok;
    ok = view->pick_pixel(20, 400) && shoot(w, out, "measure") && ok;
    click_view_button(w, "btn_clear_picks");
    click_view_button(w, "btn_birds_eye");
    ok = shoot(w, out, "birds_eye") && ok;
    click_view_button(w, "btn_reset_view");

    const QString strip = out.filePath("status_strip.png");
    ok = w.status()->grab().save(strip) && ok;
    std::printf("%s\n", qPrintable(strip));
    if (!ok)
        std::fprintf(stderr, "viewer_screenshot_tour: a picture was not taken\n");
    return ok ? 0 : 1;
}
