#include "tavrin/core/AudioTypes.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unicode/coll.h>
#include <unicode/locid.h>
#include <utility>

namespace tavrin::AudioTypes {
namespace {

namespace fs = std::filesystem;

bool isHidden(const fs::path& path) {
    return path.filename().string().starts_with('.');
}

/// Folders that the file browser shows as one document or application, never entered.
bool isPackage(const fs::path& path) {
    static const std::set<std::string, std::less<>> extensions = {
        "app",           "appex", "bundle", "component", "framework", "kext",
        "plugin",        "xpc",   "vst",    "vst3",      "prefpane",  "qlgenerator",
        "mdimporter",    "saver", "logicx", "band",      "fcpbundle", "photoslibrary",
        "imovielibrary", "rtfd",  "pages",  "numbers",   "key"};
    return extensions.contains(lowerExtension(path));
}

/// Whether a file's first bytes are those of an audio file: the containers and streams a
/// decoder recognises by their first bytes alone.
bool startsLikeAudio(std::string_view head) {
    const auto at = [&](std::size_t offset, std::string_view magic) {
        return head.substr(std::min(offset, head.size())).starts_with(magic);
    };
    for (std::string_view riff : {"RIFF", "RIFX", "RF64", "BW64"})
        if (at(0, riff) && at(8, "WAVE"))
            return true;
    if (at(0, "FORM") && (at(8, "AIFF") || at(8, "AIFC")))
        return true;
    for (std::string_view magic : {"caff", "fLaC", "OggS", "ID3", ".snd", "wvpk", "MAC ", "FRM8"})
        if (at(0, magic))
            return true;
    for (std::string_view brand : {"M4A ", "M4B ", "M4P ", "F4A ", "isom", "iso2", "mp41", "mp42"})
        if (at(4, "ftyp") && at(8, brand))
            return true;
    // An MPEG audio or ADTS frame: eleven set bits of sync, then a version that isn't reserved.
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(head[i]); };
    return head.size() >= 2 && byte(0) == 0xFF && (byte(1) & 0xE0) == 0xE0 &&
           (byte(1) & 0x18) != 0x08;
}

fs::path standardized(const fs::path& path) {
    std::error_code ec;
    fs::path absolute = fs::absolute(path, ec);
    return (ec ? path : absolute).lexically_normal();
}

/// The user's locale; the C/POSIX locale (no choice made) sorts by the root order, since ICU's
/// POSIX order puts every capital before every small letter.
icu::Locale userLocale() {
    const icu::Locale locale = icu::Locale::getDefault();
    if (std::string_view(locale.getVariant()) == "POSIX")
        return icu::Locale::getRoot();
    return locale;
}

/// The file browser's order: the user's locale, case ignored, digits compared as numbers; ties
/// (names equal but for case) broken by the raw bytes so that the order is total.
class NaturalNameOrder {
public:
    NaturalNameOrder() {
        UErrorCode status = U_ZERO_ERROR;
        m_collator.reset(icu::Collator::createInstance(userLocale(), status));
        if (U_FAILURE(status))
            m_collator.reset();
        if (!m_collator)
            return;
        m_collator->setStrength(icu::Collator::SECONDARY);
        m_collator->setAttribute(UCOL_NUMERIC_COLLATION, UCOL_ON, status);
    }

    bool operator()(const fs::path& a, const fs::path& b) const {
        const std::string& x = a.native();
        const std::string& y = b.native();
        if (m_collator) {
            UErrorCode status = U_ZERO_ERROR;
            const auto order = m_collator->compareUTF8(x, y, status);
            if (U_SUCCESS(status) && order != UCOL_EQUAL)
                return order == UCOL_LESS;
        }
        return x < y;
    }

private:
    std::unique_ptr<icu::Collator> m_collator;
};

/// Keeps the one who started a search informed, and lets them stop it, without a clock or a
/// check per entry: a listing costs far more than either, but a tree can hold millions.
class Watch {
public:
    Watch(FoundFn found, CancelCheck isCancelled)
        : m_found(std::move(found)), m_isCancelled(std::move(isCancelled)) {}

