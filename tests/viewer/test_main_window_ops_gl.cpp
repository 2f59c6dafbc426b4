// The main window's sensor operations against the simulated sensor running
// in this process on 127.0.0.1: recording, setting files, flash write,
// network change, firmware upload and the replay of what was recorded.
#include <cerrno>
#include <cstring>
#include <fstream>

#include <QDir>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QSurfaceFormat>
#include <QTemporaryDir>
#include <QtTest>

#include <QVTKOpenGLNativeWidget.h>
#include <vtkLogger.h>

#include "main_window/main_window.hpp"
#include "file_size_limit.hpp"
#include "modal_answerer.hpp"
#include "panels/tool_log.hpp"
#include "panels/tool_playbar.hpp"
#include "panels/tool_user.hpp"
#include "recording/logger.hpp"
#include "sim_firmware_handler.hpp"
#include "sim_sensor.hpp"

namespace {

template <typename T>
T* child(QWidget* w, const char* name) {
    T* c = w->findChild<T*>(name);
    if (!c)
        qFatal("no child %s", name);
    return c;
}

QPushButton* record_button(MainWindow& w) {
    return child<QPushButton>(w.play_bar(), "btn_record");
}

QString frame_text(MainWindow& w) {
    return child<QLineEdit>(w.play_bar(), "le_frame_control")->text();
}

menu_device_user* device(MainWindow& w) {
    return w.user_bar()->device_window();
}

void click(QWidget* window, const char* name) {
    child<QPushButton>(window, name)->click();
}

QStringList bin_files(const QString& dir) {
    return QDir(dir).entryList({"*.bin"}, QDir::Files);
}

// Frames indexed in a recording, counted by the recording reader.
uint64_t frames_in(const QString& path) {
    VELKOR::Logger reader;
    VELKOR::LOG_PROPS_T props;
    props.file_path = path.toStdString();
    props.read_mode = true;
    if (!reader.open(props))
        return 0;
    unsigned long long last = 0;
    reader.get_total_size(last);
    reader.close();
    return last >= 0xFFFFFFFFull ? 0 : last + 1;
}

// The simulated sensor on 127.0.0.1 with a main window connected to it.
struct Rig {
    VELKOR::SIM::SimSensor sim;
    MainWindow w;

    explicit Rig(bool firmware = false) : sim(options()) {
        if (firmware)
            sim.set_raw_handler_factory(VELKOR::SIM::firmware_handler_factory());
        if (!sim.start())
            qFatal("the simulated sensor did not start");
        w.show();
    }
    static VELKOR::SIM::SimOptions options() {
        VELKOR::SIM::SimOptions o;
        o.bind_ip = "127.0.0.1";
        o.fps = 20.0;
        return o;
    }
    // The connect runs on the sensor's thread; the window answers when it is done.
    bool connect() {
        w.start_stream("127.0.0.1", sim.port());
        return QTest::qWaitFor([this] { return w.connected(); }, 15000);
    }
};

}  // namespace

class TestMainWindowOps : public QObject {
    Q_OBJECT

    QTemporaryDir work_;

private slots:
    void initTestCase() {
        vtkLogger::SetStderrVerbosity(vtkLogger::VERBOSITY_ERROR);
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
        // The viewer writes its connection-settings file into the working directory.
        QVERIFY(QDir::setCurrent(work_.path()));
    }

    // A sensor silent for a while is polled rarely; its frames are shown
    // again as soon as it sends them.
    void a_silent_spell_does_not_stop_the_stream() {
        Rig rig;
        QVERIFY(rig.connect());
        int scenes = 0;
        connect(&rig.w, &MainWindow::send_main_data, [&](VELKOR::LidarTQ::scene_t&) { ++scenes; });
        QTRY_VERIFY_WITH_TIMEOUT(scenes > 0, 10000);
        rig.sim.set_loss_rate(1.0);
        QTest::qWait(3000);
        const int before = scenes;
        rig.sim.set_loss_rate(0.0);
        // Five frames take a quarter of a second; a poll that slowed down too
        // far, or stopped, would miss them.
        QTRY_VERIFY_WITH_TIMEOUT(scenes >= before + 5, 3000);
    }

