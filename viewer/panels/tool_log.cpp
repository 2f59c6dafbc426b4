#include "panels/tool_log.hpp"

#include <QDir>
#include <QFileDialog>
#include <QTextStream>

#include "ui_tool_log.h"

tool_log::tool_log(QWidget* parent) : QWidget(parent), ui(new Ui::tool_log) {
    ui->setupUi(this);
}

tool_log::~tool_log() {
    delete ui;
}

QString tool_log::stamp_line(const QDateTime& when, const QString& msg) {
    return when.toString("[hh:mm:ss] ") + msg;
}

QString tool_log::text() const {
    return ui->te_log->toPlainText();
}

void tool_log::get_tool_log(QString msg) {
    ui->te_log->append(stamp_line(QDateTime::currentDateTime(), msg));
}

void tool_log::on_btn_save_log_file_clicked() {
    const QString name =
        QFileDialog::getSaveFileName(this, tr("Save log file"), QDir::homePath(), tr("Log File (*.txt"));
    file_.setFileName(name);
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Text | QIODevice::Truncate))
        return;
    QTextStream out(&file_);
    out << ui->te_log->toPlainText();
    out.flush();
    file_.close();
}

void tool_log::on_btn_clear_clicked() {
    ui->te_log->clear();
}
