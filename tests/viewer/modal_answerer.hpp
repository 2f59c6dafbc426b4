#pragma once

#include <functional>
#include <vector>

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QLineEdit>
#include <QTimer>

// Answers the modal dialogs that the windows open while a test drives them:
// every message box is recorded and closed with its default button, every
// file dialog takes the next queued answer (a path to choose, or an empty
// text to cancel). Create it before the action that opens the dialogs; it
// polls from inside their event loops. Tests set Qt::AA_DontUseNativeDialogs
// so that the file dialogs are Qt's own.
class ModalAnswerer : public QObject {
public:
    struct Box {
        QMessageBox::Icon icon;
        QString title;
        QString text;
    };
    struct FileAnswer {
        QString path;                // empty: cancel
        std::function<void()> then;  // runs right after the dialog was accepted
    };

    std::vector<Box> boxes;
    std::vector<FileAnswer> file_answers;
    struct FileRequest {
        QString caption;
        bool dirs_only;
    };
    std::vector<FileRequest> file_requests;

    ModalAnswerer() {
        timer_.setInterval(10);
        connect(&timer_, &QTimer::timeout, this, &ModalAnswerer::poll);
        timer_.start();
    }

    void answer_file(const QString& path, std::function<void()> then = {}) {
        file_answers.push_back({path, std::move(then)});
    }

    QString last_text() const { return boxes.empty() ? QString() : boxes.back().text; }

private:
    void poll() {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            boxes.push_back({box->icon(), box->windowTitle(), box->text()});
            if (QAbstractButton* ok = box->button(QMessageBox::Ok))
                ok->click();
            else
                box->reject();
            return;
        }
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (!dialog)
            return;
        file_requests.push_back({dialog->windowTitle(), dialog->testOption(QFileDialog::ShowDirsOnly)});
        if (file_answers.empty() || file_answers.front().path.isEmpty()) {
            if (!file_answers.empty())
                file_answers.erase(file_answers.begin());
            dialog->reject();
            return;
        }
        const FileAnswer answer = file_answers.front();
        file_answers.erase(file_answers.begin());
        // Typed as a user would: selectFile leaves a focused name field alone
        // and selects through the file model, which fills asynchronously.
        if (auto* name = dialog->findChild<QLineEdit*>("fileNameEdit"))
            name->setText(answer.path);
        else
            dialog->selectFile(answer.path);
        static_cast<QDialog*>(dialog)->accept();  // QFileDialog hides it
        if (answer.then)
            answer.then();
    }

    QTimer timer_;
};