    void entryMet(std::size_t audioFilesSoFar) {
        if (++m_entries % entriesPerReport != 0)
            return;
        stopIfCancelled(m_isCancelled);
        if (m_found)
            m_found(audioFilesSoFar);
    }

private:
    static constexpr std::size_t entriesPerReport = 32;
    FoundFn m_found;
    CancelCheck m_isCancelled;
    std::size_t m_entries = 0;
};

/// Walks `top` for files, not entering hidden folders, packages or links. Audio files go to
/// `found`; other files are only counted; a folder that can't be listed (or stops part way) keeps
/// what it gave and is noted as unusable.
void enumerate(const fs::path& top, std::vector<fs::path>& found, Selection& selection,
               Watch& watch) {
    std::vector<fs::path> folders{top};
    while (!folders.empty()) {
        const fs::path folder = std::move(folders.back());
        folders.pop_back();
        std::error_code ec;
        fs::directory_iterator it(folder, ec);
        for (const fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
            watch.entryMet(selection.files.size() + found.size());
            const fs::path& path = it->path();
            if (isHidden(path))
                continue;
            std::error_code typeError;
            if (it->is_directory(typeError)) {
                if (!it->is_symlink(typeError) && !isPackage(path))
                    folders.push_back(path);
            } else if (it->is_regular_file(typeError)) {
                if (isSupported(path))
                    found.push_back(path);
                else
                    ++selection.otherFiles;
            }
        }
        if (ec)
            selection.unusable.push_back({folder, Unusable::Reason::unreadable, ec});
    }
}

Selection scanWatched(const std::vector<fs::path>& chosenPaths, Watch& watch) {
    using Reason = Unusable::Reason;
    const NaturalNameOrder naturalNameOrder;
    Selection selection;
    std::set<fs::path> seen;
    const auto accept = [&](const fs::path& path) {
        fs::path normal = standardized(path);
        if (seen.insert(normal).second)
            selection.files.push_back(std::move(normal));
    };
    for (const fs::path& chosen : chosenPaths) {
        std::error_code ec;
        const fs::file_status status = fs::status(chosen, ec);
        if (!fs::exists(status)) {
            const bool missing = !ec || ec == std::errc::no_such_file_or_directory ||
                                 ec == std::errc::not_a_directory;
            selection.unusable.push_back({chosen, missing ? Reason::missing : Reason::unreadable,
                                          missing ? std::error_code{} : ec});
        } else if (fs::is_directory(status)) {
            std::vector<fs::path> files;
            enumerate(chosen, files, selection, watch);
            std::sort(files.begin(), files.end(), std::cref(naturalNameOrder));
            for (const fs::path& file : files)
                accept(file);
        } else if (!fs::is_regular_file(status)) { // a pipe or a device named like audio
            selection.unusable.push_back({chosen, Reason::notARegularFile});
        } else if (!isSupported(chosen)) {
            selection.unusable.push_back({chosen, Reason::notAudio});
        } else if (isHidden(chosen)) {
            selection.unusable.push_back({chosen, Reason::hidden});
        } else {
            accept(chosen);
        }
    }
    return selection;
}

} // namespace

std::string lowerExtension(const fs::path& path) {
    std::string ext = path.extension().string();
    if (!ext.empty())
        ext.erase(0, 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    return ext;
}

bool isSupported(const fs::path& path) {
    static const std::set<std::string, std::less<>> extensions = {
        "wav", "wave", "bwf", "aif", "aiff", "aifc", "mp3", "m4a", "aac", "mp4", "flac", "caf"};
    return extensions.contains(lowerExtension(path));
}

bool isAiff(const fs::path& path) {
    const std::string ext = lowerExtension(path);
    return ext == "aif" || ext == "aiff" || ext == "aifc";
}

bool isExistingAudio(const fs::path& path) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec))
        return false;
    if (isSupported(path))
        return true;
    std::ifstream file(path, std::ios::binary);
    std::array<char, 12> head{};
    file.read(head.data(), head.size());
    return startsLikeAudio({head.data(), static_cast<std::size_t>(file.gcount())});
}

bool isAmong(const fs::path& path, const std::vector<fs::path>& files) {
    std::error_code ec;
    if (!fs::exists(path, ec))
        return false;
    return std::ranges::any_of(files, [&](const fs::path& file) {
        std::error_code unequal;
        return fs::equivalent(path, file, unequal);
    });
}

std::vector<fs::path> audioFiles(const std::vector<fs::path>& selection) {
    return scan(selection).files;
}

std::vector<fs::path> audioFiles(const std::vector<fs::path>& selection, const FoundFn& found,
                                 const CancelCheck& isCancelled) {
    Watch watch(found, isCancelled);
    return scanWatched(selection, watch).files;
}

Selection scan(const std::vector<fs::path>& chosenPaths) {
    Watch unwatched(nullptr, nullptr);
    return scanWatched(chosenPaths, unwatched);
}

struct NameOrder::Impl {
    NaturalNameOrder order;
};

NameOrder::NameOrder() : m_impl(std::make_unique<Impl>()) {}
NameOrder::~NameOrder() = default;
NameOrder::NameOrder(NameOrder&&) noexcept = default;
NameOrder& NameOrder::operator=(NameOrder&&) noexcept = default;

bool NameOrder::operator()(const fs::path& a, const fs::path& b) const {
    return m_impl->order(a, b);
}

} // namespace tavrin::AudioTypes
