#pragma once
// A whole main window in a temporary working folder, with its information boxes captured.
#include "app/TFCOMM.h"
#include "session/MeterSession.h"

#include <QDir>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace rd780::test {

struct WindowFixture {
    QTemporaryDir dir;
    QString oldCwd = QDir::currentPath();
    QStringList messages;
    QStringList questions; // New's questions, answered with nextAnswer
    QMessageBox::StandardButton nextAnswer = QMessageBox::Ok;
    std::unique_ptr<TFCOMM> w;

    explicit WindowFixture(ProgramOptions options = {}) {
        QDir::setCurrent(dir.path());
        options.messageHook = [this](const QString& m) { messages << m; };
        options.questionHook = [this](const QString& text, QMessageBox::StandardButton) {
            questions << text;
            return nextAnswer;
        };
        w = std::make_unique<TFCOMM>(options);
    }
    ~WindowFixture() {
        w.reset();
        QDir::setCurrent(oldCwd);
    }
};

} // namespace rd780::test
