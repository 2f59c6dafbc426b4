// Nimbra Studio: the desktop viewer for the TQ-Z LiDAR.
//
//   nimbra-studio                       start idle, as the user expects
//   nimbra-studio --connect ADDR[:PORT] connect to a sensor at start-up (stream mode, port 2000 by default)
//   nimbra-studio --play FILE.bin       open a recording at start-up

#include <cstdio>

#include <QApplication>
#include <QFile>
#include <QStringList>
#include <QSurfaceFormat>
#include <QTextStream>
#include <QTimer>

#include <QVTKOpenGLNativeWidget.h>
#include <vtkLogger.h>

#include "main_window/main_window.hpp"

namespace {

struct StartOptions {
    QString connect_ip;
    int connect_port = 2000;
    QString play_file;
    bool ok = true;
};

StartOptions parse_options(const QStringList& args) {
    StartOptions options;
    for (int i = 1; i < args.size(); ++i) {
        const QString& arg = args[i];
        const bool has_value = i + 1 < args.size();
        if (arg == "--connect" && has_value) {
            const QString value = args[++i];
            const int colon = value.lastIndexOf(':');
            options.connect_ip = colon < 0 ? value : value.left(colon);
            if (colon >= 0) {
                bool port_ok = false;
                options.connect_port = value.mid(colon + 1).toInt(&port_ok, 10);
                if (!port_ok || options.connect_port <= 0 || options.connect_port > 65535)
                    options.ok = false;
            }
            if (options.connect_ip.isEmpty())
                options.ok = false;
        } else if (arg == "--play" && has_value) {
            options.play_file = args[++i];
        } else {
            options.ok = false;
        }
    }
    if (!options.connect_ip.isEmpty() && !options.play_file.isEmpty())
        options.ok = false;
    return options;
}

}  // namespace

int main(int argc, char* argv[]) {
    vtkLogger::SetStderrVerbosity(vtkLogger::VERBOSITY_ERROR);
    QSurfaceFormat::setDefaultFormat(QVTKOpenGLNativeWidget::defaultFormat());
    QApplication app(argc, argv);

    const StartOptions options = parse_options(app.arguments());
    if (!options.ok) {
        std::fprintf(stderr, "usage: nimbra-studio [--connect ADDR[:PORT] | --play FILE.bin]\n");
        return 2;
    }

    QFile style(":/qdarkstyle/dark/style.qss");
    if (style.exists() && style.open(QFile::ReadOnly | QFile::Text)) {
        QTextStream text(&style);
        app.setStyleSheet(text.readAll());
    } else {
        std::printf("Unable to set stylesheet, file not found\n");
    }

    MainWindow window;
    window.show();
    // Start-up actions run once the event loop is up, as if the user had
    // clicked them.
    if (!options.connect_ip.isEmpty())
        QTimer::singleShot(0, &window, [&] { window.start_stream(options.connect_ip, options.connect_port); });
    if (!options.play_file.isEmpty())
        QTimer::singleShot(0, &window, [&] { window.start_replay(options.play_file); });
    return app.exec();
}
