#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QtTest>

#include "panels/menu_connection.hpp"
#include "panels/menu_device_user.hpp"
#include "panels/menu_grid.hpp"
#include "panels/menu_image.hpp"
#include "panels/menu_pointcloud.hpp"
#include "panels/tool_user.hpp"

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
        QCOMPARE(color->count(), 7);
        QCOMPARE(color->currentText(), QString("Intensity"));
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
