// A session file gives back exactly what was saved, refuses what isn't one with a sentence saying
// where, and tells an untouched file from a changed or missing one.

#include "tavrin/workflow/Session.h"

#include "AudioFixtures.h"
#include "tavrin/workflow/TargetFiles.h"

#include <gtest/gtest.h>

using namespace tavrin;
using namespace tavrin::test;

namespace {

const std::string digest(64, 'a');

Session::Record fullRecord() {
    const LoudnessResult result{-23.04, 5.2,   -18.0, -20.1, -3.0, -2.9,
                                61.5,   48000, 2,     12.25, 30.0, 31.0};
    Session::Row copied{"/audio/Episode 12.wav",
                        Session::FileStamp{54781, 1796715317434489553, digest},
                        "WAV · 24-bit · 48 kHz · stereo", result};
    copied.findings = {{Finding::Kind::clipping, 3, 1.5, "Clipped."},
                       {Finding::Kind::cutOff, 1, std::nullopt, "Cut off.", true}};
    copied.copies["ebu-r128"] = {"/audio/Episode 12 (EBU R 128).wav",
                                 {60000, -5, std::string(64, 'b')},
                                 1.5,
                                 std::nullopt,
                                 std::nullopt,
                                 true,
                                 result,
                                 "Short of the target."};
    copied.copies["custom:-19.0:1.0:-1.0"] = {"/audio/Episode 12 (−19.0 LUFS, limited).mp3",
                                              {1, 2, digest},
                                              5.25,
                                              Limiter::Summary{5.25, 4.2, 1.3},
                                              GainWriter::Encoding{"MP3 VBR V2", true},
                                              false,
                                              result};
    Session::Row unreadable{"/audio/b\xe9"
                            "b.wav"};
    unreadable.error = "The file isn’t audio.";
    Session::Row copy{"/audio/Episode 12 (EBU R 128).wav", Session::FileStamp{60000, 7, digest},
                      "WAV", result};
    copy.provenance =
        Provenance{"Episode 12.wav",      digest, 54781, "ebu-r128", 1.5, std::nullopt, {}, "0.1.0",
                   "2026-12-07T18:32:05Z"};
    return {"custom:-19.0:1.0:-1.0",
            true,
            DamagePolicy::warn,
            Session::Verify::always,
            {copied, unreadable, copy}};
}

} // namespace

TEST(Session, SavedAndLoadedIsTheSameRecordOneFileALine) {
    const TempDir dir;
    // A named target travels with the session, on a line of its own.
    Session::Record named = fullRecord();
    named.target = Workflow::targetFromJson(R"({"version": 1, "name": "Promos", "target": -18,
        "tolerance": 1, "maxTruePeak": -2, "maxLoudnessRange": 8})");
    named.preset = named.target->id;
    for (const Session::Record& record : {fullRecord(), Session::Record{}, named}) {
        Session::save(dir / "day.tavrin", record);
        EXPECT_EQ(Session::load(dir / "day.tavrin"), record);
        const std::string text = readBytes(dir / "day.tavrin");
        EXPECT_TRUE(text.starts_with("{\n\"format\": \"tavrin-session\",\n\"version\": 1,\n"));
        EXPECT_EQ(std::ranges::count(text, '\n'),
                  11 + static_cast<long>(record.rows.size()) + record.target.has_value());
    }
}

