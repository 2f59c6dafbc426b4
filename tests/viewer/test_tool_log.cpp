#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>

#include "panels/tool_log.hpp"

class TestToolLog : public QObject {
    Q_OBJECT

private slots:
    void line_is_stamped_with_24_hour_local_time() {
        const QDateTime when(QDate(2026, 12, 8), QTime(14, 3, 7));
        QCOMPARE(tool_log::stamp_line(when, "[Stream mode] Connect TQ device"),
                 QString("[14:03:07] [Stream mode] Connect TQ device"));
        const QDateTime morning(QDate(2026, 12, 8), QTime(9, 0, 5));
        QCOMPARE(tool_log::stamp_line(morning, "x"), QString("[09:00:05] x"));
    }

    void each_message_is_one_paragraph_and_clear_empties() {
        tool_log log;
        log.get_tool_log("first");
        log.get_tool_log("second");
        const QStringList lines = log.text().split('\n');
        QCOMPARE(lines.size(), 2);
        const QRegularExpression stamped("^\\[\\d\\d:\\d\\d:\\d\\d\\] (first|second)$");
        QVERIFY(stamped.match(lines[0]).hasMatch());
        QVERIFY(lines[1].endsWith("] second"));
        auto* clear = log.findChild<QPushButton*>("btn_clear");
        QVERIFY(clear);
        QCOMPARE(clear->text(), QString("Clear"));
        clear->click();
        QVERIFY(log.text().isEmpty());
    }
};

QTEST_MAIN(TestToolLog)
#include "test_tool_log.moc"
