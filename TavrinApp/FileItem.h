#pragma once

#include "tavrin/copies/GainWriter.h"
#include "tavrin/copies/Limiter.h"
#include "tavrin/core/Finding.h"
#include "tavrin/decode/Provenance.h"
#include "tavrin/meter/LoudnessResult.h"
#include "tavrin/meter/Timeline.h"
#include "tavrin/workflow/Session.h"

#include <QUuid>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tavrin::app {

/// One row of the file list: an original file, its measurement and its last fix.
struct FileItem {
    /// Where measuring the file stands.
    struct Reading {
        struct Waiting {
            bool operator==(const Waiting&) const = default;
        };
        struct Measuring {
            double fraction = 0; ///< last progress the file meter reported, 0…1
            bool operator==(const Measuring&) const = default;
        };
        struct Measured {
            LoudnessResult result;
            /// What is wrong with the file: its own findings, then its original's damage.
            std::vector<Finding> findings{};
            /// The record of the original, when the file is a copy Tavrin wrote.
            std::optional<Provenance> provenance{};
            /// Loudness over time; null once dropped to keep within the timelines' budget.
            std::shared_ptr<const Timeline> timeline{};
            /// The file as it was measured: its size and time, and its digest once a session
            /// needed it.
            std::optional<Session::FileStamp> stamp{};
            /// The timeline follows from the result, and dropping it changes nothing shown; the
            /// digest follows from the file, and is only worked out when a session needs it.
            bool operator==(const Measured& other) const {
                const auto sizeAndTime = [](const std::optional<Session::FileStamp>& s) {
                    return s ? std::optional(std::pair(s->size, s->modified)) : std::nullopt;
                };
                return result == other.result && findings == other.findings &&
                       provenance == other.provenance &&
                       sizeAndTime(stamp) == sizeAndTime(other.stamp);
            }
        };
        struct Failed {
            std::string message; ///< the reader's whole sentence
            bool operator==(const Failed&) const = default;
        };
        std::variant<Waiting, Measuring, Measured, Failed> value;
        bool operator==(const Reading&) const = default;
    };

    /// What the last fix of the row for one preset did.
    struct FixState {
        struct Queued { ///< a copy waits for the ones before it in the run
            bool operator==(const Queued&) const = default;
        };
        struct Writing { ///< a copy is being written
            bool operator==(const Writing&) const = default;
        };
        struct Done {
            std::filesystem::path copy;
            LoudnessResult result;                          ///< the copy, measured again
            std::optional<std::string> note{};              ///< the plan's note for a partial fix
            std::optional<Limiter::Summary> limiting{};     ///< set for a limited copy
            std::optional<GainWriter::Encoding> encoding{}; ///< a copy in the original's format
            bool ofDamaged = false; ///< the original's audio is damaged: made anyway
            double gain = 0;        ///< dB, under any limiting
            /// The copy as written; its digest is empty when it couldn't be read back.
            Session::FileStamp stamp{};
            /// What the disk said of the copy when it was last looked at.
            Session::State onDisk = Session::State::unchanged;
            bool operator==(const Done&) const = default;
            /// Whether the copy is still there as it was written, as far as was last seen.
            bool onDiskAsWritten() const { return onDisk == Session::State::unchanged; }
        };
        struct Refused {
            enum class Reason {
                needsLimiter, ///< gain alone would take the true peak over the ceiling
                byLimiter,    ///< the limiter would need more reduction than it takes
                damaged,      ///< the audio is damaged, and damage fails a file
            };
            std::string message; ///< why: the plan's or limiter's sentence, or the damage text
            Reason reason = Reason::needsLimiter;
            bool operator==(const Refused&) const = default;
        };
        struct Failed {
            std::string message; ///< why the copy could not be written or measured
            bool operator==(const Failed&) const = default;
        };
        struct AlreadyPasses {
            bool operator==(const AlreadyPasses&) const = default;
        };
        std::variant<Queued, Writing, Done, Refused, Failed, AlreadyPasses> value;
        bool operator==(const FixState&) const = default;
    };

    QUuid id;
    std::filesystem::path url; ///< the original, absolute and normalised
    std::string format;        ///< "WAV · 24-bit · 48 kHz · stereo"; empty until measured
    Reading reading;
    /// What a reopened session found of the file: changed since it was saved, or missing; the
    /// row says so until the session is saved again.
    Session::State sinceSaved = Session::State::unchanged;
    std::map<std::string, FixState> fixes{}; ///< by preset id; a preset's entry from its first fix

    bool operator==(const FileItem&) const = default;

    /// The measurement, when the row is measured.
    const LoudnessResult* result() const;
    /// Whether the row waits for or is being measured.
    bool unmeasured() const;
    /// The reading's findings; empty unless the row is measured.
    const std::vector<Finding>& findings() const;
    /// The record of the original when the row is a copy Tavrin wrote, else null.
    const Provenance* provenance() const;
    /// The fix state when it was made for the preset `specID`, else null.
    const FixState* fixFor(const std::string& specID) const;
};

} // namespace tavrin::app
