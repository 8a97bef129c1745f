#include "EditorComponentTestAccess.h"
#include "EditorTestAccess.h"
#include "ProcessorTestAccess.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace
{
    using Access = BrellDistortionEditorTestAccess;

    struct ParameterChangeCounter : juce::AudioProcessorListener
    {
        void audioProcessorParameterChanged (juce::AudioProcessor*, int, float) override { ++changes; }
        void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails&) override {}

        int changes = 0;
    };

    /** How many parameter changes the processor reports to its listeners while the action runs. */
    int parameterChangesDuring (juce::AudioProcessor& p, const std::function<void()>& action)
    {
        ParameterChangeCounter counter;
        p.addListener (&counter);
        action();
        p.removeListener (&counter);
        return counter.changes;
    }

    juce::MouseEvent makeMouseEvent (juce::Component& target, juce::Point<float> position, juce::ModifierKeys mods)
    {
        const auto now = juce::Time::getCurrentTime();
        return juce::MouseEvent (juce::Desktop::getInstance().getMainMouseSource(), position, mods,
                                 juce::MouseInputSource::defaultPressure, juce::MouseInputSource::defaultOrientation,
                                 juce::MouseInputSource::defaultRotation, juce::MouseInputSource::defaultTiltX,
                                 juce::MouseInputSource::defaultTiltY, &target, &target, now, position, now, 1, false);
    }

    /** Presses and releases the left button at a point of the editor, on whichever component
        takes the click there, as the mouse dispatcher would. Returns that component. */
    juce::Component* clickAt (juce::Component& editor, juce::Point<int> point)
    {
        auto* target = editor.getComponentAt (point);
        if (target == nullptr)
            return nullptr;

        const auto local = target->getLocalPoint (&editor, point).toFloat();
        target->mouseDown (makeMouseEvent (*target, local, juce::ModifierKeys::leftButtonModifier));
        target->mouseUp (makeMouseEvent (*target, local, juce::ModifierKeys()));
        return target;
    }

    juce::String valueBoxText (juce::Slider& slider)
    {
        for (auto* child : slider.getChildren())
            if (auto* label = dynamic_cast<juce::Label*> (child))
                return label->getText();
        return "<no value box>";
    }

    float rawValue (BrellDistortionProcessor& p, const char* id)
    {
        return p.apvts.getRawParameterValue (id)->load();
    }

    std::vector<int> patternOf (BrellDistortionProcessor& p)
    {
        std::vector<int> cells;
        for (int r = 0; r < GlitchPattern::numRows; ++r)
            for (int s = 0; s < GlitchPattern::numSteps; ++s)
                cells.push_back (p.glitchPattern.get (r, s));
        return cells;
    }

    std::vector<float> parameterValuesOf (BrellDistortionProcessor& p)
    {
        std::vector<float> values;
        for (auto* param : p.getParameters())
            values.push_back (param->getValue());
        return values;
    }

    class EditorShell : public ::testing::Test
    {
    protected:
        void SetUp() override
        {
            editor = std::make_unique<BrellDistortionEditor> (processor);
            editor->setVisible (true);   // as the host's view makes it; hit-testing needs it
        }

        Access access() { return Access (*editor); }

        BrellDistortionProcessor processor;
        std::unique_ptr<BrellDistortionEditor> editor;
    };
}

TEST_F (EditorShell, CreateEditorGivesTheFixedSizeEditor)
{
    std::unique_ptr<juce::AudioProcessorEditor> created (processor.createEditor());
    ASSERT_NE (dynamic_cast<BrellDistortionEditor*> (created.get()), nullptr);
    EXPECT_EQ (created->getWidth(), 820);
    EXPECT_EQ (created->getHeight(), 700);
    EXPECT_FALSE (created->isResizable());
}

