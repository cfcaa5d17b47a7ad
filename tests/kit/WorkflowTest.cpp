#include "tavrin/Workflow.h"

#include "AudioFixtures.h"

#include <gtest/gtest.h>

using namespace tavrin;
using namespace tavrin::test;

TEST(Workflow, FixedCopiesSummary) {
    EXPECT_EQ(Workflow::fixedCopiesMessage(2, 3, 1, std::nullopt),
              "2 copies written next to the originals, each measured again. 1 file can’t reach the "
              "target with gain alone; the Fix column says why. 1 couldn’t be written (see the Fix "
              "column).");
    EXPECT_EQ(Workflow::fixedCopiesMessage(0, 2, 2, "/out"),
              "0 copies written to out, each measured again. 2 files can’t reach the target with "
              "gain alone; the Fix column says why. 2 couldn’t be written (see the Fix column).");
    for (const auto& [folder, named] : {std::pair{"/", "/"}, {"/out/", "out"}, {"out", "out"}})
        EXPECT_EQ(Workflow::fixedCopiesMessage(1, 1, 0, folder),
                  std::string("1 copy written to ") + named + ", each measured again.");
}

TEST(Workflow, AlertsNameThePreset) {
    EXPECT_EQ(Workflow::nothingToFixMessage(DeliverySpec::spotify(), true),
              "The selected files pass Spotify or have no reading.");
    EXPECT_EQ(Workflow::nothingToFixMessage(DeliverySpec::spotify(), false),
              "Every measured file passes Spotify.");
    EXPECT_EQ(Workflow::cantFixMessage(DeliverySpec::atscA85()),
              "Reaching ATSC A/85 (US TV)’s target would push the true peak over −2.0 dBTP. These "
              "files need a limiter first; the Fix column says by how much.");
}

TEST(Workflow, ReportFixTexts) {
    LoudnessResult copy{.integrated = -14.04, .truePeak = -1.2, .sampleRate = 48000, .channels = 2};
    EXPECT_EQ(Workflow::fixTextWritten({"/x/Interview (Spotify).wav", copy}),
              "Interview (Spotify).wav: −14.0 LUFS, −1.2 dBTP");
    copy.integrated.reset();
    copy.truePeak = 0.3;
    EXPECT_EQ(Workflow::fixTextWritten({"/x/a.wav", copy}), "a.wav: — LUFS, +0.3 dBTP");
    EXPECT_EQ(Workflow::fixTextFailed("Disk full."), "Not written: Disk full.");
}

TEST(Workflow, CancellingWhileTheCopyIsMeasuredAgainLeavesNoCopy) {
    TempDir dir;
    encode(replicate(sine(1000, -30, 1, 48000), 2), 48000, dir / "Take.wav", "-c:a pcm_s24le");
    // The copy appears under its name only when it is complete, so this stops the measurement.
    const auto copyIsThere = [&] { return fs::exists(dir / "Take (EBU R 128).wav"); };
    EXPECT_THROW(Workflow::writeFixedCopy(dir / "Take.wav", 6.0, DeliverySpec::ebuR128(),
                                          std::nullopt, false, copyIsThere),
                 Cancelled);
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"Take.wav"});
}
