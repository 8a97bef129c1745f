#pragma once

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <memory>

/** A top-level host window holding a hosted plug-in's editor, as a DAW opens it: JUCE's VST3
    hosting attaches the plug-in's IPlugView to this window through its X11 window id. */
class EditorWindow : public juce::DocumentWindow
{
public:
    /** Asks the instance for its editor and shows it; check hasEditor() afterwards. */
    EditorWindow (juce::AudioPluginInstance& instance, const juce::String& title);
    /** Deletes the editor (the plug-in removes its view) before the window goes. */
    ~EditorWindow() override;

    bool hasEditor() const noexcept                   { return editor != nullptr; }
    juce::AudioProcessorEditor* getEditor() noexcept  { return editor.get(); }

    /** The editor's size as the plug-in's view reports it. */
    juce::Rectangle<int> getEditorBounds() const;
    /** Whether the view says that it can be resized. */
    bool canResize() const;

    /** The X11 id of this top-level window, 0 before it is on the desktop. */
    unsigned long getNativeWindowId() const;
    /** Where the editor's top-left corner lies on the screen. */
    juce::Point<int> getEditorScreenPosition() const;

    /** Reads back what the X server shows of the whole window, the plug-in's child window included. */
    juce::Image capture (juce::String& error) const;

    std::function<void()> onCloseRequested;

    void closeButtonPressed() override;

private:
    std::unique_ptr<juce::AudioProcessorEditor> editor;

    JUCE_DECLARE_NON_COPYABLE (EditorWindow)
};

/** Colour statistics of a captured image, enough to tell a drawn editor from a blank one. */
struct ImageSummary
{
    int distinctColours = 0;       // every one counted
    float meanBrightness = 0.0f;   // 0..1
};

ImageSummary summariseImage (const juce::Image&, juce::Rectangle<int> area);
