// Replays in the main window of recordings this test writes itself (the
// simulated room, 20 frames a second, every datagram present): the pace at
// 1x and 2x in displayed frames, the replay keys, a dropped file, and a
// second recording opened after the first.
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QSurfaceFormat>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include <QVTKOpenGLNativeWidget.h>
#include <vtkLogger.h>

#include "main_window/main_window.hpp"
#include "modal_answerer.hpp"
#include "panels/tool_playbar.hpp"
#include "sim_recording.hpp"

namespace {

QString frame_text(MainWindow& w) {
    return w.play_bar()->findChild<QLineEdit*>("le_frame_control")->text();
}

void click(MainWindow& w, const char* name) {
    w.play_bar()->findChild<QPushButton*>(name)->click();
}

// Drags `path` onto the window and drops it there.
void drop_file(MainWindow& w, const QString& path) {
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(path)});
    const QPoint at = w.rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &drop);
}

}  // namespace

class TestMainWindowReplay : public QObject {
    Q_OBJECT

    QTemporaryDir work_;
    QString long_, short_;  // 100 and 20 frames

private slots:
    void initTestCase() {
        vtkLogger::SetStderrVerbosity(vtkLogger::VERBOSITY_ERROR);
        QVERIFY(QDir::setCurrent(work_.path()));
        long_ = work_.filePath("long.bin");
        short_ = work_.filePath("short.bin");
        QVERIFY(sim_recording::write_room(long_.toStdString(), 100, 20.0));
        QVERIFY(sim_recording::write_room(short_.toStdString(), 20, 20.0, 2));
    }

    // The displayed rate over a whole pass of 100 frames: 20 fps at 1x and
    // 40 at 2x, within 5 %.
    void replay_runs_at_the_recorded_rate_times_the_speed() {
        MainWindow w;
        w.resize(1000, 750);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QElapsedTimer clock;
        clock.start();
        QVector<qint64> shown_ms;
        connect(&w, &MainWindow::send_main_data, [&](VELKOR::LidarTQ::scene_t&) { shown_ms << clock.elapsed(); });
        w.start_replay(long_);
        QTRY_VERIFY(w.connected());
        for (const double speed : {1.0, 2.0}) {
            click(w, "btn_stop");
            QTRY_COMPARE(frame_text(w), QString("Frame : [0/100]"));
            w.play_bar()->findChild<QDoubleSpinBox*>("sb_speed")->setValue(speed);
            QTest::qWait(100);
            shown_ms.clear();
            click(w, "btn_play");
            QTRY_COMPARE_WITH_TIMEOUT(frame_text(w), QString("Frame : [100/100]"), 15000);
            QTest::qWait(200);
            QCOMPARE(shown_ms.size(), 100);  // every frame of the file, once
            const double fps = 99.0 * 1000.0 / static_cast<double>(shown_ms.back() - shown_ms.front());
            qInfo("speed %.1f: 100 frames displayed at %.2f fps", speed, fps);
            QVERIFY2(std::abs(fps - 20.0 * speed) <= 1.0 * speed, qPrintable(QString::number(fps)));
        }
    }

    // Home and End go to the first and last frame, Left and Right one frame
    // back and on, each shown at once; Space plays and pauses.
    void replay_keys_move_through_the_recording() {
        MainWindow w;
        w.show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.start_replay(short_);
        QTRY_VERIFY(w.connected());
        const auto key = [&](Qt::Key k, const QString& expected) {
            const uint64_t before = w.frames_displayed();
            QTest::keyClick(&w, k);
            QTRY_VERIFY(w.frames_displayed() > before);
            QCOMPARE(frame_text(w), expected);
        };
        key(Qt::Key_End, "Frame : [20/20]");
        key(Qt::Key_Right, "Frame : [20/20]");  // no frame after the last
        key(Qt::Key_Left, "Frame : [19/20]");
        key(Qt::Key_Home, "Frame : [1/20]");
        key(Qt::Key_Right, "Frame : [2/20]");
        key(Qt::Key_Left, "Frame : [1/20]");
        key(Qt::Key_Left, "Frame : [1/20]");  // none before the first

        QTest::keyClick(&w, Qt::Key_Space);
        QTRY_VERIFY(frame_text(w) != "Frame : [1/20]");
        QTest::keyClick(&w, Qt::Key_Space);
        QTest::qWait(150);
        const QString paused = frame_text(w);
        QTest::qWait(300);
        QCOMPARE(frame_text(w), paused);
    }

    // A dropped recording plays; one dropped after it starts at its own
    // first frame, wherever the first had got to.
    void dropped_recordings_play_from_their_first_frame() {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        ModalAnswerer answers;
        drop_file(w, long_);
        QTRY_VERIFY(w.connected());
        QCOMPARE(frame_text(w), QString("Frame : [0/100]"));
        click(w, "btn_play");
        QTRY_VERIFY_WITH_TIMEOUT(w.frames_displayed() >= 30, 10000);
        click(w, "btn_pause");

        QList<uint64_t> positions;
        connect(w.play_bar(), &tool_playbar::send_tool_current_frame, [&](uint64_t v) { positions << v; });
        drop_file(w, short_);
        QTRY_COMPARE(frame_text(w), QString("Frame : [0/20]"));
        QTRY_VERIFY(w.connected());
        QCOMPARE(w.recent_files().front(), QFileInfo(short_).absoluteFilePath());
        positions.clear();
        click(w, "btn_play");
        QTRY_VERIFY_WITH_TIMEOUT(w.frames_displayed() >= 3, 5000);
        QVERIFY(!positions.isEmpty());
        QCOMPARE(positions.front(), uint64_t(1));  // frame 0 was asked for first
        QVERIFY(answers.boxes.empty());

        // Something that is no recording is not taken.
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(work_.filePath("notes.txt"))});
        QDragEnterEvent enter(w.rect().center(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&w, &enter);
        QVERIFY(!enter.isAccepted());
    }
};

int main(int argc, char** argv) {
    QSurfaceFormat::setDefaultFormat(QVTKOpenGLNativeWidget::defaultFormat());
    QApplication app(argc, argv);
    TestMainWindowReplay test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_main_window_replay_gl.moc"
