#include "AppModel.h"

namespace tavrin::app {

void AppModel::setSpecID(const std::string& id) {
    const AppSettings::SpecChange change = m_settings.setSpecID(id);
    if (change.customSpecs)
        emit customSpecsChanged();
    if (change.spec)
        emit specIDChanged();
}

void AppModel::setDualMono(bool dualMono) {
    if (fixing() || !m_settings.setDualMono(dualMono))
        return;
    emit dualMonoChanged();
    measureAgain();
}

void AppModel::setA4Paper(bool a4) {
    if (m_settings.setA4Paper(a4))
        emit paperChanged();
}

void AppModel::setCopyFormat(GainWriter::CopyFormat format) {
    if (m_settings.setCopyFormat(format))
        emit copyFormatChanged();
}

void AppModel::setDamagePolicy(DamagePolicy policy) {
    if (!m_settings.setDamagePolicy(policy))
        return;
    if (policy == DamagePolicy::warn)
        m_fixes.forgetDamageRefusals();
    emit damagePolicyChanged();
}

void AppModel::setAppearance(Theme::Appearance appearance) {
    if (m_settings.setAppearance(appearance))
        emit appearanceChanged();
}

void AppModel::setLimitWhereGainCant(bool limit) {
    if (m_settings.setLimitWhereGainCant(limit))
        emit limitWhereGainCantChanged();
}

void AppModel::setOutputFolder(const std::optional<std::filesystem::path>& folder) {
    if (m_settings.setOutputFolder(folder))
        emit outputFolderChanged();
}

} // namespace tavrin::app
