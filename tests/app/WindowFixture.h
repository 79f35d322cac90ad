#pragma once
// A whole main window in a temporary working folder, with its information boxes captured.
#include "app/TFCOMM.h"

#include <QDir>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace rd780::test {

struct WindowFixture {
    QTemporaryDir dir;
    QString oldCwd = QDir::currentPath();
    QStringList messages;
    std::unique_ptr<TFCOMM> w;

    explicit WindowFixture(ProgramOptions options = {}) {
        QDir::setCurrent(dir.path());
        options.messageHook = [this](const QString& m) { messages << m; };
        w = std::make_unique<TFCOMM>(options);
    }
    ~WindowFixture() {
        w.reset();
        QDir::setCurrent(oldCwd);
    }
};

} // namespace rd780::test
