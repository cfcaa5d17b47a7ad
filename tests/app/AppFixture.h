#pragma once

// A model over real settings and real files in a temporary folder, for tests of the model and the
// windows.

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
    app::AppModel model;

    /// `processors` sets how many files the model measures at once.
    explicit AppFixture(unsigned processors = 2) : model(desktop, &settings, processors) {}

    std::filesystem::path path(const QString& name) const {
        return app::toPath(folder.filePath(name));
    }
    /// A stereo tone reading `lufs` LUFS (see `writeTone`).
    std::filesystem::path tone(const QString& name, double lufs, double seconds = 1,
                               std::optional<double> clickDBFS = std::nullopt) const {
        return writeTone(path(name), lufs, seconds, clickDBFS);
    }
    /// Adds `files` and waits until they are listed.
    bool add(const std::vector<std::filesystem::path>& files) {
        model.addFiles(files);
        return QTest::qWaitFor([this] { return !model.adding(); }, 30000);
    }
    /// Adds `files` and waits until every row is measured.
    bool addAndMeasure(const std::vector<std::filesystem::path>& files) {
        model.addFiles(files);
        return settled();
    }
    /// Lets the event loop run until every addition is listed, every row measured and no fix run
    /// is left.
    bool settled() {
        return QTest::qWaitFor(
            [this] { return !model.adding() && !model.isBusy() && !model.fixing(); }, 30000);
    }
};

/// An alert's title and message.
using Alert = std::pair<QString, QString>;

/// The alert's title and message, dismissed; both empty when there is none.
inline Alert takeAlert(app::AppModel& model) {
    Alert shown;
    if (model.alert())
        shown = {model.alert()->title, model.alert()->message};
    model.dismissAlert();
    return shown;
}

inline Alert alert(std::string_view title, const std::string& message) {
    return {app::qs(title), app::qs(message)};
}

/// The row's copy for EBU R 128, when one was written or found.
inline const app::FileItem::FixState::Done* done(const app::FileItem& item) {
    const auto* fix = item.fixFor(DeliverySpec::ebuR128().id);
    return fix ? std::get_if<app::FileItem::FixState::Done>(&fix->value) : nullptr;
}

} // namespace tavrin::test
