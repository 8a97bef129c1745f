#include "HostTestSupport.h"

using namespace hosttest;

TEST (EditorHost, OpensInARealWindowAndDrawsWhileAudioRuns)
{
    SKIP_WITHOUT_DISPLAY();
    auto host = loadPlugin();
    ASSERT_NE (host, nullptr);
    BackgroundAudio audio (*host);
    audio.start();

    {
        EditorWindow window (host->getInstance(), "EditorHost");
        ASSERT_TRUE (window.hasEditor());
        runMessageLoop (600);

        EXPECT_EQ (window.getEditorBounds().getWidth(), 820);
        EXPECT_EQ (window.getEditorBounds().getHeight(), 700);
        EXPECT_FALSE (window.canResize());
        ASSERT_NE (window.getNativeWindowId(), 0u);

        // The plug-in's view is an X11 window of its own, embedded in the host's.
        WindowGeometry geometry;
        ASSERT_TRUE (getX11WindowGeometry (window.getNativeWindowId(), geometry));
        EXPECT_TRUE (geometry.viewable);
        EXPECT_GE (geometry.width, 820);
        EXPECT_GE (geometry.height, 700);
        EXPECT_FALSE (getX11ChildWindows (window.getNativeWindowId()).empty());

        EXPECT_GE (waitForDrawnEditor (window).distinctColours, 16) << "the editor area looks blank";
    }

    runMessageLoop (100);
    EXPECT_GT (audio.getBlocksProcessed(), 10);
    audio.stop();
    EXPECT_FALSE (audio.sawNonFiniteOutput());
}

TEST (EditorHost, CloseAndReopenCyclesWhileAudioRunsLeaveNoEditorBehind)
{
    SKIP_WITHOUT_DISPLAY();
    auto host = loadPlugin (44100.0, 256);
    ASSERT_NE (host, nullptr);
    BackgroundAudio audio (*host);
    audio.start();

    for (int cycle = 0; cycle < 6; ++cycle)
    {
        auto window = std::make_unique<EditorWindow> (host->getInstance(), "EditorHost cycle");
        ASSERT_TRUE (window->hasEditor()) << "cycle " << cycle;
        runMessageLoop (cycle % 2 == 0 ? 150 : 20);    // also close before the first paint
        window.reset();
        EXPECT_EQ (host->getInstance().getActiveEditor(), nullptr);
        runMessageLoop (20);
    }

    const auto blocksBefore = audio.getBlocksProcessed();
    runMessageLoop (100);
    EXPECT_GT (audio.getBlocksProcessed(), blocksBefore);
    audio.stop();
    EXPECT_FALSE (audio.sawNonFiniteOutput());
}
