#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QtTest>

#include "modal_answerer.hpp"
#include "panels/tool_playbar.hpp"

namespace {

template <typename T>
T* child(QWidget& w, const char* name) {
    T* c = w.findChild<T*>(name);
    if (!c)
        qFatal("no child %s", name);
    return c;
}

QString frame_text(tool_playbar& bar) {
    return child<QLineEdit>(bar, "le_frame_control")->text();
}

}  // namespace

class TestToolPlaybar : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
        qRegisterMetaType<uint64_t>("uint64_t");
    }

    void starts_with_its_fixed_texts_and_ranges() {
        tool_playbar bar;
        QCOMPARE(frame_text(bar), QString("Frame: [0/0]"));
        QCOMPARE(bar.fps_text(), QString("0 FPS"));
        auto* speed = child<QDoubleSpinBox>(bar, "sb_speed");
        QCOMPARE(speed->minimum(), 0.1);
        QCOMPARE(speed->maximum(), 10.0);
        QCOMPARE(speed->text(), QString("1.0x"));
        QVERIFY(child<QLineEdit>(bar, "le_frame")->isHidden());
        QCOMPARE(child<QPushButton>(bar, "btn_record")->toolTip(), QString("Record"));
        QCOMPARE(child<QPushButton>(bar, "btn_repeat")->toolTip(), QString("Repeat On"));
        QVERIFY(!bar.repeat());
    }

    void frame_rate_is_truncated_to_one_decimal() {
        tool_playbar bar;
        const std::pair<double, const char*> cases[] = {
            {9.99, "9.9 FPS"}, {9.87, "9.8 FPS"}, {10.0, "10 FPS"}, {20.0, "20 FPS"},
            {0.3, "0.3 FPS"},  {1e-9, "0 FPS"},   {1234567.0, "1234567 FPS"},
        };
        for (const auto& c : cases) {
            bar.get_tool_FPS(c.first);
            QCOMPARE(bar.fps_text(), QString(c.second));
        }
    }

    void total_sets_the_slider_range_and_the_frame_text() {
        tool_playbar bar;
        auto* slider = child<QSlider>(bar, "sl_frame_control");
        QSignalSpy frames(&bar, &tool_playbar::send_tool_current_frame);
        bar.set_total_frame(100);
        QCOMPARE(slider->minimum(), 0);
        QCOMPARE(slider->maximum(), 99);
        QCOMPARE(frame_text(bar), QString("Frame : [0/100]"));
        QCOMPARE(frames.count(), 0);

        bar.set_current_frame(42);
        QCOMPARE(slider->value(), 42);
        QCOMPARE(frames.count(), 1);
        QCOMPARE(frames.at(0).at(0).value<uint64_t>(), uint64_t(42));
        QCOMPARE(frame_text(bar), QString("Frame : [42/100]"));

        // Past the end: the slider clamps to the last frame and reports it
        // once; the second pass does not move it and the text ends at the total.
        bar.set_current_frame(98);
        bar.set_current_frame(100);
        QCOMPARE(slider->value(), 99);
        QCOMPARE(frame_text(bar), QString("Frame : [100/100]"));
        QCOMPARE(frames.count(), 3);
        QCOMPARE(frames.at(2).at(0).value<uint64_t>(), uint64_t(99));
        bar.set_current_frame(100);
        QCOMPARE(frames.count(), 3);
        QCOMPARE(frame_text(bar), QString("Frame : [100/100]"));

        // Large counts keep all their digits.
        bar.set_total_frame(1234567);
        QCOMPARE(frame_text(bar), QString("Frame : [100/1234567]"));
    }

    void empty_recording_keeps_the_slider_at_zero() {
        tool_playbar bar;
        auto* slider = child<QSlider>(bar, "sl_frame_control");
        bar.set_total_frame(5);
        bar.set_current_frame(3);
        QSignalSpy frames(&bar, &tool_playbar::send_tool_current_frame);
        bar.set_total_frame(0);
        QCOMPARE(slider->minimum(), 0);
        QCOMPARE(slider->maximum(), 0);
        QCOMPARE(slider->value(), 0);
        QCOMPARE(frame_text(bar), QString("Frame : [0/0]"));
        for (const auto& args : frames)
            QCOMPARE(args.at(0).value<uint64_t>(), uint64_t(0));
    }

    void replay_buttons_emit_play_and_stop_in_order() {
        tool_playbar bar;
        QList<QPair<QString, bool>> order;
        connect(&bar, &tool_playbar::send_tool_play_button, [&](bool v) { order.append({"play", v}); });
        connect(&bar, &tool_playbar::send_tool_stop_button, [&](bool v) { order.append({"stop", v}); });
        child<QPushButton>(bar, "btn_play")->click();
        child<QPushButton>(bar, "btn_pause")->click();
        child<QPushButton>(bar, "btn_stop")->click();
        const QList<QPair<QString, bool>> expected = {{"play", true},  {"stop", false}, {"play", false},
                                                      {"stop", false}, {"play", false}, {"stop", true}};
        QCOMPARE(order, expected);
    }

    void speed_slider_and_repeat_controls() {
        tool_playbar bar;
        QSignalSpy speed(&bar, &tool_playbar::send_tool_speed);
        auto* box = child<QDoubleSpinBox>(bar, "sb_speed");
        box->setValue(2.5);
        QCOMPARE(speed.count(), 1);
        QCOMPARE(speed.at(0).at(0).toDouble(), 2.5);
        QCOMPARE(box->text(), QString("2.5x"));
        box->setValue(50.0);
        QCOMPARE(box->value(), 10.0);

        QSignalSpy held(&bar, &tool_playbar::send_tool_slider_status);
        auto* slider = child<QSlider>(bar, "sl_frame_control");
        bar.set_total_frame(10);
        QMetaObject::invokeMethod(slider, "sliderPressed");
        QMetaObject::invokeMethod(slider, "sliderReleased");
        QCOMPARE(held.count(), 2);
        QCOMPARE(held.at(0).at(0).toBool(), false);
        QCOMPARE(held.at(1).at(0).toBool(), true);

        auto* repeat = child<QPushButton>(bar, "btn_repeat");
        repeat->click();
        QVERIFY(bar.repeat());
        QCOMPARE(repeat->toolTip(), QString("Repeat Off"));
        QCOMPARE(repeat->styleSheet(), QString("QPushButton{image: url(:/icon/icon/icon_repeat_1x.png)}"));
        repeat->click();
        QVERIFY(!bar.repeat());
        QCOMPARE(repeat->toolTip(), QString("Repeat On"));
        QCOMPARE(repeat->styleSheet(), QString("QPushButton{image: url(:/icon/icon/icon_repeat.png)}"));
    }

    void stream_mode_disables_only_the_replay_controls() {
        tool_playbar bar;
        const char* replay[] = {"btn_play", "btn_pause", "btn_stop", "btn_repeat", "sb_speed", "sl_frame_control"};
        bar.get_tool_stream_mode(true);
        for (const char* name : replay)
            QVERIFY2(!child<QWidget>(bar, name)->isEnabled(), name);
        QVERIFY(child<QPushButton>(bar, "btn_record")->isEnabled());
        QVERIFY(child<QPushButton>(bar, "btn_capture")->isEnabled());
        bar.get_tool_stream_mode(false);
        for (const char* name : replay)
            QVERIFY2(child<QWidget>(bar, name)->isEnabled(), name);
    }

    void record_button_toggles_on_the_reported_state() {
        tool_playbar bar;
        auto* record = child<QPushButton>(bar, "btn_record");
        auto* clock = child<QLineEdit>(bar, "le_frame");
        QSignalSpy requests(&bar, &tool_playbar::send_tool_record);

        // Nobody reports a recording: every click asks again.
        record->click();
        record->click();
        QCOMPARE(requests.count(), 2);
        QCOMPARE(requests.at(0).at(0).toBool(), true);
        QCOMPARE(requests.at(1).at(0).toBool(), true);
        QVERIFY(clock->isHidden());  // no clock until a recording runs

        bar.get_tool_record_status(true);
        QCOMPARE(record->toolTip(), QString("Record Stop"));
        QCOMPARE(record->styleSheet(), QString("QPushButton{image: url(:/icon/icon/icon_record_stop.png)}"));
        QTRY_VERIFY(clock->text().startsWith("Record : 00m0"));
        record->click();
        QCOMPARE(requests.count(), 3);
        QCOMPARE(requests.at(2).at(0).toBool(), false);
        QVERIFY(clock->isHidden());
        QVERIFY(clock->text().isEmpty());

        bar.get_tool_record_status(false);
        QCOMPARE(record->toolTip(), QString("Record"));
        QCOMPARE(record->styleSheet(), QString("QPushButton{image: url(:/icon/icon/icon_record.png)}"));
    }

    void refused_recording_stops_the_clock() {
        tool_playbar bar;
        // The main window answers a request at once; a refusal leaves no clock running.
        connect(&bar, &tool_playbar::send_tool_record, &bar, [&](bool) { bar.get_tool_record_status(false); });
        child<QPushButton>(bar, "btn_record")->click();
        QVERIFY(child<QLineEdit>(bar, "le_frame")->isHidden());
        QCOMPARE(child<QPushButton>(bar, "btn_record")->toolTip(), QString("Record"));
    }

    // The clock counts the recording, not the time the directory dialog was open.
    void record_clock_starts_with_the_recording() {
        tool_playbar bar;
        connect(&bar, &tool_playbar::send_tool_record, &bar, [&](bool on) {
            if (!on)
                return;
            QTest::qWait(1200);  // the user picks a directory
            bar.get_tool_record_status(true);
        });
        child<QPushButton>(bar, "btn_record")->click();
        auto* clock = child<QLineEdit>(bar, "le_frame");
        QVERIFY(!clock->isHidden());
        QCOMPARE(clock->text(), QString("Record : 00m00s"));
    }

    void record_clock_shows_minutes_and_seconds() {
        QCOMPARE(tool_playbar::record_clock_text(0), QString("Record : 00m00s"));
        QCOMPARE(tool_playbar::record_clock_text(999), QString("Record : 00m00s"));
        QCOMPARE(tool_playbar::record_clock_text(65000), QString("Record : 01m05s"));
        QCOMPARE(tool_playbar::record_clock_text(59 * 60000 + 59999), QString("Record : 59m59s"));
        QCOMPARE(tool_playbar::record_clock_text(3600000 + 5000), QString("Record : 00m05s"));  // the hour is not shown
    }

    void capture_emits_the_chosen_path_and_nothing_when_cancelled() {
        tool_playbar bar;
        QSignalSpy capture(&bar, &tool_playbar::send_tool_capture);
        ModalAnswerer answers;
        answers.answer_file("");
        child<QPushButton>(bar, "btn_capture")->click();
        QCOMPARE(capture.count(), 0);
        QTemporaryDir dir;
        const QString path = dir.path() + "/scene1";
        answers.answer_file(path);
        child<QPushButton>(bar, "btn_capture")->click();
        QCOMPARE(capture.count(), 1);
        QCOMPARE(capture.at(0).at(0).toString(), path);
        QCOMPARE(answers.file_requests.size(), size_t(2));
        QCOMPARE(answers.file_requests[0].caption, QString("Save current point cloud / images"));
    }
};

QTEST_MAIN(TestToolPlaybar)
#include "test_tool_playbar.moc"