TEST_F (EditorShell, ChildrenStackInConstructionOrderWithTheOverlayOnTop)
{
    auto a = access();
    const std::vector<juce::Component*> expected {
        &a.driveSlider(), &a.driveLabel(), &a.mixSlider(), &a.mixLabel(), &a.outputSlider(), &a.outputLabel(),
        &a.cutoffSlider(), &a.cutoffLabel(), &a.resoSlider(), &a.resoLabel(), &a.filterTypeBox(), &a.filterLabel(),
        &a.modeBox(), &a.distLabel(), &a.glitchButton(), &a.chaosSlider(), &a.chaosLabel(), &a.chaosButton(),
        &a.resetButton(), &a.waveformDisplay(), &a.inputMeterLeft(), &a.inputMeterRight(), &a.outputMeterLeft(),
        &a.outputMeterRight(), &a.glitchGrid(), &a.crtOverlay()
    };

    ASSERT_EQ (editor->getNumChildComponents(), (int) expected.size());

    for (size_t i = 0; i < expected.size(); ++i)
    {
        auto* child = editor->getChildComponent ((int) i);
        EXPECT_EQ (child, expected[i]) << "child " << i;
        EXPECT_TRUE (child->isVisible()) << "child " << i;
        // No child has a look-and-feel of its own: all of them draw with the editor's.
        EXPECT_EQ (&child->getLookAndFeel(), &a.lookAndFeel()) << "child " << i;
    }

    EXPECT_NE (dynamic_cast<ZandorLookAndFeel*> (&editor->getLookAndFeel()), nullptr);
}

TEST_F (EditorShell, KnobsAreStyledAndShowTheDefaultValueTexts)
{
    auto a = access();
    struct KnobCase { juce::Slider& slider; juce::Label& label; const char* caption; const char* suffix; const char* text; };
    const KnobCase cases[] {
        { a.driveSlider(),  a.driveLabel(),  "DRIVE",  "%",   "50.0%" },
        { a.mixSlider(),    a.mixLabel(),    "MIX",    "%",   "100.0%" },
        { a.outputSlider(), a.outputLabel(), "OUTPUT", " dB", "0.0 dB" },
        { a.cutoffSlider(), a.cutoffLabel(), "CUTOFF", " Hz", "20000 Hz" },
        { a.resoSlider(),   a.resoLabel(),   "RESO",   "",    "0.71" },
        { a.chaosSlider(),  a.chaosLabel(),  "CHAOS",  "%",   "50.0%" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.caption);
        EXPECT_EQ (c.slider.getSliderStyle(), juce::Slider::RotaryHorizontalVerticalDrag);
        EXPECT_EQ (c.slider.getTextBoxPosition(), juce::Slider::TextBoxBelow);
        EXPECT_TRUE (c.slider.isTextBoxEditable());
        EXPECT_EQ (c.slider.getTextBoxWidth(), 80);
        EXPECT_EQ (c.slider.getTextBoxHeight(), 20);
        EXPECT_EQ (c.slider.findColour (juce::Slider::textBoxTextColourId), juce::Colour (0xffbb44ff));
        EXPECT_EQ (c.slider.findColour (juce::Slider::textBoxOutlineColourId), juce::Colours::transparentBlack);
        EXPECT_EQ (c.slider.getTextValueSuffix(), juce::String (c.suffix));
        EXPECT_EQ (valueBoxText (c.slider), juce::String (c.text));

        EXPECT_EQ (c.label.getText(), juce::String (c.caption));
        EXPECT_EQ (c.label.getFont().getHeight(), 12.0f);
        EXPECT_TRUE (c.label.getFont().isBold());
        EXPECT_EQ (c.label.getFont().getTypefaceName(), juce::Font::getDefaultMonospacedFontName());
        EXPECT_EQ (c.label.findColour (juce::Label::textColourId), juce::Colour (0xff00ffee));
        EXPECT_EQ (c.label.getJustificationType(), juce::Justification (juce::Justification::centred));
    }
}

