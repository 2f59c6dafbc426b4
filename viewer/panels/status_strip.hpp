#pragma once

#include <QString>
#include <QWidget>

class QLabel;

// The strip at the foot of the window: what the source is (connecting,
// connected, playing) and its rates - the sensor's frame rate, the frames
// the window displayed, datagram loss and data rate.
class status_strip : public QWidget {
    Q_OBJECT

public:
    explicit status_strip(QWidget* parent = nullptr);

    void set_source(const QString& text);
    // Negative values are unknown and shown as "-".
    void set_rates(double sensor_fps, double display_fps, double loss_percent, double megabytes_per_s);
    QString source_text() const;
    // All fields in one line, as the strip shows them.
    QString text() const;

private:
    QLabel* source_;
    QLabel* sensor_fps_;
    QLabel* display_fps_;
    QLabel* loss_;
    QLabel* data_rate_;
};
