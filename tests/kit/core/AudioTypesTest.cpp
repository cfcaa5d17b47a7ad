#include "tavrin/core/AudioTypes.h"

#include "AudioFixtures.h"

#include <algorithm>
#include <gtest/gtest.h>

using namespace tavrin;
using namespace tavrin::test;

namespace {

void touch(const fs::path& path) {
    fs::create_directories(path.parent_path());
    writeBytes(path, "");
}

} // namespace

TEST(AudioTypes, SupportedExtensionsInAnyCase) {
    for (const char* name : {"a.WAV", "a.Wave", "a.bwf", "a.AIFC", "a.m4a", "a.caf"})
        EXPECT_TRUE(AudioTypes::isSupported(name)) << name;
    for (const char* name : {"a.ogg", "a.wav.txt", "wav", ".wav", "a.", "dir.wav/a"})
        EXPECT_FALSE(AudioTypes::isSupported(name)) << name;
}

// What a report must not be written over: audio by its name or, whatever its name, its bytes.
TEST(AudioTypes, ExistingAudioByNameOrBytes) {
    TempDir dir;
    using namespace std::string_literals;
    const std::pair<std::string, bool> starts[] = {{"RIFF\x24\0\0\0WAVEfmt "s, true},
                                                   {"FORM\0\0\0 AIFC"s, true},
                                                   {"ID3\x04"s, true},
                                                   {"\xFF\xFB\x90\x64"s, true}, // an MP3 frame
                                                   {"\xFF\xF1\x50\x80"s, true}, // an ADTS frame
                                                   {"\0\0\0 ftypM4A "s, true},
                                                   {"\0\0\0 ftypheic"s, false},
                                                   {"RIFF\x24\0\0\0AVI LIST"s, false},
                                                   {"%PDF-1.5"s, false},
                                                   {"File,Folder,Format"s, false},
                                                   {"\xFF\xE9"s, false}, // a reserved MPEG version
                                                   {""s, false}};
    for (const auto& [bytes, audio] : starts) {
        writeBytes(dir / "report.pdf", bytes);
        EXPECT_EQ(AudioTypes::isExistingAudio(dir / "report.pdf"), audio) << bytes;
    }
    touch(dir / "empty.WAV");
    EXPECT_TRUE(AudioTypes::isExistingAudio(dir / "empty.WAV"));
    EXPECT_FALSE(AudioTypes::isExistingAudio(dir / "missing.wav"));
    EXPECT_FALSE(AudioTypes::isExistingAudio(dir.path())); // a folder
}

TEST(AudioTypes, FolderInFileBrowserOrderSkippingHiddenPackagesAndOtherFiles) {
    TempDir dir;
    const fs::path f = dir / "Session";
    for (const char* name :
         {"Take 10.wav", "Take 2.wav", "take 3.WAV", "Take 1.wav", "notes.txt", ".hidden.wav",
          "Mix/a.flac", "Mix/B.mp3", ".git/x.wav", "Old.logicx/Media/x.wav", "Tool.app/x.wav",
          "Plug.VST3/x.wav", "noextension"})
        touch(f / name);
    fs::create_directory(f / "folder.wav"); // a folder named like audio is not a file

    EXPECT_EQ(AudioTypes::audioFiles({f}),
              (std::vector<fs::path>{f / "Mix/a.flac", f / "Mix/B.mp3", f / "Take 1.wav",
                                     f / "Take 2.wav", f / "take 3.WAV", f / "Take 10.wav"}));
    // Only the visible files outside packages count as others: notes.txt and noextension.
    const auto selection = AudioTypes::scan({f});
    EXPECT_EQ(selection.otherFiles, 2u);
    EXPECT_TRUE(selection.unusable.empty());
}

TEST(AudioTypes, SelectionOrderKeptAndEachFileListedOnceAtItsFirstPlace) {
    TempDir dir;
    touch(dir / "A/1.wav");
    touch(dir / "A/2.wav");
    touch(dir / "B/3.wav");
    touch(dir / "solo.mp3");
    touch(dir / ".secret.wav");

    EXPECT_EQ(AudioTypes::audioFiles({dir / "B", dir / "A/2.wav", dir / "missing.wav", dir / "A",
                                      dir / "A/../solo.mp3", dir / "./B/3.wav", dir / ".secret.wav",
                                      dir / "A/./2.wav"}),
              (std::vector<fs::path>{dir / "B/3.wav", dir / "A/2.wav", dir / "A/1.wav",
                                     dir / "solo.mp3"}));
    using Reason = AudioTypes::Unusable::Reason;
    EXPECT_EQ(AudioTypes::scan({dir / "missing.wav", dir / ".secret.wav", dir / "A/../solo.mp3",
                                dir / "A/x/../1.wav"})
                  .unusable,
              (std::vector<AudioTypes::Unusable>{{dir / "missing.wav", Reason::missing},
                                                 {dir / ".secret.wav", Reason::hidden},
                                                 {dir / "A/x/../1.wav", Reason::missing}}));
    // Relative paths come back absolute and normalised.
    const fs::path before = fs::current_path();
    fs::current_path(dir.path());
    const auto relative = AudioTypes::audioFiles({"B/../A/./2.wav", "B"});
    fs::current_path(before);
    EXPECT_EQ(relative, (std::vector<fs::path>{dir / "A/2.wav", dir / "B/3.wav"}));
}

TEST(AudioTypes, LongSearchTellsWhatItFoundSoFarAndStopsWhenAsked) {
    TempDir dir;
    for (int i = 0; i < 200; ++i)
        touch(dir / "A" / ("take " + std::to_string(i) + (i % 4 ? ".txt" : ".wav")));
    std::vector<std::size_t> counts;
    EXPECT_EQ(AudioTypes::audioFiles({dir / "A"},
                                     [&counts](std::size_t found) { counts.push_back(found); }, {}),
              AudioTypes::audioFiles({dir / "A"}));
    ASSERT_FALSE(counts.empty());
    EXPECT_TRUE(std::ranges::is_sorted(counts));
    EXPECT_LE(counts.back(), 50u);
    EXPECT_THROW(AudioTypes::audioFiles({dir / "A"}, {}, [] { return true; }), Cancelled);
}

TEST(AudioTypes, LinksAreNotFollowedIntoLoops) {
    TempDir dir;
    touch(dir / "A/take.wav");
    fs::create_directory_symlink(dir / "A", dir / "A/again");   // a loop
    fs::create_symlink("dangling.wav", dir / "A/dangling.wav"); // nothing behind it
    fs::create_symlink("selfloop.wav", dir / "A/selfloop.wav"); // refers to itself
    fs::create_symlink(dir / "A/take.wav", dir / "A/link.wav"); // a file behind it
    EXPECT_EQ(AudioTypes::audioFiles({dir / "A"}),
              (std::vector<fs::path>{dir / "A/link.wav", dir / "A/take.wav"}));
}