TEST(Session, WhatIsntASessionIsRefusedSayingWhere) {
    const std::string head = R"({"format":"tavrin-session","version":1,"preset":"ebu-r128",)"
                             R"("dualMono":false,"damage":"fail","verify":"always",)";
    std::string row = Session::toJson(fullRecord());
    row = row.substr(row.find("\n{\"path\""), row.find("},\n{") - row.find("\n{\"path\"") + 1);
    const auto withRow = [&](std::string from, std::string to) {
        std::string changed = row;
        changed.replace(changed.find(from), from.size(), to);
        return head + "\"files\":[" + changed + "]}";
    };
    const struct {
        std::string text;
        std::string says;
    } cases[] = {
        {"", "day.tavrin isn’t a Tavrin session."},
        {"[1, 2]", "day.tavrin isn’t a Tavrin session."},
        {R"({"format":"tavrin-report","version":1})", "day.tavrin isn’t a Tavrin session."},
        {R"({"format":"tavrin-session","version":"1"})", "day.tavrin is damaged: “version” isn’t"},
        {R"({"format":"tavrin-session","version":2})",
         "day.tavrin was saved by a newer Tavrin (session version 2); this one opens sessions of "
         "version 1."},
        {head + R"("files":{}})", "day.tavrin is damaged: “files” isn’t"},
        {R"({"format":"tavrin-session","version":1,"preset":"target:Promos","dualMono":false,)"
         R"("damage":"fail","verify":"always","files":[]})",
         "day.tavrin is damaged: “target” isn’t"},
        {head + R"("files":[7]})", "day.tavrin is damaged: file 1 isn’t"},
        {withRow("\"size\":54781", "\"size\":-1"), "file 1’s “size” isn’t"},
        {withRow(digest, "xyz"), "file 1’s “sha256” isn’t"},
        {withRow("\"integrated\":", "\"integrated\":\"loud\",\"x\":"), "file 1’s “result” isn’t"},
        {withRow("\"lossy\":true", "\"lossy\":1"),
         "fix for custom:-19.0:1.0:-1.0’s “encoding”’s “lossy” isn’t"},
        {withRow("\"path\":", "\"pathBytes\":\"zz\",\"path\":"), "file 1’s “pathBytes” isn’t"},
        {withRow("\"path\":\"/", "\"path\":\""), "file 1’s “path” isn’t"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        try {
            Session::fromJson(c.text, "day.tavrin");
            ADD_FAILURE() << "read";
        } catch (const Session::Unreadable& e) {
            EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
        }
    }
    const TempDir dir;
    for (const auto& [path, says] : {std::pair{dir / "none.tavrin", "none.tavrin couldn’t be read "
                                                                    "(No such file or directory)."},
                                     {dir.path(), "couldn’t be read (Is a directory)."}}) {
        try {
            Session::load(path);
            ADD_FAILURE() << "read";
        } catch (const Session::Unreadable& e) {
            EXPECT_TRUE(std::string(e.what()).ends_with(says)) << e.what();
        }
    }
}

TEST(Session, AFileIsUnchangedChangedOrMissingByItsSizeTimeAndBytes) {
    using enum Session::State;
    const TempDir dir;
    const fs::path file = dir / "take.wav";
    writeBytes(file, "RIFF one");
    const Session::FileStamp stamp = *Session::stampOf(file);
    const auto setTime = [&](fs::file_time_type time) { fs::last_write_time(file, time); };
    const auto saved = fs::last_write_time(file);
    const struct {
        const char* what;
        std::string bytes;
        fs::file_time_type time;
        Session::State look, onlyWhenChanged, always;
    } cases[] = {
        {"as saved", "RIFF one", saved, unchanged, unchanged, unchanged},
        {"touched", "RIFF one", saved + std::chrono::seconds(5), changed, unchanged, unchanged},
        {"same size, time put back", "RIFF two", saved, unchanged, unchanged, changed},
        {"same size, later", "RIFF two", saved + std::chrono::seconds(5), changed, changed,
         changed},
        {"longer", "RIFF three", saved, changed, changed, changed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        writeBytes(file, c.bytes);
        setTime(c.time);
        EXPECT_EQ(Session::look(file, stamp), c.look);
        EXPECT_EQ(Session::verify(file, stamp, Session::Verify::onlyWhenChanged),
                  c.onlyWhenChanged);
        EXPECT_EQ(Session::verify(file, stamp, Session::Verify::always), c.always);
    }
    fs::remove(file);
    fs::create_directory(file);
    EXPECT_EQ(Session::look(file, stamp), missing);
    EXPECT_EQ(Session::verify(file, stamp, Session::Verify::always), missing);
    EXPECT_FALSE(Session::stampOf(dir / "none.wav"));
}
