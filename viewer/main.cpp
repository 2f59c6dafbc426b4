// Nimbra Studio: the desktop viewer for the TQ-Z LiDAR. The options are
// listed by --help (kHelp below).

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <QApplication>
#include <QFile>
#include <QSettings>
#include <QSocketNotifier>
#include <QStringList>
#include <QSurfaceFormat>
#include <QTextStream>
#include <QTimer>

#include <QVTKOpenGLNativeWidget.h>
#include <vtkLogger.h>

#include <unistd.h>

#include "main_window/main_window.hpp"
#include "panels/status_strip.hpp"

namespace {

// --help, in the form help2man reads: a usage line, then indented options.
const char* const kHelp =
    "Usage: nimbra-studio [OPTION]...\n"
    "Show a TQ-Z LiDAR's scenes, live or from a recording, as images and a point cloud.\n"
    "\n"
    "  --connect ADDR[:PORT]  connect to the sensor at ADDR at start-up (TCP port 2000 by default)\n"
    "  --play FILE.bin        open the recording FILE.bin at start-up\n"
    "  --help                 print this help and exit\n"
    "  --version              print the version and exit\n"
    "\n"
    "Without an option the window starts idle. --connect and --play exclude each other.\n"
    "Qt's own options (-platform, -display, ...) are accepted too.\n"
    "\n"
    "Environment:\n"
    "  NIMBRA_STUDIO_SETTINGS  file that keeps window and display settings and recent files\n"
    "                          (an INI file; by default Qt's place for Velkor/nimbra-studio)\n";

// True when argv asks for --help or --version, which are answered before any
// window system is touched, so that they work without a display.
bool answered_at_once(int argc, char* argv[], int& status) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kHelp, stdout);
            status = 0;
            return true;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("nimbra-studio %s\n", VELKOR::LidarTQ::version().c_str());
            status = 0;
            return true;
        }
    }
    return false;
}

// SIGTERM and SIGINT end the event loop through a pipe, so that the window
// closes as on a click and the stream summary is printed.
int quit_pipe[2] = {-1, -1};

void quit_on_signal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = write(quit_pipe[1], &byte, 1);
}

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
    int status = 0;
    if (answered_at_once(argc, argv, status))
        return status;
    vtkLogger::SetStderrVerbosity(vtkLogger::VERBOSITY_ERROR);
    QSurfaceFormat::setDefaultFormat(QVTKOpenGLNativeWidget::defaultFormat());
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName("Velkor");
    // Not the window title: Qt names every untitled top-level window after the application.
    QCoreApplication::setApplicationName("nimbra-studio");
    QCoreApplication::setApplicationVersion(QString::fromStdString(VELKOR::LidarTQ::version()));

    const StartOptions options = parse_options(app.arguments());
    if (!options.ok) {
        std::fprintf(stderr, "usage: nimbra-studio [--connect ADDR[:PORT] | --play FILE.bin]\n"
                             "Try 'nimbra-studio --help' for more information.\n");
        return 2;
    }

    QFile style(":/qdarkstyle/dark/style.qss");
    if (style.exists() && style.open(QFile::ReadOnly | QFile::Text)) {
        QTextStream text(&style);
        app.setStyleSheet(text.readAll());
    } else {
        std::printf("Unable to set stylesheet, file not found\n");
    }

    const char* settings_file = std::getenv("NIMBRA_STUDIO_SETTINGS");
    std::unique_ptr<QSettings> settings = settings_file && *settings_file
                                              ? std::make_unique<QSettings>(settings_file, QSettings::IniFormat)
                                              : std::make_unique<QSettings>();
    MainWindow window;
    window.use_settings(settings.get());
    window.show();
    // Start-up actions run once the event loop is up, as if the user had
    // clicked them.
    if (!options.connect_ip.isEmpty())
        QTimer::singleShot(0, &window, [&] { window.start_stream(options.connect_ip, options.connect_port); });
    if (!options.play_file.isEmpty())
        QTimer::singleShot(0, &window, [&] { window.start_replay(options.play_file); });
    QSocketNotifier* quit_notifier = nullptr;
    if (pipe(quit_pipe) == 0) {
        quit_notifier = new QSocketNotifier(quit_pipe[0], QSocketNotifier::Read, &app);
        QObject::connect(quit_notifier, &QSocketNotifier::activated, &window, [&] { window.close(); });
        std::signal(SIGTERM, quit_on_signal);
        std::signal(SIGINT, quit_on_signal);
    }
    const int result = app.exec();
    // One line on what was shown, for scripts that ran the window unattended.
    std::printf("stream summary: %llu frames displayed | %s\n",
                static_cast<unsigned long long>(window.frames_displayed()), qPrintable(window.status()->text()));
    std::fflush(stdout);
    return result;
}
