#include "EditorWindow.h"

#include "WindowCapture.h"

#include <algorithm>
#include <vector>

namespace
{
    const juce::String& prepareX11 (const juce::String& title)
    {
        installLenientX11ErrorHandler();
        return title;
    }
}

EditorWindow::EditorWindow (juce::AudioPluginInstance& instance, const juce::String& title)
    : juce::DocumentWindow (prepareX11 (title), juce::Colours::black, juce::DocumentWindow::closeButton, true)
{
    setUsingNativeTitleBar (false);
    editor.reset (instance.createEditorIfNeeded());

    if (editor != nullptr)
    {
        setContentNonOwned (editor.get(), true);
        setResizable (editor->isResizable(), false);
    }

    setTopLeftPosition (40, 40);
    setVisible (true);
    toFront (false);
}

EditorWindow::~EditorWindow()
{
    clearContentComponent();
    editor.reset();
}

juce::Rectangle<int> EditorWindow::getEditorBounds() const
{
    return editor != nullptr ? editor->getLocalBounds() : juce::Rectangle<int>();
}

bool EditorWindow::canResize() const
{
    return editor != nullptr && editor->isResizable();
}

unsigned long EditorWindow::getNativeWindowId() const
{
    if (auto* peer = getPeer())
        return (unsigned long) reinterpret_cast<juce::pointer_sized_uint> (peer->getNativeHandle());
    return 0;
}

juce::Point<int> EditorWindow::getEditorScreenPosition() const
{
    if (editor == nullptr)
        return {};

    WindowGeometry geometry;
    if (getX11WindowGeometry (getNativeWindowId(), geometry))
        return juce::Point<int> (geometry.x, geometry.y) + getLocalPoint (editor.get(), juce::Point<int>());
    return editor->getScreenPosition();
}

juce::Image EditorWindow::capture (juce::String& error) const
{
    CapturedPixels pixels;
    std::string message;
    if (! captureX11Window (getNativeWindowId(), pixels, message))
    {
        error = message;
        return {};
    }

    juce::Image image (juce::Image::ARGB, pixels.width, pixels.height, false);
    juce::Image::BitmapData bitmap (image, juce::Image::BitmapData::writeOnly);
    for (int y = 0; y < pixels.height; ++y)
        for (int x = 0; x < pixels.width; ++x)
            bitmap.setPixelColour (x, y, juce::Colour ((juce::uint32) pixels.argb[(size_t) y * (size_t) pixels.width + (size_t) x]));
    return image;
}

void EditorWindow::closeButtonPressed()
{
    if (onCloseRequested)
        onCloseRequested();
}

ImageSummary summariseImage (const juce::Image& image, juce::Rectangle<int> area)
{
    ImageSummary summary;
    area = area.getIntersection (image.getBounds());
    if (area.isEmpty())
        return summary;

    std::vector<juce::uint32> colours;
    colours.reserve ((size_t) area.getWidth() * (size_t) area.getHeight());
    double brightness = 0.0;
    const juce::Image::BitmapData bitmap (image, juce::Image::BitmapData::readOnly);

    for (int y = area.getY(); y < area.getBottom(); ++y)
    {
        for (int x = area.getX(); x < area.getRight(); ++x)
        {
            const auto colour = bitmap.getPixelColour (x, y);
            brightness += colour.getPerceivedBrightness();
            colours.push_back (colour.getARGB());
        }
    }

    std::sort (colours.begin(), colours.end());
    summary.distinctColours = (int) (std::unique (colours.begin(), colours.end()) - colours.begin());
    summary.meanBrightness = (float) (brightness / (double) area.getWidth() / (double) area.getHeight());
    return summary;
}