TEST_F (EditorShell, SelectorsRowLabelsAndButtonsAreStyled)
{
    auto a = access();
    struct SelectorCase { juce::ComboBox& box; juce::StringArray items; juce::Label& label; const char* text; juce::uint32 colour; };
    const SelectorCase cases[] {
        { a.modeBox(), { "HARD CLIP", "SOFT CLIP", "BITCRUSH", "FOLDBACK" }, a.distLabel(), "DIST://", 0xffff2090 },
        { a.filterTypeBox(), { "LOWPASS", "HIGHPASS", "BANDPASS" }, a.filterLabel(), "FILTER://", 0xff00ffee },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.text);
        ASSERT_EQ (c.box.getNumItems(), c.items.size());
        for (int i = 0; i < c.items.size(); ++i)
        {
            EXPECT_EQ (c.box.getItemText (i), c.items[i]);
            EXPECT_EQ (c.box.getItemId (i), i + 1);
            EXPECT_TRUE (c.box.isItemEnabled (i + 1));
        }
        EXPECT_EQ (c.box.getSelectedId(), 1);

        EXPECT_EQ (c.label.getText(), juce::String (c.text));
        EXPECT_EQ (c.label.getFont().getHeight(), 13.0f);
        EXPECT_TRUE (c.label.getFont().isBold());
        EXPECT_EQ (c.label.findColour (juce::Label::textColourId), juce::Colour (c.colour));
        EXPECT_EQ (c.label.getJustificationType(), juce::Justification (juce::Justification::centredLeft));
    }

    struct ButtonCase { juce::TextButton& button; const char* caption; juce::uint32 textColour; };
    const ButtonCase buttons[] { { a.chaosButton(), "CHAOS", 0xffff2090 }, { a.resetButton(), "RESET", 0xff00ffee } };
    for (const auto& b : buttons)
    {
        EXPECT_EQ (b.button.getName(), juce::String (b.caption));
        EXPECT_EQ (b.button.getButtonText(), juce::String (b.caption));
        EXPECT_EQ (b.button.findColour (juce::TextButton::buttonColourId), juce::Colour (0xff08000f));
        EXPECT_EQ (b.button.findColour (juce::TextButton::textColourOffId), juce::Colour (b.textColour));
        EXPECT_FALSE (b.button.getClickingTogglesState());
    }

    EXPECT_TRUE (a.glitchButton().getButtonText().isEmpty());
    EXPECT_TRUE (a.glitchButton().getClickingTogglesState());
}

TEST_F (EditorShell, ControlsDriveTheirParameters)
{
    auto a = access();

    a.modeBox().setSelectedId (3, juce::sendNotificationSync);                  // "BITCRUSH"
    EXPECT_EQ (rawValue (processor, "mode"), 2.0f);
    a.filterTypeBox().setSelectedId (2, juce::sendNotificationSync);            // "HIGHPASS"
    EXPECT_EQ (rawValue (processor, "filterType"), 1.0f);

    a.glitchButton().setToggleState (true, juce::sendNotificationSync);
    EXPECT_EQ (rawValue (processor, "glitchOn"), 1.0f);

    // Typing into a knob's value box goes through the slider to the parameter.
    juce::Label* box = nullptr;
    for (auto* child : a.driveSlider().getChildren())
        if (auto* label = dynamic_cast<juce::Label*> (child))
            box = label;
    ASSERT_NE (box, nullptr);
    box->setText ("25", juce::sendNotificationSync);
    EXPECT_FLOAT_EQ (rawValue (processor, "drive"), 25.0f);
    EXPECT_EQ (valueBoxText (a.driveSlider()), "25.0%");
}

TEST_F (EditorShell, ANewEditorShowsTheCurrentParameterValues)
{
    editor.reset();
    processor.apvts.getParameter ("drive")->setValueNotifyingHost (0.25f);
    processor.apvts.getParameter ("output")->setValueNotifyingHost (0.5f);
    processor.apvts.getParameter ("mode")->setValueNotifyingHost (1.0f);
    processor.apvts.getParameter ("glitchOn")->setValueNotifyingHost (1.0f);

    editor = std::make_unique<BrellDistortionEditor> (processor);
    auto a = access();
    EXPECT_EQ (valueBoxText (a.driveSlider()), "25.0%");
    EXPECT_EQ (valueBoxText (a.outputSlider()), "-9.0 dB");
    EXPECT_EQ (a.modeBox().getText(), "FOLDBACK");
    EXPECT_TRUE (a.glitchButton().getToggleState());
}

