#pragma once

#include <juce_gui_basics/juce_gui_basics.h>
#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>

namespace pixeltest
{
    /** Source-over compositing of unpremultiplied colours, as a reference for what a renderer
        should leave behind after a stack of full-coverage fills. */
    inline juce::Colour over (juce::Colour dst, juce::Colour src)
    {
        const auto sa = src.getFloatAlpha();
        const auto da = dst.getFloatAlpha();
        const auto oa = sa + da * (1.0f - sa);

        if (oa <= 0.0f)
            return juce::Colours::transparentBlack;

        const auto channel = [&] (float s, float d) { return (s * sa + d * da * (1.0f - sa)) / oa; };

        return juce::Colour::fromFloatRGBA (channel (src.getFloatRed(), dst.getFloatRed()),
                                            channel (src.getFloatGreen(), dst.getFloatGreen()),
                                            channel (src.getFloatBlue(), dst.getFloatBlue()),
                                            oa);
    }

    /** A stack of layers composited from transparent black, bottom first. */
    inline juce::Colour stack (std::initializer_list<juce::uint32> layers)
    {
        auto c = juce::Colours::transparentBlack;
        for (auto l : layers)
            c = over (c, juce::Colour (l));
        return c;
    }

    inline int maxChannelDifference (juce::Colour a, juce::Colour b)
    {
        return juce::jmax (std::abs ((int) a.getAlpha() - (int) b.getAlpha()),
                           std::abs ((int) a.getRed() - (int) b.getRed()),
                           std::abs ((int) a.getGreen() - (int) b.getGreen()),
                           std::abs ((int) a.getBlue() - (int) b.getBlue()));
    }

    /** Colour channels of nearly transparent pixels carry little precision after premultiplication,
        so they are compared in premultiplied form. */
    inline int maxPremultipliedDifference (juce::Colour a, juce::Colour b)
    {
        const auto pa = a.getPixelARGB();
        const auto pb = b.getPixelARGB();
        return juce::jmax (std::abs ((int) pa.getAlpha() - (int) pb.getAlpha()),
                           std::abs ((int) pa.getRed() - (int) pb.getRed()),
                           std::abs ((int) pa.getGreen() - (int) pb.getGreen()),
                           std::abs ((int) pa.getBlue() - (int) pb.getBlue()));
    }

    inline ::testing::AssertionResult colourNear (juce::Colour actual, juce::Colour expected, int tolerance)
    {
        if (maxPremultipliedDifference (actual, expected) <= tolerance)
            return ::testing::AssertionSuccess();

        return ::testing::AssertionFailure() << "pixel 0x" << actual.toDisplayString (true)
                                             << ", expected 0x" << expected.toDisplayString (true)
                                             << " (tolerance " << tolerance << ")";
    }

    inline juce::Image snapshot (juce::Component& c)
    {
        return c.createComponentSnapshot (c.getLocalBounds(), true, 1.0f);
    }

    /** Number of pixels in the area whose colour lies within tolerance of the given one. */
    inline int countNear (const juce::Image& image, juce::Rectangle<int> area, juce::Colour colour, int tolerance)
    {
        int n = 0;
        for (int y = area.getY(); y < area.getBottom(); ++y)
            for (int x = area.getX(); x < area.getRight(); ++x)
                if (maxPremultipliedDifference (image.getPixelAt (x, y), colour) <= tolerance)
                    ++n;
        return n;
    }

    inline bool sameImage (const juce::Image& a, const juce::Image& b)
    {
        if (a.getBounds() != b.getBounds())
            return false;

        for (int y = 0; y < a.getHeight(); ++y)
            for (int x = 0; x < a.getWidth(); ++x)
                if (a.getPixelAt (x, y) != b.getPixelAt (x, y))
                    return false;
        return true;
    }
}