    void record_needs_a_sensor_and_a_directory() {
        Rig rig;
        ModalAnswerer answers;
        // Without a sensor no directory is asked for and the clock stays hidden.
        record_button(rig.w)->click();
        QVERIFY(answers.file_requests.empty());
        QCOMPARE(record_button(rig.w)->toolTip(), QString("Record"));
        QVERIFY(child<QLineEdit>(rig.w.play_bar(), "le_frame")->isHidden());

        QVERIFY(rig.connect());
        answers.answer_file("");
        record_button(rig.w)->click();
        QCOMPARE(answers.file_requests.size(), size_t(1));
        QCOMPARE(answers.file_requests[0].caption, QString("Record TQ Data"));
        QVERIFY(answers.file_requests[0].dirs_only);
        QCOMPARE(record_button(rig.w)->toolTip(), QString("Record"));
        QVERIFY(child<QLineEdit>(rig.w.play_bar(), "le_frame")->isHidden());
        QVERIFY(answers.boxes.empty());
    }

    void record_toggles_on_the_reported_state() {
        Rig rig;
        QVERIFY(rig.connect());
        ModalAnswerer answers;
        QTemporaryDir dir;
        answers.answer_file(dir.path());
        record_button(rig.w)->click();
        QCOMPARE(record_button(rig.w)->toolTip(), QString("Record Stop"));
        auto* clock = child<QLineEdit>(rig.w.play_bar(), "le_frame");
        QTRY_VERIFY(clock->text().startsWith("Record : 00m0"));
        QTest::qWait(1000);
        record_button(rig.w)->click();
        QCOMPARE(record_button(rig.w)->toolTip(), QString("Record"));
        QVERIFY(clock->isHidden());
        const QStringList files = bin_files(dir.path());
        QCOMPARE(files.size(), 1);
        QVERIFY(frames_in(dir.filePath(files[0])) > 0);
        QVERIFY(answers.boxes.empty());

        // A recording ends with the connection, and the bar says so.
        QTemporaryDir second;
        answers.answer_file(second.path());
        record_button(rig.w)->click();
        QCOMPARE(record_button(rig.w)->toolTip(), QString("Record Stop"));
        click(rig.w.user_bar()->connection_window(), "btn_disconnect");
        QVERIFY(!rig.w.connected());
        QCOMPARE(record_button(rig.w)->toolTip(), QString("Record"));
        QVERIFY(clock->isHidden());
        QCOMPARE(bin_files(second.path()).size(), 1);
    }

    void failed_record_start_is_shown_and_leaves_recording_off() {
        Rig rig;
        QVERIFY(rig.connect());
        ModalAnswerer answers;
        // The directory disappears between the dialog and the start.
        QTemporaryDir parent;
        const QString gone = parent.filePath("gone");
        QVERIFY(QDir().mkdir(gone));
        answers.answer_file(gone, [gone] { QDir().rmdir(gone); });
        record_button(rig.w)->click();
        QCOMPARE(answers.boxes.size(), size_t(1));
        QCOMPARE(answers.boxes[0].icon, QMessageBox::Warning);
        QCOMPARE(answers.boxes[0].title, QString("Warning"));
        QCOMPARE(answers.boxes[0].text, QString("Record start failed! Please check the directory."));
        QCOMPARE(record_button(rig.w)->toolTip(), QString("Record"));
        QVERIFY(child<QLineEdit>(rig.w.play_bar(), "le_frame")->isHidden());

        // The failed start left nothing behind that refuses the next one.
        QTemporaryDir dir;
        answers.answer_file(dir.path());
        record_button(rig.w)->click();
        QCOMPARE(record_button(rig.w)->toolTip(), QString("Record Stop"));
        QCOMPARE(answers.boxes.size(), size_t(1));
        record_button(rig.w)->click();
        QCOMPARE(bin_files(dir.path()).size(), 1);
    }

    // A write that fails (the disk full; here the file size limit) ends the
    // recording with a warning that says why.
    void failed_write_ends_the_recording_with_a_warning() {
        Rig rig;
        QVERIFY(rig.connect());
        ModalAnswerer answers;
        QTemporaryDir dir;
        answers.answer_file(dir.path());
        FileSizeLimit limit(200000);  // some 18 rows
        QVERIFY(limit.ok());
        record_button(rig.w)->click();
        const bool warned = QTest::qWaitFor([&] { return !answers.boxes.empty(); }, 10000);
        limit.lift();
        QVERIFY(warned);
        QCOMPARE(answers.boxes[0].icon, QMessageBox::Warning);
        QCOMPARE(answers.boxes[0].text,
                 QString("Recording stopped: %1. The file keeps what was written before.").arg(std::strerror(EFBIG)));
        QCOMPARE(record_button(rig.w)->toolTip(), QString("Record"));
    }

