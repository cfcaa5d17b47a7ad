#include "AppModelParts.h"

namespace tavrin::app {

namespace {

constexpr auto presetKey = "preset";
constexpr auto dualMonoKey = "dualMono";
constexpr auto outputFolderKey = "outputFolder";
constexpr auto paperKey = "paperSize";
constexpr auto copyFormatKey = "copyFormat";
constexpr auto damagedAudioKey = "damagedAudio";
constexpr auto customTargetsKey = "customTargets";

} // namespace

void AppModel::loadSettings() {
    // Stored ids are checked like any text from a file: unknown ones and repeats are dropped.
    for (const QString& id : m_settings->value(customTargetsKey).toStringList()) {
        if (m_customSpecs.size() == customSpecLimit)
            break;
        if (const auto spec = Workflow::customSpecForId(id.toStdString());
            spec &&
            std::ranges::find(m_customSpecs, spec->id, &DeliverySpec::id) == m_customSpecs.end())
            m_customSpecs.push_back(*spec);
    }
    if (const QVariant stored = m_settings->value(presetKey); stored.canConvert<QString>())
        if (const auto spec = Workflow::specForId(stored.toString().toStdString())) {
            m_specID = spec->id;
            m_spec = *spec;
            if (!DeliverySpec::preset(m_specID))
                rememberCustomSpec(m_spec);
        }
    m_dualMono = m_settings->value(dualMonoKey, false).toBool();
    m_a4Paper = m_settings->value(paperKey).toString() == QStringLiteral("a4");
    if (m_settings->value(copyFormatKey).toString() == QStringLiteral("original"))
        m_copyFormat = GainWriter::CopyFormat::original;
    // Anything but a stored "warns" keeps the safe default: damage fails.
    if (m_settings->value(damagedAudioKey).toString() == QStringLiteral("warns"))
        m_damagePolicy = DamagePolicy::warn;
    const QVariant folder = m_settings->value(outputFolderKey);
    setOutputFolder(folder.isValid() ? std::optional(toPath(folder.toString())) : std::nullopt);
}

void AppModel::writeSetting(const char* key, const std::optional<QVariant>& value) {
    if (!m_settings)
        return;
    if (value)
        m_settings->setValue(key, *value);
    else
        m_settings->remove(key);
}

void AppModel::setSpecID(const std::string& id) {
    writeSetting(presetKey, qs(id));
    const auto spec = Workflow::specForId(id);
    if (spec && !DeliverySpec::preset(id))
        rememberCustomSpec(*spec);
    if (id == m_specID)
        return;
    m_specID = id;
    m_spec = spec.value_or(DeliverySpec::ebuR128());
    emit specIDChanged();
}

void AppModel::rememberCustomSpec(const DeliverySpec& spec) {
    if (!m_customSpecs.empty() && m_customSpecs.front().id == spec.id)
        return;
    std::erase_if(m_customSpecs, [&](const DeliverySpec& other) { return other.id == spec.id; });
    m_customSpecs.insert(m_customSpecs.begin(), spec);
    if (m_customSpecs.size() > customSpecLimit)
        m_customSpecs.pop_back();
    QStringList ids;
    for (const DeliverySpec& remembered : m_customSpecs)
        ids << qs(remembered.id);
    writeSetting(customTargetsKey, ids);
    emit customSpecsChanged();
}

void AppModel::setDualMono(bool dualMono) {
    if (dualMono == m_dualMono || fixing())
        return;
    writeSetting(dualMonoKey, dualMono);
    m_dualMono = dualMono;
    emit dualMonoChanged();
    measureAgain();
}

void AppModel::setA4Paper(bool a4) {
    writeSetting(paperKey, a4 ? QStringLiteral("a4") : QStringLiteral("letter"));
    if (a4 == m_a4Paper)
        return;
    m_a4Paper = a4;
    emit paperChanged();
}

void AppModel::setCopyFormat(GainWriter::CopyFormat format) {
    const bool original = format == GainWriter::CopyFormat::original;
    writeSetting(copyFormatKey, original ? QStringLiteral("original") : QStringLiteral("wav"));
    if (format == m_copyFormat)
        return;
    m_copyFormat = format;
    emit copyFormatChanged();
}

void AppModel::setDamagePolicy(DamagePolicy policy) {
    const bool warns = policy == DamagePolicy::warn;
    writeSetting(damagedAudioKey, warns ? QStringLiteral("warns") : QStringLiteral("fails"));
    if (policy == m_damagePolicy)
        return;
    m_damagePolicy = policy;
    if (policy == DamagePolicy::warn)
        forgetDamageRefusals();
    emit damagePolicyChanged();
}

void AppModel::setOutputFolder(const std::optional<std::filesystem::path>& folder) {
    writeSetting(outputFolderKey,
                 folder ? std::optional<QVariant>(toQString(*folder)) : std::nullopt);
    if (folder == m_outputFolder)
        return;
    m_outputFolder = folder;
    emit outputFolderChanged();
}

} // namespace tavrin::app
