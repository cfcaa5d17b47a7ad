#include "AppSettings.h"

#include "Paths.h"
#include "tavrin/workflow/Workflow.h"

#include <QSettings>
#include <algorithm>

namespace tavrin::app {

namespace {

constexpr auto presetKey = "preset";
constexpr auto dualMonoKey = "dualMono";
constexpr auto outputFolderKey = "outputFolder";
constexpr auto paperKey = "paperSize";
constexpr auto copyFormatKey = "copyFormat";
constexpr auto damagedAudioKey = "damagedAudio";
constexpr auto customTargetsKey = "customTargets";
constexpr auto namedTargetsKey = "namedTargets";
constexpr auto addFilesFolderKey = "addFilesFolder";
constexpr auto exportFolderKey = "exportFolder";
constexpr auto sessionVerifyKey = "sessionVerify";
constexpr auto recentSessionsKey = "recentSessions";
constexpr auto operatorKey = "report/operator";
constexpr auto jobKey = "report/job";
constexpr auto notesKey = "report/notes";
constexpr auto graphsKey = "report/graphs";
constexpr auto gainCantKey = "whenGainCant";
constexpr auto appearanceKey = "appearance";

} // namespace

AppSettings::AppSettings(QSettings* settings) : m_settings(settings) {
    if (m_settings)
        load();
}

void AppSettings::load() {
    // Stored ids are checked like any text from a file: unknown ones and repeats are dropped.
    for (const QString& id : m_settings->value(customTargetsKey).toStringList()) {
        if (m_customSpecs.size() == customSpecLimit)
            break;
        if (const auto spec = Workflow::customSpecForId(id.toStdString());
            spec &&
            std::ranges::find(m_customSpecs, spec->id, &DeliverySpec::id) == m_customSpecs.end())
            m_customSpecs.push_back(*spec);
    }
    // Named targets are read like target files: a damaged or repeated one is dropped.
    for (const QString& document : m_settings->value(namedTargetsKey).toStringList()) {
        if (m_namedTargets.size() == namedTargetLimit)
            break;
        try {
            DeliverySpec target = Workflow::targetFromJson(document.toStdString());
            if (!specFor(target.id))
                m_namedTargets.push_back(std::move(target));
        } catch (const std::invalid_argument&) {
        }
    }
    if (const QVariant stored = m_settings->value(presetKey); stored.canConvert<QString>())
        if (const auto spec = specFor(stored.toString().toStdString())) {
            m_specID = spec->id;
            m_spec = *spec;
            if (Workflow::customSpecForId(m_specID))
                rememberCustomSpec(m_spec);
        }
    m_dualMono = m_settings->value(dualMonoKey, false).toBool();
    m_a4Paper = m_settings->value(paperKey).toString() == QStringLiteral("a4");
    if (m_settings->value(copyFormatKey).toString() == QStringLiteral("original"))
        m_copyFormat = GainWriter::CopyFormat::original;
    // Anything but a stored "warns" keeps the safe default: damage fails.
    if (m_settings->value(damagedAudioKey).toString() == QStringLiteral("warns"))
        m_damagePolicy = DamagePolicy::warn;
    const auto text = [this](const char* key) {
        return m_settings->value(key).toString().toStdString();
    };
    m_signOff = {text(operatorKey), text(jobKey), text(notesKey)};
    m_graphsInReports = m_settings->value(graphsKey, false).toBool();
    const QString appearance = m_settings->value(appearanceKey).toString();
    if (appearance == QStringLiteral("light") || appearance == QStringLiteral("dark"))
        m_appearance = appearance == QStringLiteral("dark") ? Theme::Appearance::dark
                                                            : Theme::Appearance::light;
    // Anything but a stored "limit" keeps the described default: such files are left.
    m_limitWhereGainCant = m_settings->value(gainCantKey).toString() == QStringLiteral("limit");
    if (m_settings->value(sessionVerifyKey).toString() == QStringLiteral("always"))
        m_sessionVerify = Session::Verify::always;
    const QVariant folder = m_settings->value(outputFolderKey);
    setOutputFolder(folder.isValid() ? std::optional(toPath(folder.toString())) : std::nullopt);
}

void AppSettings::write(const char* key, const std::optional<QVariant>& value) {
    if (!m_settings)
        return;
    if (value)
        m_settings->setValue(key, *value);
    else
        m_settings->remove(key);
}

std::filesystem::path AppSettings::storedFolder(const char* key) const {
    // Only an absolute path, whatever else the file holds.
    const QVariant stored = m_settings ? m_settings->value(key) : QVariant();
    const auto folder =
        stored.typeId() == QMetaType::QString ? toPath(stored.toString()) : std::filesystem::path();
    return folder.is_absolute() ? folder : std::filesystem::path();
}

AppSettings::SpecChange AppSettings::setSpecID(const std::string& id) {
    write(presetKey, qs(id));
    SpecChange change;
    const auto spec = specFor(id);
    if (spec && Workflow::customSpecForId(id))
        change.customSpecs = rememberCustomSpec(*spec);
    const DeliverySpec current = spec.value_or(DeliverySpec::ebuR128());
    if (id == m_specID && current == m_spec)
        return change;
    m_specID = id;
    m_spec = current;
    change.spec = true;
    return change;
}

std::optional<DeliverySpec> AppSettings::specFor(std::string_view id) const {
    if (!Workflow::isNamedTargetId(id))
        return Workflow::specForId(id);
    const auto named = std::ranges::find(m_namedTargets, id, &DeliverySpec::id);
    return named == m_namedTargets.end() ? std::nullopt : std::optional(*named);
}

void AppSettings::setNamedTargets(std::vector<DeliverySpec> targets) {
    QStringList documents;
    for (const DeliverySpec& target : targets)
        documents << qs(Workflow::targetToJson(target));
    write(namedTargetsKey, documents);
    m_namedTargets = std::move(targets);
}

bool AppSettings::rememberCustomSpec(const DeliverySpec& spec) {
    if (!m_customSpecs.empty() && m_customSpecs.front().id == spec.id)
        return false;
    std::erase_if(m_customSpecs, [&](const DeliverySpec& other) { return other.id == spec.id; });
    m_customSpecs.insert(m_customSpecs.begin(), spec);
    if (m_customSpecs.size() > customSpecLimit)
        m_customSpecs.pop_back();
    QStringList ids;
    for (const DeliverySpec& remembered : m_customSpecs)
        ids << qs(remembered.id);
    write(customTargetsKey, ids);
    return true;
}

bool AppSettings::setDualMono(bool dualMono) {
    return store(dualMonoKey, dualMono, m_dualMono, dualMono);
}

bool AppSettings::setA4Paper(bool a4) {
    return store(paperKey, a4 ? QStringLiteral("a4") : QStringLiteral("letter"), m_a4Paper, a4);
}

bool AppSettings::setCopyFormat(GainWriter::CopyFormat format) {
    const bool original = format == GainWriter::CopyFormat::original;
    return store(copyFormatKey, original ? QStringLiteral("original") : QStringLiteral("wav"),
                 m_copyFormat, format);
}

bool AppSettings::setDamagePolicy(DamagePolicy policy) {
    const bool warns = policy == DamagePolicy::warn;
    return store(damagedAudioKey, warns ? QStringLiteral("warns") : QStringLiteral("fails"),
                 m_damagePolicy, policy);
}

bool AppSettings::setOutputFolder(const std::optional<std::filesystem::path>& folder) {
    return store(outputFolderKey,
                 folder ? std::optional<QVariant>(toQString(*folder)) : std::nullopt,
                 m_outputFolder, folder);
}

std::filesystem::path AppSettings::addFilesFolder() const {
    return storedFolder(addFilesFolderKey);
}

void AppSettings::setAddFilesFolder(const std::filesystem::path& folder) {
    write(addFilesFolderKey, toQString(folder));
}

std::filesystem::path AppSettings::exportFolder() const {
    return storedFolder(exportFolderKey);
}

void AppSettings::setExportFolder(const std::filesystem::path& folder) {
    write(exportFolderKey, toQString(folder));
}

bool AppSettings::setSessionVerify(Session::Verify how) {
    const bool always = how == Session::Verify::always;
    return store(sessionVerifyKey,
                 always ? QStringLiteral("always") : QStringLiteral("onlyWhenChanged"),
                 m_sessionVerify, how);
}

std::vector<std::filesystem::path> AppSettings::recentSessions() const {
    std::vector<std::filesystem::path> sessions;
    const QVariant stored = m_settings ? m_settings->value(recentSessionsKey) : QVariant();
    for (const QString& text : stored.toStringList())
        if (const auto path = toPath(text);
            path.is_absolute() && static_cast<int>(sessions.size()) < recentSessionLimit)
            sessions.push_back(path);
    return sessions;
}

void AppSettings::addRecentSession(const std::filesystem::path& session) {
    QStringList sessions{toQString(session)};
    for (const auto& path : recentSessions())
        if (path != session && sessions.size() < recentSessionLimit)
            sessions << toQString(path);
    write(recentSessionsKey, sessions);
}

void AppSettings::setSignOff(const Report::SignOff& signOff) {
    write(operatorKey, qs(signOff.operatorName));
    write(jobKey, qs(signOff.job));
    write(notesKey, qs(signOff.notes));
    m_signOff = signOff;
}

void AppSettings::setGraphsInReports(bool graphs) {
    store(graphsKey, graphs, m_graphsInReports, graphs);
}

bool AppSettings::setLimitWhereGainCant(bool limit) {
    return store(gainCantKey, limit ? QStringLiteral("limit") : QStringLiteral("leave"),
                 m_limitWhereGainCant, limit);
}

bool AppSettings::setAppearance(Theme::Appearance appearance) {
    static const QString names[] = {QStringLiteral("system"), QStringLiteral("light"),
                                    QStringLiteral("dark")};
    return store(appearanceKey, names[static_cast<int>(appearance)], m_appearance, appearance);
}

} // namespace tavrin::app