    void setting_file_is_applied_and_the_stream_resumes() {
        Rig rig;
        QVERIFY(rig.connect());
        ModalAnswerer answers;
        QTemporaryDir dir;
        const QString path = dir.filePath("setting.json");
        std::ofstream(path.toStdString()) << R"({"PL_Reg":{"frame_rate":15},"Extra":{"gain":3}})";
        child<QLineEdit>(device(rig.w), "le_file_name")->setText(path);
        click(device(rig.w), "btn_setting_apply");
        QVERIFY(answers.boxes.empty());
        QTRY_COMPARE(rig.sim.settings()["Extra"]["gain"], nlohmann::json(3));
        QCOMPARE(rig.sim.settings()["PL_Reg"]["frame_rate"], nlohmann::json(15));
        QVERIFY(rig.w.log_panel()->text().endsWith(path + " : file read from file completed!"));
        QTRY_VERIFY(rig.sim.streaming());

        // A file that cannot be read is reported; the stream runs again anyway.
        child<QLineEdit>(device(rig.w), "le_file_name")->setText(dir.filePath("missing.json"));
        click(device(rig.w), "btn_setting_apply");
        QCOMPARE(answers.boxes.size(), size_t(1));
        QCOMPARE(answers.boxes[0].title, QString("Warning"));
        QCOMPARE(answers.boxes[0].text, QString("Setting file read failed!"));
        QTRY_VERIFY(rig.sim.streaming());
        QVERIFY(rig.w.connected());
    }

    void flash_write_saves_and_asks_for_a_new_connection() {
        Rig rig;
        ModalAnswerer answers;
        click(device(rig.w), "btn_flash_write");  // nothing to save to
        QVERIFY(answers.boxes.empty());

        QVERIFY(rig.connect());
        nlohmann::json changed = rig.sim.settings();
        changed["PL_Reg"]["frame_rate"] = 12;
        rig.sim.set_settings(changed);
        click(device(rig.w), "btn_flash_write");
        QCOMPARE(answers.boxes.size(), size_t(1));
        QCOMPARE(answers.boxes[0].icon, QMessageBox::Warning);
        QCOMPARE(answers.boxes[0].title, QString("Warning"));
        QCOMPARE(answers.boxes[0].text, QString("Save Done. Reconnect TQ-Z."));
        QVERIFY(!rig.w.connected());
        QTRY_COMPARE(rig.sim.saved_settings()["PL_Reg"]["frame_rate"], nlohmann::json(12));
    }

    void network_change_is_sent_saved_and_ends_the_connection() {
        Rig rig;
        ModalAnswerer answers;
        click(device(rig.w), "btn_change_network");
        QCOMPARE(answers.boxes.size(), size_t(1));
        QCOMPARE(answers.boxes[0].title, QString("IP Setting Fail"));
        QCOMPARE(answers.boxes[0].text, QString("IP Setting Fail. Lidar connect check."));

        QVERIFY(rig.connect());
        // The fields show the connection just made.
        QCOMPARE(child<QLineEdit>(device(rig.w), "le_tq_ip")->text(), QString("127.0.0.1"));
        QCOMPARE(child<QLineEdit>(device(rig.w), "le_tq_port")->text(), QString::number(rig.sim.port()));

        // A port that is no decimal number is refused before anything is sent.
        child<QLineEdit>(device(rig.w), "le_pc_port")->setText("70x0");
        const uint64_t commands = rig.sim.commands_received();
        click(device(rig.w), "btn_change_network");
        QCOMPARE(answers.boxes.size(), size_t(2));
        QCOMPARE(answers.boxes[1].title, QString("IP Setting fail"));
        QCOMPARE(answers.boxes[1].text, QString("IP setting apply fail. Check the format"));
        QVERIFY(rig.w.connected());
        QCOMPARE(rig.sim.commands_received(), commands);

        child<QLineEdit>(device(rig.w), "le_tq_ip")->setText("192.168.1.77");
        child<QLineEdit>(device(rig.w), "le_tq_port")->setText("2001");
        child<QLineEdit>(device(rig.w), "le_pc_port")->setText("7000");
        child<QLineEdit>(device(rig.w), "le_gateway")->setText("192.168.1.254");
        click(device(rig.w), "btn_change_network");
        QCOMPARE(answers.boxes.size(), size_t(3));
        QCOMPARE(answers.boxes[2].icon, QMessageBox::Information);
        QCOMPARE(answers.boxes[2].title, QString("Information"));
        QCOMPARE(answers.boxes[2].text, QString("Save Done. Reconnect TQ-Z."));
        QVERIFY(!rig.w.connected());
        const nlohmann::json expected = {{"tq_ip", "192.168.1.77"}, {"tq_port", 2001},
                                         {"pc_ip", "0.0.0.0"},      {"pc_port", 7000},
                                         {"gateway", "192.168.1.254"}, {"netmask", "255.255.255.0"}};
        QTRY_COMPARE(rig.sim.saved_settings()["IP_Setting"], expected);
    }

