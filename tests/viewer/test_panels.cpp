#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTextEdit>
#include <QSignalSpy>
#include <QSpinBox>
#include <QtTest>

#include "panels/menu_connection.hpp"
#include "panels/menu_device_user.hpp"
#include "panels/menu_grid.hpp"
#include "panels/menu_image.hpp"
#include "panels/menu_pointcloud.hpp"
#include "panels/tool_user.hpp"
#include "modal_answerer.hpp"

template <typename T>
T* child(QWidget& w, const char* name) {
    T* c = w.findChild<T*>(name);
    if (!c)
        qFatal("no child %s", name);
    return c;
}

class TestPanels : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs); }

    void connection_window_starts_from_fixed_defaults() {
        menu_connection w;
        QCOMPARE(w.windowTitle(), QString("TQ Connection"));
        QCOMPARE(w.windowModality(), Qt::ApplicationModal);
        QCOMPARE(child<QLineEdit>(w, "le_device_ip")->text(), QString("192.168.1.10"));
        QCOMPARE(child<QLineEdit>(w, "le_device_port")->text(), QString("2000"));
        QCOMPARE(child<QLineEdit>(w, "le_pc_ip")->text(), QString("0.0.0.0"));
        QCOMPARE(child<QLineEdit>(w, "le_pc_port")->text(), QString("0"));
        QCOMPARE(child<QLineEdit>(w, "le_pc_port")->placeholderText(), QString("port number"));
        QVERIFY(child<QPushButton>(w, "btn_connect")->isEnabled());
        QVERIFY(!child<QPushButton>(w, "btn_disconnect")->isEnabled());
    }

    void connect_reads_the_fields_and_buttons_follow_the_state() {
        menu_connection w;
        w.show();
        QSignalSpy status(&w, &menu_connection::send_menu_connect_status);
        child<QLineEdit>(w, "le_device_ip")->setText("127.0.0.1");
        child<QLineEdit>(w, "le_device_port")->setText("4321");
        child<QLineEdit>(w, "le_pc_port")->setText("abc");  // not a number: 0
        child<QPushButton>(w, "btn_connect")->click();
        QCOMPARE(status.count(), 1);
        QCOMPARE(status.at(0).at(0).toBool(), true);
        QCOMPARE(w.device_ip(), QString("127.0.0.1"));
        QCOMPARE(w.device_port(), 4321);
        QCOMPARE(w.pc_ip(), QString("0.0.0.0"));
        QCOMPARE(w.pc_port(), 0);
        QVERIFY(!w.isVisible());

        w.get_menu_btn_connect_control(true);
        QVERIFY(!child<QPushButton>(w, "btn_connect")->isEnabled());
        QVERIFY(child<QPushButton>(w, "btn_disconnect")->isEnabled());
        child<QPushButton>(w, "btn_disconnect")->click();
        QCOMPARE(status.count(), 2);
        QCOMPARE(status.at(1).at(0).toBool(), false);
        w.get_menu_btn_connect_control(false);
        QVERIFY(child<QPushButton>(w, "btn_connect")->isEnabled());

        w.connect_to("10.0.0.7", 2345);
        QCOMPARE(status.count(), 3);
        QCOMPARE(w.device_ip(), QString("10.0.0.7"));
        QCOMPARE(w.device_port(), 2345);
    }

    void escape_closes_the_connection_window() {
        menu_connection w;
        w.show();
        QTest::keyClick(&w, Qt::Key_Escape);
        QVERIFY(!w.isVisible());
    }

    void image_window_keeps_values_per_type() {
        menu_image w;
        QSignalSpy applied(&w, &menu_image::send_menu_image);
        auto* type = child<QComboBox>(w, "tg_image_type");
        auto* autonorm = child<QCheckBox>(w, "cb_auto_normal");
        auto* min = child<QDoubleSpinBox>(w, "sb_min_val");
        auto* max = child<QDoubleSpinBox>(w, "sb_max_val");
        auto* hist = child<QCheckBox>(w, "cb_hist_equal");
        auto* grey = child<QCheckBox>(w, "cb_grey");
        QCOMPARE(type->count(), 3);
        QCOMPARE(type->itemText(1), QString("Depth Image"));
        QCOMPARE(max->maximum(), 1000000.0);
        // Ambient shown first.
        QVERIFY(!autonorm->isChecked());
        QCOMPARE(max->value(), 5000.0);

        // Edit ambient without applying, look at intensity, come back: stored values return.
        max->setValue(42);
        type->setCurrentIndex(2);
        QVERIFY(autonorm->isChecked());
        QVERIFY(hist->isChecked());
        QCOMPARE(max->value(), 3000.0);
        type->setCurrentIndex(0);
        QCOMPARE(max->value(), 5000.0);

        // Apply on depth changes depth only.
        type->setCurrentIndex(1);
        QCOMPARE(max->value(), 100.0);
        min->setValue(5);
        max->setValue(60);
        grey->setChecked(true);
        child<QPushButton>(w, "btn_apply")->click();
        QCOMPARE(applied.count(), 1);
        QCOMPARE(applied.at(0).at(0).toBool(), true);
        QCOMPARE(w.min_val(menu_image::depth), 5.0);
        QCOMPARE(w.max_val(menu_image::depth), 60.0);
        QVERIFY(w.grey_mode(menu_image::depth));
        QCOMPARE(w.max_val(menu_image::ambient), 5000.0);
        QCOMPARE(w.max_val(menu_image::intensity), 3000.0);
        QVERIFY(w.auto_norm(menu_image::intensity));
        QVERIFY(!w.grey_mode(menu_image::ambient));
    }

    void pointcloud_and_grid_windows_have_their_ranges() {
        menu_pointcloud pc;
        QCOMPARE(pc.windowTitle(), QString("TQ Point-Cloud Setting"));
        auto* color = child<QComboBox>(pc, "tg_PointColor");
        // The seven fixed colours, then the five field colours.
        QCOMPARE(color->count(), 12);
        QCOMPARE(color->currentText(), QString("Intensity"));
        QCOMPARE(color->itemText(7), QString("Field: Intensity"));
        QCOMPARE(color->itemText(11), QString("Field: Row"));
        auto* size = child<QDoubleSpinBox>(pc, "sb_PointSize");
        QCOMPARE(size->minimum(), 1.0);
        QCOMPARE(size->maximum(), 10.0);
        QCOMPARE(child<QDoubleSpinBox>(pc, "sb_MaxDistance")->maximum(), 500.0);
        QCOMPARE(child<QDoubleSpinBox>(pc, "sb_MinDistance")->maximum(), 200.0);
        QCOMPARE(child<QDoubleSpinBox>(pc, "sb_MaxDistance")->value(), 200.0);

        menu_grid grid;
        QCOMPARE(grid.windowTitle(), QString("TQ Grid Setting"));
        auto* gs = child<QSpinBox>(grid, "sb_grid_size");
        auto* gd = child<QSpinBox>(grid, "sb_max_dist");
        auto* fs = child<QDoubleSpinBox>(grid, "sb_font_size");
        QCOMPARE(gs->value(), 10);
        QCOMPARE(gs->maximum(), 500);
        QCOMPARE(gd->value(), 50);
        QCOMPARE(gd->singleStep(), 10);
        QCOMPARE(gd->maximum(), 5000);
        QCOMPARE(fs->value(), 0.5);
        gs->setValue(3);
        gd->setValue(10);
        child<QCheckBox>(grid, "cb_grid_enable")->setChecked(true);
        child<QPushButton>(grid, "btn_apply")->click();
        QCOMPARE(grid.grid_size(), 3.0);
        QCOMPARE(grid.max_distance(), 10.0);
        QVERIFY(grid.grid_enable());
    }

    void network_fields_are_checked_by_dots() {
        using k = menu_device_user::field_kind;
        QVERIFY(menu_device_user::field_ok("1.2.3.4", k::address));
        QVERIFY(menu_device_user::field_ok("abc.def.ghi.jkl", k::address));
        QVERIFY(!menu_device_user::field_ok("192.168.1", k::address));
        QVERIFY(!menu_device_user::field_ok("192..1.1", k::address));
        QVERIFY(!menu_device_user::field_ok("1.2.3.4.5.6.7", k::address));
        QVERIFY(menu_device_user::field_ok("2000", k::port));
        QVERIFY(!menu_device_user::field_ok("20.00", k::port));
        QVERIFY(!menu_device_user::field_ok("", k::port));
    }

    void device_window_starts_with_the_proposed_network_and_hides_the_firmware_row() {
        menu_device_user w;
        QCOMPARE(w.windowTitle(), QString("TQ Device Settings"));
        auto* tabs = child<QTabWidget>(w, "tabFunction");
        QCOMPARE(tabs->count(), 1);
        QCOMPARE(tabs->tabText(0), QString("Update"));
        const std::pair<const char*, const char*> fields[] = {
            {"le_tq_ip", "192.168.1.10"}, {"le_tq_port", "2000"},     {"le_pc_ip", "192.168.1.15"},
            {"le_pc_port", "2000"},       {"le_gateway", "192.168.1.1"}, {"le_netmask", "255.255.255.0"},
        };
        for (const auto& f : fields)
            QCOMPARE(child<QLineEdit>(w, f.first)->text(), QString(f.second));
        QCOMPARE(w.network().size(), size_t(7));
        w.show();
        for (const char* name : {"lel_firmware_update", "lel_fw", "le_fw_file", "btn_fw_file", "btn_fw_upload",
                                 "pb_firmware_update"})
            QVERIFY2(!child<QWidget>(w, name)->isVisible(), name);
        QVERIFY(child<QPushButton>(w, "btn_change_network")->isVisible());
        QCOMPARE(child<QProgressBar>(w, "pb_firmware_update")->value(), 0);
    }

    void network_change_checks_all_six_fields() {
        struct Case {
            const char* field;
            const char* text;
            bool passes;
        };
        const Case cases[] = {
            {"le_tq_ip", "192.168.1", false},  {"le_gateway", "192..1.1", false},
            {"le_netmask", "abc.def.ghi.jkl", true}, {"le_pc_ip", "1.2.3.4", true},
            {"le_pc_port", "20.00", false},    {"le_tq_port", "", false},
            {"le_tq_port", "2000", true},      {"le_pc_ip", "10.0.0.1.", false},
        };
        for (const Case& c : cases) {
            menu_device_user w;
            int changes = 0;
            connect(&w, &menu_device_user::send_menu_current_network, [&](std::vector<QString>&) { ++changes; });
            ModalAnswerer answers;
            child<QLineEdit>(w, c.field)->setText(c.text);
            child<QPushButton>(w, "btn_change_network")->click();
            const QString what = QString("%1 = '%2'").arg(c.field, c.text);
            QVERIFY2(changes == (c.passes ? 1 : 0), qPrintable(what));
            QVERIFY2(answers.boxes.size() == (c.passes ? 0u : 1u), qPrintable(what));
            if (c.passes)
                continue;
            QCOMPARE(answers.boxes[0].icon, QMessageBox::Warning);
            QCOMPARE(answers.boxes[0].title, QString("IP Setting fail"));
            QCOMPARE(answers.boxes[0].text, QString("IP setting apply fail. Check the format"));
            QCOMPARE(w.network()[0], QString("192.168.1.10"));  // a refused change keeps the list
        }

        menu_device_user w;
        std::vector<QString> sent;
        connect(&w, &menu_device_user::send_menu_current_network, [&](std::vector<QString>& v) { sent = v; });
        child<QLineEdit>(w, "le_tq_ip")->setText("10.1.1.20");
        child<QLineEdit>(w, "le_pc_port")->setText("7000");
        child<QPushButton>(w, "btn_change_network")->click();
        const std::vector<QString> expected = {"10.1.1.20", "2000", "192.168.1.15", "7000", "192.168.1.1",
                                               "255.255.255.0"};
        QCOMPARE(sent, expected);
        QCOMPARE(w.network(), expected);
    }

    void ports_for_the_sensor_are_plain_decimal_numbers() {
        const std::pair<const char*, int> good[] = {{"2000", 2000}, {"1", 1}, {"65535", 65535}, {"07000", 7000}};
        for (const auto& g : good) {
            int port = -1;
            QVERIFY2(menu_device_user::port_number(g.first, port), g.first);
            QCOMPARE(port, g.second);
        }
        for (const char* bad : {"", "0", "65536", "99999999999", "20x0", " 2000", "+2000", "-1", "0x10", "２０００"}) {
            int port = -1;
            QVERIFY2(!menu_device_user::port_number(QString::fromUtf8(bad), port), bad);
            QCOMPARE(port, -1);
        }
    }

    void current_connection_fills_the_first_fields() {
        menu_device_user w;
        std::vector<QString> current = {"127.0.0.1", "4000", "0.0.0.0", "0"};
        w.get_menu_current_network(current);
        QCOMPARE(child<QLineEdit>(w, "le_tq_ip")->text(), QString("127.0.0.1"));
        QCOMPARE(child<QLineEdit>(w, "le_tq_port")->text(), QString("4000"));
        QCOMPARE(child<QLineEdit>(w, "le_pc_ip")->text(), QString("0.0.0.0"));
        QCOMPARE(child<QLineEdit>(w, "le_pc_port")->text(), QString("0"));
        QCOMPARE(child<QLineEdit>(w, "le_gateway")->text(), QString("192.168.1.1"));
        QCOMPARE(child<QLineEdit>(w, "le_netmask")->text(), QString("255.255.255.0"));
        std::vector<QString> too_long(9, "x");
        w.get_menu_current_network(too_long);
        QCOMPARE(w.network().size(), size_t(7));
        QCOMPARE(child<QLineEdit>(w, "le_netmask")->text(), QString("x"));
    }

    void setting_file_save_and_firmware_requests() {
        menu_device_user w;
        QSignalSpy file(&w, &menu_device_user::send_menu_setting_file);
        QSignalSpy save(&w, &menu_device_user::send_menu_flash_write);
        QSignalSpy upload(&w, &menu_device_user::send_menu_firmware_upload);
        ModalAnswerer answers;

        child<QPushButton>(w, "btn_setting_apply")->click();  // an empty name is sent as it is
        QCOMPARE(file.count(), 1);
        QCOMPARE(file.at(0).at(0).toString(), QString());

        QTemporaryDir dir;
        const QString json = dir.path() + "/settings.json";
        QFile out(json);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write("{}");
        out.close();
        answers.answer_file(json);
        child<QPushButton>(w, "btn_file_name")->click();
        QCOMPARE(answers.file_requests.back().caption, QString("Choose the setting file."));
        QCOMPARE(child<QLineEdit>(w, "le_file_name")->text(), json);
        child<QPushButton>(w, "btn_setting_apply")->click();
        QCOMPARE(file.at(1).at(0).toString(), json);
        answers.answer_file("");  // cancelled: the field is emptied
        child<QPushButton>(w, "btn_file_name")->click();
        QCOMPARE(child<QLineEdit>(w, "le_file_name")->text(), QString());

        child<QPushButton>(w, "btn_flash_write")->click();
        QCOMPARE(save.count(), 1);
        QCOMPARE(save.at(0).at(0).toBool(), true);

        child<QPushButton>(w, "btn_fw_upload")->click();
        QCOMPARE(upload.count(), 0);
        QCOMPARE(answers.boxes.size(), size_t(1));
        QCOMPARE(answers.boxes[0].title, QString("Warning"));
        QCOMPARE(answers.boxes[0].text, QString("Firmware file wrong"));
        child<QLineEdit>(w, "le_fw_file")->setText("/tmp/tqz_fw.bin");
        child<QPushButton>(w, "btn_fw_upload")->click();
        QCOMPARE(upload.count(), 1);
        QCOMPARE(upload.at(0).at(0).toString(), QString("/tmp/tqz_fw.bin"));

        auto* bar = child<QProgressBar>(w, "pb_firmware_update");
        w.get_menu_firmware_progress(57);
        QCOMPARE(bar->value(), 57);
        w.get_menu_firmware_progress(-2);
        QCOMPARE(bar->value(), 0);

        w.get_menu_tcp_message("hello");
        QCOMPARE(child<QTextEdit>(w, "te_log")->toPlainText(), QString("hello"));
        child<QPushButton>(w, "btn_clear")->click();
        QVERIFY(child<QTextEdit>(w, "te_log")->toPlainText().isEmpty());
    }

    void tool_bar_relays_applies_with_copies() {
        tool_user bar;
        QCOMPARE(bar.findChildren<QPushButton*>().size(), 9);
        QCOMPARE(child<QPushButton>(bar, "btn_xy_axis")->toolTip(), QString("View : XY-axis"));
        QSignalSpy grid(&bar, &tool_user::send_tool_grid);
        QSignalSpy xy(&bar, &tool_user::send_tool_xy_axis);
        QSignalSpy play(&bar, &tool_user::send_tool_play_mode);
        child<QPushButton>(*bar.grid_window(), "btn_apply")->click();
        QCOMPARE(grid.count(), 1);
        QCOMPARE(bar.grid.max_distance, 50.0);
        child<QPushButton>(bar, "btn_xy_axis")->click();
        QCOMPARE(xy.count(), 1);
        QCOMPARE(xy.at(0).at(0).toBool(), true);

        bar.load_file("/tmp/x.bin");
        QCOMPARE(play.count(), 2);
        QCOMPARE(play.at(0).at(0).toBool(), false);
        QCOMPARE(play.at(1).at(0).toBool(), true);
        QCOMPARE(bar.data_file_path, QString("/tmp/x.bin"));

        bar.get_tool_connection_status(true);
        QVERIFY(!child<QPushButton>(bar, "btn_load")->isEnabled());
        bar.get_tool_connection_status(false);
        QVERIFY(child<QPushButton>(bar, "btn_load")->isEnabled());

        bar.connection_window()->show();
        bar.grid_window()->show();
        bar.get_tool_close_all();
        QVERIFY(!bar.connection_window()->isVisible());
        QVERIFY(!bar.grid_window()->isVisible());
    }
};

QTEST_MAIN(TestPanels)
#include "test_panels.moc"
