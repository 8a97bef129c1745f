#include "HostTestSupport.h"

#include <set>

using namespace hosttest;

namespace
{
    // Centres of the two action buttons in the editor's own coordinates.
    const juce::Point<int> chaosButtonCentre { 426, 243 };
    const juce::Point<int> resetButtonCentre { 507, 243 };

    const char* const actionParameters[] { "drive", "mix", "output", "mode", "filterCutoff", "filterReso",
                                           "filterType", "glitchChaos" };

    /** Moves the real pointer onto a point of the screen and clicks there with xdotool, while the
        message loop keeps running so the windows receive the events. */
    ::testing::AssertionResult clickOnScreen (juce::Point<int> screenPoint)
    {
        juce::ChildProcess xdotool;
        if (! xdotool.start (juce::StringArray { "xdotool", "mousemove", "--sync", juce::String (screenPoint.x),
                                                 juce::String (screenPoint.y), "click", "1" }))
            return ::testing::AssertionFailure() << "xdotool cannot be started";

        const auto end = juce::Time::getMillisecondCounterHiRes() + 10000.0;
        while (xdotool.isRunning() && juce::Time::getMillisecondCounterHiRes() < end)
            runMessageLoop (10);

        if (xdotool.isRunning())
        {
            xdotool.kill();
            return ::testing::AssertionFailure() << "xdotool did not finish";
        }

        runMessageLoop (400);   // the click, the actions and the host notifications settle
        if (xdotool.getExitCode() != 0)
            return ::testing::AssertionFailure() << "xdotool failed: " << xdotool.readAllProcessOutput();
        return ::testing::AssertionSuccess();
    }

    std::set<juce::uint32> changedIds (PluginHost& host)
    {
        std::set<juce::uint32> ids;
        for (const auto& change : host.takeParameterChanges())
            ids.insert (change.vstId);
        return ids;
    }

    std::set<juce::uint32> actionParameterIds()
    {
        std::set<juce::uint32> ids;
        for (auto* id : actionParameters)
            ids.insert (expectedVstId (id));
        return ids;
    }

    juce::Colour pixelOfEditor (const juce::Image& capture, EditorWindow& window, juce::Point<int> editorPoint)
    {
        const auto p = window.getLocalPoint (window.getEditor(), editorPoint);
        return capture.getPixelAt (p.x, p.y);
    }
}

TEST (EditorShellHost, FixedSizeViewDrawsTheEditor)
{
    SKIP_WITHOUT_DISPLAY();
    auto host = loadPlugin();
    ASSERT_NE (host, nullptr);
    BackgroundAudio audio (*host);
    audio.start();

    {
        EditorWindow window (host->getInstance(), "EditorShellHost");
        ASSERT_TRUE (window.hasEditor());
        runMessageLoop (600);

        EXPECT_EQ (window.getEditorBounds().getWidth(), 820);
        EXPECT_EQ (window.getEditorBounds().getHeight(), 700);
        EXPECT_FALSE (window.canResize());

        juce::String error;
        const auto image = window.capture (error);
        ASSERT_TRUE (image.isValid()) << error;

        // The header rule is the brightest purple line of the header; the band above it and the
        // background below the header are near-black; the frame shows at the left edge.
        const auto rule = pixelOfEditor (image, window, { 100, 52 });
        EXPECT_GT (rule.getBlue(), 0x70) << rule.toDisplayString (false);
        EXPECT_GT (rule.getRed(), 0x40) << rule.toDisplayString (false);
        EXPECT_LT (rule.getGreen(), rule.getRed()) << rule.toDisplayString (false);

        for (auto dark : { juce::Point<int> { 100, 30 }, juce::Point<int> { 600, 243 } })
        {
            const auto c = pixelOfEditor (image, window, dark);
            EXPECT_LT (juce::jmax (c.getRed(), c.getGreen(), c.getBlue()), 0x30) << dark.toString() << " " << c.toDisplayString (false);
        }

        const auto frame = pixelOfEditor (image, window, { 0, 350 });
        EXPECT_GT (frame.getBlue(), 0x40) << frame.toDisplayString (false);
    }

    runMessageLoop (50);
    audio.stop();
    EXPECT_FALSE (audio.sawNonFiniteOutput());
}

TEST (EditorShellHost, ClicksOnChaosAndResetReachTheHost)
{
    SKIP_WITHOUT_DISPLAY();
    auto host = loadPlugin();
    ASSERT_NE (host, nullptr);
    BackgroundAudio audio (*host);
    audio.start();

    setParameter (*host, "glitchOn", 1.0f);

    {
        EditorWindow window (host->getInstance(), "EditorShellHost click");
        ASSERT_TRUE (window.hasEditor());
        runMessageLoop (600);
        host->takeParameterChanges();

        const auto origin = window.getEditorScreenPosition();
        const auto driveId = expectedVstId ("drive");
        const auto driveBefore = host->getParameter (driveId);

        ASSERT_TRUE (clickOnScreen (origin + chaosButtonCentre));
        EXPECT_EQ (changedIds (*host), actionParameterIds()) << "CHAOS";
        EXPECT_NE (host->getParameter (driveId), driveBefore);
        EXPECT_EQ (host->getParameter (expectedVstId ("glitchOn")), 1.0f);

        ASSERT_TRUE (clickOnScreen (origin + resetButtonCentre));
        EXPECT_EQ (changedIds (*host), actionParameterIds()) << "RESET";
        EXPECT_FLOAT_EQ (host->getParameter (driveId), 0.5f);
        EXPECT_EQ (host->getParameter (expectedVstId ("mode")), 0.0f);
        EXPECT_EQ (host->getParameter (expectedVstId ("glitchOn")), 1.0f);
    }

    runMessageLoop (50);
    audio.stop();
    EXPECT_FALSE (audio.sawNonFiniteOutput());
}
