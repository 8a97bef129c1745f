#include "HostTestSupport.h"

#include <algorithm>
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

    /** The parameters the host has heard of, gathered while the message loop runs until all the
        expected ones are among them (or the time is up): on a loaded machine the notices can
        come in after the click has finished. */
    std::set<juce::uint32> waitForChangedIds (PluginHost& host, const std::set<juce::uint32>& expected, int timeoutMs)
    {
        std::set<juce::uint32> ids;
        const auto end = juce::Time::getMillisecondCounterHiRes() + timeoutMs;

        for (;;)
        {
            const auto arrived = changedIds (host);
            ids.insert (arrived.begin(), arrived.end());

            if (std::includes (ids.begin(), ids.end(), expected.begin(), expected.end())
                || juce::Time::getMillisecondCounterHiRes() >= end)
                return ids;

            runMessageLoop (20);
        }
    }

    std::set<juce::uint32> actionParameterIds()
    {
        std::set<juce::uint32> ids;
        for (auto* id : actionParameters)
            ids.insert (expectedVstId (id));
        return ids;
    }

    /** Runs the message loop until the module has said its state changed, or the time is up;
        gives how many times it said so. */
    int waitForStateChanges (PluginHost& host, int timeoutMs)
    {
        int count = 0;
        const auto end = juce::Time::getMillisecondCounterHiRes() + timeoutMs;
        while ((count += host.takeStateChangeCount()) == 0 && juce::Time::getMillisecondCounterHiRes() < end)
            runMessageLoop (20);
        return count;
    }

    /** One pattern row as the module saves it; the bytes before the XML hold zeros. */
    std::string savedRow (PluginHost& host, int row)
    {
        const auto state = host.getComponentState();
        const std::string text (static_cast<const char*> (state.getData()), state.getSize());
        const auto key = "row" + std::to_string (row) + "=\"";
        const auto at = text.find (key);
        return at == std::string::npos ? std::string() : text.substr (at + key.size(), 16);
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
        host->takeStateChangeCount();

        const auto origin = window.getEditorScreenPosition();
        const auto driveId = expectedVstId ("drive");
        const auto driveBefore = host->getParameter (driveId);

        ASSERT_TRUE (clickOnScreen (origin + chaosButtonCentre));
        EXPECT_EQ (waitForChangedIds (*host, actionParameterIds(), 5000), actionParameterIds()) << "CHAOS";
        EXPECT_EQ (waitForStateChanges (*host, 5000), 1) << "CHAOS draws a new pattern";
        EXPECT_NE (host->getParameter (driveId), driveBefore);
        EXPECT_EQ (host->getParameter (expectedVstId ("glitchOn")), 1.0f);

        ASSERT_TRUE (clickOnScreen (origin + resetButtonCentre));
        EXPECT_EQ (waitForChangedIds (*host, actionParameterIds(), 5000), actionParameterIds()) << "RESET";
        EXPECT_EQ (waitForStateChanges (*host, 5000), 1) << "RESET clears the pattern";
        EXPECT_FLOAT_EQ (host->getParameter (driveId), 0.5f);
        EXPECT_EQ (host->getParameter (expectedVstId ("mode")), 0.0f);
        EXPECT_EQ (host->getParameter (expectedVstId ("glitchOn")), 1.0f);
    }

    runMessageLoop (50);
    audio.stop();
    EXPECT_FALSE (audio.sawNonFiniteOutput());
}

TEST (EditorShellHost, ClickOnAGridCellMarksTheStateChanged)
{
    SKIP_WITHOUT_DISPLAY();
    auto host = loadPlugin();
    ASSERT_NE (host, nullptr);
    BackgroundAudio audio (*host);
    audio.start();

    // The grid lies at (42, 267) in the editor; its cells start 90 pixels right of that and
    // 22 below, each about 40 x 76.
    const juce::Point<int> firstCellCentre { 42 + 90 + 20, 267 + 22 + 38 };
    const juce::Point<int> offTheCells[] { { 42 + 40, 267 + 200 },     // CRUSH's label
                                           { 42 + 300, 267 + 10 } };   // the step-number header

    {
        EditorWindow window (host->getInstance(), "EditorShellHost grid");
        ASSERT_TRUE (window.hasEditor());
        runMessageLoop (600);
        host->takeStateChangeCount();

        const auto origin = window.getEditorScreenPosition();

        for (const auto p : offTheCells)
        {
            ASSERT_TRUE (clickOnScreen (origin + p));
            EXPECT_EQ (host->takeStateChangeCount(), 0) << p.toString();
        }

        EXPECT_EQ (savedRow (*host, 0), "0000000000000000");

        ASSERT_TRUE (clickOnScreen (origin + firstCellCentre));
        EXPECT_EQ (waitForStateChanges (*host, 5000), 1);
        EXPECT_TRUE (host->takeParameterChanges().empty());
        EXPECT_EQ (savedRow (*host, 0), "1000000000000000");

        // A project load is no edit: the module says nothing.
        host->setComponentState (host->getComponentState());
        runMessageLoop (200);
        EXPECT_EQ (host->takeStateChangeCount(), 0);
    }

    runMessageLoop (50);
    audio.stop();
    EXPECT_FALSE (audio.sawNonFiniteOutput());
}
