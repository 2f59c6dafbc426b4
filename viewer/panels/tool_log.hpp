#pragma once

#include <QDateTime>
#include <QFile>
#include <QString>
#include <QWidget>

namespace Ui {
class tool_log;
}

// The time-stamped log at the bottom of the main window.
class tool_log : public QWidget {
    Q_OBJECT

public:
    explicit tool_log(QWidget* parent = nullptr);
    ~tool_log() override;

    // "[hh:mm:ss] " in local 24-hour time, then the message.
    static QString stamp_line(const QDateTime& when, const QString& msg);
    QString text() const;

public slots:
    void get_tool_log(QString msg);

private slots:
    void on_btn_save_log_file_clicked();
    void on_btn_clear_clicked();

private:
    Ui::tool_log* ui;
    QFile file_;
};
