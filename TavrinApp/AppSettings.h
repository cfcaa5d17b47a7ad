#pragma once

#include "Theme.h"
#include "tavrin/copies/GainWriter.h"
#include "tavrin/reports/Report.h"
#include "tavrin/rules/DeliverySpec.h"
#include "tavrin/rules/Verdict.h"
#include "tavrin/workflow/FileStamp.h"

#include <QVariant>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

class QSettings;

namespace tavrin::app {

/// The settings the app keeps between runs, and the one place that knows their keys and how
/// they are stored. Without a store it starts from the defaults and never writes. Setters store
/// what they are given and say whether the value changed; the model tells the windows.
class AppSettings {
public:
    explicit AppSettings(QSettings* settings);

    bool persist() const { return m_settings != nullptr; }

    const std::string& specID() const { return m_specID; }
    /// The preset or custom target `specID` names, or the default preset when it names none.
    const DeliverySpec& spec() const { return m_spec; }
    const std::vector<DeliverySpec>& customSpecs() const { return m_customSpecs; }
    static constexpr std::size_t customSpecLimit = 5;
    /// What making a spec current changed.
    struct SpecChange {
        bool customSpecs = false;
        bool spec = false;
    };
    /// Makes `id` current; a custom target goes to the front of `customSpecs`. Making a named
    /// target current again after its numbers changed counts as a change of spec.
    SpecChange setSpecID(const std::string& id);
    /// The named targets, in the order they were made.
    const std::vector<DeliverySpec>& namedTargets() const { return m_namedTargets; }
    void setNamedTargets(std::vector<DeliverySpec> targets);
    static constexpr std::size_t namedTargetLimit = 200;
    /// The preset, custom or named target `id` names; absent when it names none.
    std::optional<DeliverySpec> specFor(std::string_view id) const;

    bool dualMono() const { return m_dualMono; }
    bool setDualMono(bool dualMono);
    bool a4Paper() const { return m_a4Paper; }
    bool setA4Paper(bool a4);
    const std::optional<std::filesystem::path>& outputFolder() const { return m_outputFolder; }
    bool setOutputFolder(const std::optional<std::filesystem::path>& folder);
    GainWriter::CopyFormat copyFormat() const { return m_copyFormat; }
    bool setCopyFormat(GainWriter::CopyFormat format);
    DamagePolicy damagePolicy() const { return m_damagePolicy; }
    bool setDamagePolicy(DamagePolicy policy);
    /// How the windows look: as the desktop has them, light or dark.
    Theme::Appearance appearance() const { return m_appearance; }
    bool setAppearance(Theme::Appearance appearance);
    /// Whether Fix limits the files gain alone can't fix fully, rather than leaving them.
    bool limitWhereGainCant() const { return m_limitWhereGainCant; }
    bool setLimitWhereGainCant(bool limit);

    /// Where the panels open: the folder files were last added from, and the one the last report
    /// went to; empty when none is stored.
    std::filesystem::path addFilesFolder() const;
    void setAddFilesFolder(const std::filesystem::path& folder);
    std::filesystem::path exportFolder() const;
    void setExportFolder(const std::filesystem::path& folder);

    /// Who signs the PDF report off, and whether it adds a page with each file's loudness over
    /// time: remembered from one export to the next.
    const Report::SignOff& signOff() const { return m_signOff; }
    void setSignOff(const Report::SignOff& signOff);
    bool graphsInReports() const { return m_graphsInReports; }
    void setGraphsInReports(bool graphs);

    /// How a session saved now has its files verified when it is opened again.
    Session::Verify sessionVerify() const { return m_sessionVerify; }
    bool setSessionVerify(Session::Verify how);
    /// The sessions opened or saved last, most recent first, at most `recentSessionLimit`.
    std::vector<std::filesystem::path> recentSessions() const;
    void addRecentSession(const std::filesystem::path& session);
    static constexpr int recentSessionLimit = 8;

private:
    void load();
    void write(const char* key, const std::optional<QVariant>& value);
    /// Writes `stored` under `key` and keeps `value` in `member`; whether that changed it.
    template <typename T>
    bool store(const char* key, const std::optional<QVariant>& stored, T& member, const T& value) {
        write(key, stored);
        if (member == value)
            return false;
        member = value;
        return true;
    }
    std::filesystem::path storedFolder(const char* key) const;
    /// Puts `spec` at the front of `customSpecs`; whether that changed them.
    bool rememberCustomSpec(const DeliverySpec& spec);

    QSettings* m_settings;
    std::string m_specID = DeliverySpec::ebuR128().id;
    DeliverySpec m_spec = DeliverySpec::ebuR128();
    std::vector<DeliverySpec> m_customSpecs;
    std::vector<DeliverySpec> m_namedTargets;
    bool m_dualMono = false;
    bool m_a4Paper = false;
    std::optional<std::filesystem::path> m_outputFolder;
    GainWriter::CopyFormat m_copyFormat = GainWriter::CopyFormat::wav;
    DamagePolicy m_damagePolicy = DamagePolicy::fail;
    Session::Verify m_sessionVerify = Session::Verify::onlyWhenChanged;
    Report::SignOff m_signOff;
    bool m_graphsInReports = false;
    bool m_limitWhereGainCant = false;
    Theme::Appearance m_appearance = Theme::Appearance::system;
};

} // namespace tavrin::app