    void firmware_upload_moves_the_progress_bar_and_logs_the_end() {
        Rig rig(true);
        ModalAnswerer answers;
        QTemporaryDir dir;
        const QString image = dir.filePath("tqz_fw.bin");
        {
            std::ofstream out(image.toStdString(), std::ios::binary);
            for (int i = 0; i < 5000; ++i)
                out.put(static_cast<char>(i * 7));
        }
        child<QLineEdit>(device(rig.w), "le_fw_file")->setText(image);
        click(device(rig.w), "btn_fw_upload");
        QCOMPARE(answers.boxes.size(), size_t(1));
        QCOMPARE(answers.boxes[0].text, QString("Firmware remove fail. Please connect TQ-Z"));

        QVERIFY(rig.connect());
        child<QLineEdit>(device(rig.w), "le_fw_file")->setText(dir.filePath("missing.bin"));
        click(device(rig.w), "btn_fw_upload");
        QCOMPARE(answers.boxes.size(), size_t(2));
        QCOMPARE(answers.boxes[1].title, QString("Warning"));
        QCOMPARE(answers.boxes[1].text, QString("FW_Upgrade_Start_Fail!"));

        QList<int> progress;
        // Queued to this thread, as the real receivers are.
        connect(&rig.w, &MainWindow::send_main_firmware_progress, &rig.w, [&](int v) { progress << v; });
        child<QLineEdit>(device(rig.w), "le_fw_file")->setText(image);
        click(device(rig.w), "btn_fw_upload");
        QCOMPARE(answers.boxes.size(), size_t(2));
        QVERIFY(rig.w.log_panel()->text().contains(image + " : FW_Upgrade_Start!"));
        auto* bar = child<QProgressBar>(device(rig.w), "pb_firmware_update");
        QTRY_COMPARE_WITH_TIMEOUT(bar->value(), 100, 30000);
        QTRY_VERIFY(rig.w.log_panel()->text().contains("FW_Upload_Finish!"));
        // The library reports "PG" with decimals; none of them reaches the log.
        QVERIFY(!rig.w.log_panel()->text().contains("] PG"));
        QVERIFY(progress.size() >= 2);
        QCOMPARE(progress.last(), 100);
    }