TEST_F (EditorShell, ChaosClickRandomisesOnceAndLeavesTheGlitchSwitch)
{
    // A twin processor with the same generators tells one randomise from none or two.
    BrellDistortionProcessor twin;
    for (auto* p : { &processor, &twin })
    {
        BrellDistortionProcessorTestAccess (*p).chaosRandom().setSeed (1234);
        BrellDistortionProcessorTestAccess (*p).random().setSeed (5678);
    }

    const auto twinChanges = parameterChangesDuring (twin, [&] { twin.randomise(); });
    ASSERT_GT (twinChanges, 0);

    access().glitchButton().setToggleState (true, juce::sendNotificationSync);
    ASSERT_EQ (rawValue (processor, "glitchOn"), 1.0f);
    twin.apvts.getParameter ("glitchOn")->setValueNotifyingHost (1.0f);

    auto& button = access().chaosButton();
    juce::Component* clicked = nullptr;
    const auto changes = parameterChangesDuring (processor, [&] { clicked = clickAt (*editor, button.getBounds().getCentre()); });
    EXPECT_EQ (clicked, &button);

    EXPECT_EQ (changes, twinChanges);
    EXPECT_EQ (patternOf (processor), patternOf (twin));
    EXPECT_EQ (parameterValuesOf (processor), parameterValuesOf (twin));
    EXPECT_EQ (rawValue (processor, "glitchOn"), 1.0f);
    EXPECT_TRUE (access().glitchButton().getToggleState());
    EXPECT_FALSE (button.getToggleState());

    // The controls follow the new values through their attachments.
    auto* drive = processor.apvts.getParameter ("drive");
    EXPECT_NEAR (access().driveSlider().getValue(), drive->convertFrom0to1 (drive->getValue()), 1.0e-3);
}

TEST_F (EditorShell, ResetClickResetsOnceAndLeavesTheGlitchSwitch)
{
    BrellDistortionProcessor twin;
    const auto twinChanges = parameterChangesDuring (twin, [&] { twin.resetAll(); });
    ASSERT_GT (twinChanges, 0);

    processor.glitchPattern.set (2, 4, 3);
    access().glitchButton().setToggleState (true, juce::sendNotificationSync);
    access().modeBox().setSelectedId (4, juce::sendNotificationSync);

    auto& button = access().resetButton();
    juce::Component* clicked = nullptr;
    const auto changes = parameterChangesDuring (processor, [&] { clicked = clickAt (*editor, button.getBounds().getCentre()); });
    EXPECT_EQ (clicked, &button);

    EXPECT_EQ (changes, twinChanges);
    EXPECT_EQ (patternOf (processor), std::vector<int> (80, 0));
    EXPECT_EQ (rawValue (processor, "mode"), 0.0f);
    EXPECT_EQ (access().modeBox().getSelectedId(), 1);
    EXPECT_EQ (rawValue (processor, "glitchOn"), 1.0f);
    EXPECT_TRUE (access().glitchButton().getToggleState());
    EXPECT_FALSE (button.getToggleState());
}

TEST_F (EditorShell, TimerFeedsTheFourMetersInOrder)
{
    auto a = access();
    LevelMeter* meters[] { &a.inputMeterLeft(), &a.inputMeterRight(), &a.outputMeterLeft(), &a.outputMeterRight() };
    std::atomic<float>* levels[] { &processor.meterLevels.inputLeft, &processor.meterLevels.inputRight,
                                   &processor.meterLevels.outputLeft, &processor.meterLevels.outputRight };

    for (int i = 0; i < 4; ++i)
        levels[i]->store (0.1f * (float) (i + 1));

    editor->timerCallback();

    for (int i = 0; i < 4; ++i)
        EXPECT_FLOAT_EQ (EditorComponentTestAccess::level (*meters[i]), 0.1f * (float) (i + 1)) << "meter " << i;
}

TEST (EditorLifecycle, OpeningAndClosingRepeatedlyWhileAudioRuns)
{
    BrellDistortionProcessor processor;
    processor.setPlayConfigDetails (2, 2, 48000.0, 256);
    processor.prepareToPlay (48000.0, 256);

    std::atomic<bool> running { true };
    std::thread audio ([&]
    {
        juce::AudioBuffer<float> buffer (2, 256);
        juce::MidiBuffer midi;
        juce::Random noise (7);
        while (running.load())
        {
            for (int ch = 0; ch < 2; ++ch)
                for (int i = 0; i < buffer.getNumSamples(); ++i)
                    buffer.setSample (ch, i, noise.nextFloat() * 2.0f - 1.0f);

            const juce::ScopedLock lock (processor.getCallbackLock());
            processor.processBlock (buffer, midi);
        }
    });

    for (int round = 0; round < 4; ++round)
    {
        std::unique_ptr<juce::AudioProcessorEditor> editor (processor.createEditor());
        auto& shell = dynamic_cast<BrellDistortionEditor&> (*editor);

        for (int tick = 0; tick < 20; ++tick)
            shell.timerCallback();

        auto image = editor->createComponentSnapshot (editor->getLocalBounds());
        EXPECT_EQ (image.getWidth(), 820);
    }

    running = false;
    audio.join();
    processor.releaseResources();
}
