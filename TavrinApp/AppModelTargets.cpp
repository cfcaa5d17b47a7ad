#include "AppModel.h"
#include "AppTexts.h"
#include "Paths.h"
#include "tavrin/reports/Report.h"
#include "tavrin/workflow/TargetFiles.h"

#include <algorithm>
#include <stdexcept>

namespace tavrin::app {

namespace {

const FileType targetType{QStringLiteral("Tavrin target"), QStringLiteral("json")};

} // namespace

void AppModel::putNamedTarget(const std::string& replacing, const DeliverySpec& target) {
    auto targets = namedTargets();
    const auto old = std::ranges::find(targets, replacing, &DeliverySpec::id);
    if (old != targets.end())
        *old = target;
    else
        targets.push_back(target);
    m_settings.setNamedTargets(std::move(targets));
    emit customSpecsChanged();
    if (specID() == replacing || specID() == target.id)
        setSpecID(target.id);
}

void AppModel::removeNamedTarget(const std::string& id) {
    auto targets = namedTargets();
    std::erase_if(targets, [&id](const DeliverySpec& target) { return target.id == id; });
    m_settings.setNamedTargets(std::move(targets));
    emit customSpecsChanged();
    if (specID() == id)
        setSpecID(DeliverySpec::ebuR128().id);
}

std::string AppModel::freeTargetName(const std::string& name) const {
    // Room for the number within the longest name, cut between characters.
    std::string base = name;
    for (std::size_t points = 0, i = 0; i < base.size(); ++i)
        if ((static_cast<unsigned char>(base[i]) & 0xc0) != 0x80 && ++points > 75) {
            base.resize(i);
            break;
        }
    std::string free = name;
    for (int n = 2; m_settings.specFor(Workflow::namedTargetId(free)); ++n)
        free = base + " " + std::to_string(n);
    return free;
}

DeliverySpec AppModel::keepTarget(DeliverySpec target) {
    if (const auto kept = m_settings.specFor(target.id); kept && *kept != target) {
        target.name = freeTargetName(target.name);
        target = Workflow::targetFromJson(Workflow::targetToJson(target));
    }
    putNamedTarget(target.id, target);
    return target;
}

void AppModel::importTarget(std::function<void(const DeliverySpec&)> imported) {
    m_desktop.chooseOpenFile(AppTexts::importTargetTitle(), m_settings.exportFolder(), targetType,
                             [this, imported = std::move(imported)](std::filesystem::path path) {
                                 try {
                                     imported(keepTarget(Workflow::readTargetFile(path)));
                                 } catch (const std::invalid_argument& error) {
                                     setAlert(AppTexts::cantImportTargetTitle(), qs(error.what()));
                                 }
                             });
}

void AppModel::exportTarget(const DeliverySpec& target) {
    m_desktop.chooseSaveFile(AppTexts::exportTargetTitle(), m_settings.exportFolder(),
                             qs(target.name) + "." + targetType.suffix, targetType,
                             [this, target](std::filesystem::path path) {
                                 try {
                                     Report::save(path, Workflow::targetToJson(target));
                                     m_settings.setExportFolder(path.parent_path());
                                 } catch (const std::system_error& error) {
                                     setAlert(
                                         AppTexts::cantExportTargetTitle(),
                                         qs(Workflow::cantSaveReportMessage(path, error.code())));
                                 }
                             });
}

} // namespace tavrin::app