    void replay_shows_every_recorded_frame() {
        Rig rig;
        QVERIFY(rig.connect());
        ModalAnswerer answers;
        QTemporaryDir dir;
        answers.answer_file(dir.path());
        record_button(rig.w)->click();
        QTest::qWait(800);
        record_button(rig.w)->click();
        const QStringList files = bin_files(dir.path());
        QCOMPARE(files.size(), 1);
        const QString path = dir.filePath(files[0]);
        const uint64_t frames = frames_in(path);
        QVERIFY(frames > 2);
        // The recording may begin and end inside a frame; those give no scene.
        int complete = 0;
        {
            VELKOR::LidarTQ player;
            QVERIFY(player.play_start(path.toStdString()));
            VELKOR::LidarTQ::scene_t scene;
            for (uint64_t i = 0; i < frames; ++i)
                complete += player.get_scene(scene, static_cast<int>(i)) ? 1 : 0;
            player.play_stop();
        }
        QVERIFY(complete >= int(frames) - 2);

        int shown = 0;
        connect(&rig.w, &MainWindow::send_main_data, [&](VELKOR::LidarTQ::scene_t&) { ++shown; });
        rig.w.start_replay(path);
        QTRY_VERIFY(rig.w.connected());
        QCOMPARE(frame_text(rig.w), QString("Frame : [0/%1]").arg(frames));
        QCOMPARE(child<QSlider>(rig.w.play_bar(), "sl_frame_control")->maximum(), int(frames - 1));
        child<QDoubleSpinBox>(rig.w.play_bar(), "sb_speed")->setValue(5.0);
        // Five times the recorded 20 fps.
        const double fps = rig.w.play_bar()->fps_text().section(' ', 0, 0).toDouble();
        QVERIFY2(fps > 95.0 && fps < 105.0, qPrintable(rig.w.play_bar()->fps_text()));
        click(rig.w.play_bar(), "btn_play");
        const QString end = QString("Frame : [%1/%1]").arg(frames);
        QTRY_COMPARE_WITH_TIMEOUT(frame_text(rig.w), end, 20000);
        QTest::qWait(300);
        // Every frame once, the last one included; then the replay rests.
        QCOMPARE(shown, complete);
        QCOMPARE(frame_text(rig.w), end);
        QVERIFY(answers.boxes.empty());

        // Nothing records from a replay, and no directory is asked for; the
        // refusal says why and leaves the file playing.
        click(rig.w.play_bar(), "btn_stop");
        QTRY_COMPARE(frame_text(rig.w), QString("Frame : [0/%1]").arg(frames));
        const size_t asked = answers.file_requests.size();
        record_button(rig.w)->click();
        QCOMPARE(answers.file_requests.size(), asked);
        QCOMPARE(answers.boxes.size(), size_t(1));
        QCOMPARE(answers.boxes[0].text, QString("Recording is not possible during a replay."));
        QCOMPARE(record_button(rig.w)->toolTip(), QString("Record"));
        QVERIFY(child<QLineEdit>(rig.w.play_bar(), "le_frame")->isHidden());
        shown = 0;
        click(rig.w.play_bar(), "btn_play");
        QTRY_VERIFY(shown >= 3);
    }

    // An empty file, or one of random bytes, opens with a warning that it
    // holds no frame, and shows none.
    void empty_recording_shows_no_frames() {
        Rig rig;
        ModalAnswerer answers;
        QTemporaryDir dir;
        const QString noise = dir.filePath("noise.bin");
        {
            std::ofstream out(noise.toStdString(), std::ios::binary);
            uint32_t x = 12345;
            for (int i = 0; i < 200000; ++i) {
                x = x * 1103515245u + 12345u;
                out.put(static_cast<char>(x >> 24));
            }
        }
        rig.w.start_replay(noise);
        QTRY_VERIFY(rig.w.connected());
        QTRY_COMPARE(answers.boxes.size(), size_t(1));
        QCOMPARE(answers.boxes[0].title, QString("Warning"));
        QCOMPARE(answers.boxes[0].text, QString("The file holds no frame of the sensor."));
        QCOMPARE(frame_text(rig.w), QString("Frame : [0/0]"));

        const QString path = dir.filePath("empty.bin");
        std::ofstream(path.toStdString(), std::ios::binary).flush();
        int shown = 0;
        connect(&rig.w, &MainWindow::send_main_data, [&](VELKOR::LidarTQ::scene_t&) { ++shown; });
        rig.w.start_replay(path);
        QTRY_VERIFY(rig.w.connected());
        QTRY_COMPARE(answers.boxes.size(), size_t(2));
        QCOMPARE(frame_text(rig.w), QString("Frame : [0/0]"));
        auto* slider = child<QSlider>(rig.w.play_bar(), "sl_frame_control");
        QCOMPARE(slider->minimum(), 0);
        QCOMPARE(slider->maximum(), 0);
        child<QPushButton>(rig.w.play_bar(), "btn_repeat")->click();
        click(rig.w.play_bar(), "btn_play");
        QTest::qWait(400);
        QCOMPARE(shown, 0);
        QCOMPARE(frame_text(rig.w), QString("Frame : [0/0]"));
    }
};

int main(int argc, char** argv) {
    QSurfaceFormat::setDefaultFormat(QVTKOpenGLNativeWidget::defaultFormat());
    QApplication app(argc, argv);
    TestMainWindowOps test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_main_window_ops_gl.moc"
