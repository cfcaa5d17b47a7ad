#pragma once

#include <QString>

/// What the app says of damaged audio, of the copies made of it, and of the setting that decides
/// whether damage fails a file.
namespace tavrin::app::DamageTexts {

/// The command that writes copies of damaged files that Fix left alone.
inline QString fixAnyway() {
    return QStringLiteral("Fix Anyway");
}

/// The Fix cell of a damaged file a fix left alone; its tooltip has the whole sentence.
inline QString notFixedLabel() {
    return QStringLiteral("Damaged, not fixed");
}

/// The line under a copy's name: "Copy of Episode 12.wav".
inline QString copyOf(const QString& original) {
    return "Copy of " + original;
}

/// Said over that line before the sentences of what was found in the original.
inline QString foundInOriginal() {
    return QStringLiteral("Found in the original:");
}

/// Said over that line when the original's findings hold nothing at all.
inline QString noDamageInOriginal() {
    return QStringLiteral("No damage was found in the original.");
}

/// The plan's tooltip for a damaged file that Fix leaves alone while damage fails files.
inline QString planLeftAlone() {
    return QStringLiteral("Fix leaves this file alone because its audio is damaged; Fix Anyway "
                          "would apply this gain to a new file.");
}

/// The setting: its label, its two choices in the order of DamagePolicy, and what it means.
inline QString settingLabel() {
    return QStringLiteral("Damaged audio");
}

inline QString failsChoice() {
    return QStringLiteral("Fails the file");
}

inline QString warnsChoice() {
    return QStringLiteral("Only warns");
}

inline QString settingExplanation() {
    return QStringLiteral("Cut-off or undecodable audio, a damaged container, clipping and "
                          "drop-outs are damage. When it fails the file, Fix leaves the file alone "
                          "unless you choose Fix Anyway. A DC offset or a phase problem only ever "
                          "warns.");
}

} // namespace tavrin::app::DamageTexts
