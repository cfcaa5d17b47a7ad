#pragma once

// A model over real settings and real files in a temporary folder, for tests of the windows.

#include "AppModel.h"
#include "Paths.h"
#include "SampleFiles.h"
#include "ScriptedDesktop.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace tavrin::test {

struct AppFixture {
    QTemporaryDir folder;
    QSettings settings{folder.filePath("tavrin.ini"), QSettings::IniFormat};
    ScriptedDesktop desktop;
    app::AppModel model{desktop, &settings, 2};

    std::filesystem::path path(const QString& name) const {
        return app::toPath(folder.filePath(name));
    }
    /// A stereo tone reading `lufs` LUFS (see `writeTone`).
    std::filesystem::path tone(const QString& name, double lufs,
                               std::optional<double> clickDBFS = std::nullopt) const {
        writeTone(path(name), lufs, 3, clickDBFS);
        return path(name);
    }
    /// Adds `files` and waits until every row is measured.
    bool addAndMeasure(const std::vector<std::filesystem::path>& files) {
        model.addFiles(files);
        return QTest::qWaitFor([this] { return !model.isBusy(); }, 20000);
    }
    bool fixAndWait() {
        model.fixFiles();
        return QTest::qWaitFor([this] { return !model.fixing(); }, 20000);
    }
};

} // namespace tavrin::test
