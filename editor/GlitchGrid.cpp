#include "GlitchGrid.h"

#include "ZandorLookAndFeel.h"

#include <array>
#include <cmath>
#include <cstdint>

namespace
{
    const juce::Colour accent { 0xffbb44ff };

    juce::Font boldMonospaced (float height)
    {
        return juce::Font (juce::FontOptions (juce::Font::getDefaultMonospacedFontName(), height, juce::Font::bold));
    }

    // Cell values come from several writers (state loading included), so block ends are
    // worked out in 64 bits: a huge length must not overflow.
    int64_t blockEnd (int start, int32_t length) noexcept
    {
        return (int64_t) start + (int64_t) length - 1;
    }
}

juce::Colour GlitchGrid::rowColour (int row) noexcept
{
    static constexpr juce::uint32 colours[numRows] { 0xffff6b00, 0xff00ccff, 0xffff2090, 0xff00ff88, 0xffffff00 };
    return juce::Colour (colours[juce::jlimit (0, numRows - 1, row)]);
}

GlitchGrid::GlitchGrid (BrellDistortionProcessor& processor)
    : processorRef (processor)
{
    startTimer (33);
}

GlitchGrid::~GlitchGrid() = default;

//==============================================================================
bool GlitchGrid::hasRoomForCells() const noexcept
{
    return (float) getWidth() > labelWidth && (float) getHeight() > headerHeight;
}

float GlitchGrid::cellWidth() const noexcept   { return ((float) getWidth() - labelWidth) / (float) numSteps; }
float GlitchGrid::rowHeight() const noexcept   { return ((float) getHeight() - headerHeight) / (float) numRows; }

juce::Rectangle<float> GlitchGrid::cellBounds (int row, int step) const noexcept
{
    const auto cw = cellWidth();
    const auto rh = rowHeight();
    return { labelWidth + (float) step * cw, headerHeight + (float) row * rh, cw, rh };
}

GlitchGrid::GridCell GlitchGrid::cellAt (juce::Point<int> position) const noexcept
{
    if (! hasRoomForCells())
        return {};

    if (position.x < (int) labelWidth || position.y < (int) headerHeight)
        return {};

    // Range-checked before the truncating conversion, which is then always defined.
    const auto stepF = ((float) position.x - labelWidth) / cellWidth();
    if (! (stepF > -1.0f && stepF < (float) numSteps))
        return {};

    const auto rowF = ((float) position.y - headerHeight) / rowHeight();
    if (! (rowF > -1.0f && rowF < (float) numRows))
        return {};

    const auto step = (int) stepF;
    const auto row = (int) rowF;

    if (step < 0 || row < 0)
        return {};

    return { row, step };
}

//==============================================================================
void GlitchGrid::mouseDown (const juce::MouseEvent& event)
{
    const auto cell = cellAt (event.getPosition());
    if (cell.row < 0)
        return;

    auto& pattern = processorRef.glitchPattern;
    bool covered = false;
    bool changed = false;

    for (int i = 0; i <= cell.step && ! covered; ++i)
    {
        const auto v = pattern.get (cell.row, i);
        covered = v > 0 && blockEnd (i, v) >= cell.step;
    }

    if (covered)
    {
        // Only the covering block that starts last goes, so overlapping blocks peel off one per press.
        for (int j = cell.step; j >= 0; --j)
        {
            const auto v = pattern.get (cell.row, j);
            if (v > 0 && blockEnd (j, v) >= cell.step)
            {
                changed = pattern.set (cell.row, j, 0) != 0;
                break;
            }
        }

        erasing = true;
        dragging = false;
    }
    else
    {
        dragRow = cell.row;
        dragStartStep = lastDragStep = cell.step;
        dragging = true;
        erasing = false;
        changed = pattern.set (cell.row, cell.step, 1) != 1;
    }

    if (changed)
        processorRef.notifyPatternChanged();

    repaint();
}

void GlitchGrid::mouseDrag (const juce::MouseEvent& event)
{
    if (erasing || ! dragging)
        return;

    const auto cell = cellAt (event.getPosition());
    if (cell.row < 0 || cell.row != dragRow || cell.step == lastDragStep)
        return;

    lastDragStep = cell.step;
    const auto lo = juce::jmin (cell.step, dragStartStep);
    const auto hi = juce::jmax (cell.step, dragStartStep);
    auto& pattern = processorRef.glitchPattern;

    // A move clears cells and writes some of them again, so what counts is the row before and after.
    std::array<int32_t, numSteps> before {};
    for (int i = 0; i < numSteps; ++i)
        before[(size_t) i] = pattern.get (dragRow, i);

    // Everything from the anchor rightward belongs to the block being drawn.
    for (int i = dragStartStep; i < numSteps; ++i)
        if (pattern.get (dragRow, i) > 0)
            pattern.set (dragRow, i, 0);

    // Left of lo the row must not reach into the new block. The anchor was free when the gesture
    // began, so a block there that still reaches the anchor is one an earlier move of this gesture
    // wrote: it goes. Any other block that reaches into lo..hi is cut back to end at lo - 1.
    for (int i = 0; i < lo; ++i)
    {
        const auto v = pattern.get (dragRow, i);
        if (v <= 0)
            continue;

        const auto end = blockEnd (i, v);
        if (end >= dragStartStep)
            pattern.set (dragRow, i, 0);
        else if (end >= lo)
            pattern.set (dragRow, i, lo - i);
    }

    pattern.set (dragRow, lo, hi - lo + 1);
    for (int i = lo + 1; i <= hi; ++i)
        pattern.set (dragRow, i, 0);

    for (int i = 0; i < numSteps; ++i)
    {
        if (pattern.get (dragRow, i) != before[(size_t) i])
        {
            processorRef.notifyPatternChanged();
            break;
        }
    }

    repaint();
}

void GlitchGrid::mouseUp (const juce::MouseEvent&)
{
    dragging = false;
    erasing = false;
    dragRow = -1;
    repaint();
}

void GlitchGrid::timerCallback()
{
    repaint();
}

//==============================================================================
void GlitchGrid::paint (juce::Graphics& g)
{
    const auto w = (float) getWidth();
    const auto h = (float) getHeight();
    const juce::Rectangle<float> bounds { 0.0f, 0.0f, w, h };

    ZandorLookAndFeel::drawDisplayPanel (g, bounds);

    // Without room for cells the geometry below would be empty or negative.
    if (! hasRoomForCells())
        return;

    const auto L = labelWidth;
    const auto H = headerHeight;
    const auto cw = cellWidth();
    const auto rh = rowHeight();

    const auto cs = (int) processorRef.currentStep.load();
    const auto mask = (int) processorRef.activeMask.load();

    // Step numbers, with the current step highlighted.
    g.setFont (boldMonospaced (11.0f));
    for (int s = 0; s < numSteps; ++s)
    {
        const auto x = L + (float) s * cw;

        if (s == cs)
        {
            g.setColour (juce::Colour (0x26bb44ff));
            g.fillRect (juce::Rectangle<float> (x, 0.0f, cw, H));
            g.setColour (accent);
        }
        else
        {
            g.setColour (juce::Colour (0x807722cc));
        }

        g.drawText (juce::String (s + 1), juce::Rectangle<int> ((int) x, 0, (int) cw, (int) H),
                    juce::Justification::centred);
    }

    g.setColour (juce::Colour (0x4cbb44ff));
    g.drawHorizontalLine ((int) H, L, w);

    // Row labels; a sounding row lights its label cell.
    g.setFont (boldMonospaced (12.0f));
    for (int r = 0; r < numRows; ++r)
    {
        const auto y = H + (float) r * rh;
        const auto c = rowColour (r);

        if ((mask & (1 << r)) != 0)
        {
            g.setColour (c.withAlpha ((juce::uint8) 0x14));
            g.fillRect (juce::Rectangle<float> (0.0f, y, L, rh));
            g.setColour (c);
        }
        else
        {
            g.setColour (c.withAlpha ((juce::uint8) 0x80));
        }

        g.drawText (rowLabels[r], juce::Rectangle<int> (6, (int) y, (int) (L - 8.0f), (int) rh),
                    juce::Justification::centredLeft);

        g.setColour (juce::Colour (0x1fbb44ff));
        g.drawHorizontalLine ((int) y, 0.0f, w);
    }

    g.setColour (juce::Colour (0x33bb44ff));
    g.drawVerticalLine ((int) L, H, h);

    // Cells: each block is drawn once from its first step; the steps it covers are skipped.
    const auto& pattern = processorRef.glitchPattern;
    for (int r = 0; r < numRows; ++r)
    {
        const auto c = rowColour (r);

        for (int s = 0; s < numSteps;)
        {
            const auto v = pattern.get (r, s);
            const auto cell = cellBounds (r, s);

            if (v > 0)
            {
                const auto e = blockEnd (s, v);
                const auto lastStep = (int) juce::jmin<int64_t> (e, numSteps - 1);
                const auto R = cell.getUnion (cellBounds (r, lastStep)).reduced (1.5f);
                const auto lit = cs >= s && (int64_t) cs <= e;

                g.setColour (c.withAlpha ((juce::uint8) 0x1f));
                g.fillRoundedRectangle (R.expanded (2.0f), 3.0f);
                g.setColour (c.withAlpha ((juce::uint8) (lit ? 0xd9 : 0x8c)));
                g.fillRoundedRectangle (R, 3.0f);
                g.setColour (juce::Colours::white.withAlpha ((juce::uint8) (lit ? 0x33 : 0x14)));
                g.fillRoundedRectangle (R.reduced (1.0f), 3.0f);
                g.setColour (c.withAlpha ((juce::uint8) 0x66));
                g.drawRoundedRectangle (R, 3.0f, 0.5f);

                if (e >= numSteps - 1)
                    break;

                s = (int) e + 1;
            }
            else
            {
                const auto R = cell.reduced (1.5f);
                const auto current = s == cs;

                g.setColour (c.withAlpha ((juce::uint8) (current ? 0x14 : 0x08)));
                g.fillRoundedRectangle (R, 2.0f);
                g.setColour (c.withAlpha ((juce::uint8) (current ? 0x33 : 0x14)));
                g.drawRoundedRectangle (R, 2.0f, 0.5f);
                ++s;
            }
        }
    }

    if (cs >= 0 && cs < numSteps)
    {
        const auto cx = L + (float) cs * cw + 0.5f * cw;
        g.setColour (juce::Colour (0x0dbb44ff));
        g.fillRect (juce::Rectangle<float> (cx - 4.0f, H, 8.0f, h - H));
        g.setColour (juce::Colour (0x80bb44ff));
        g.drawVerticalLine ((int) cx, H, h);
    }

    g.setColour (juce::Colour (0x26bb44ff));
    for (int k = 4; k < numSteps; k += 4)
        g.drawVerticalLine ((int) (L + (float) k * cw), H, h);
}
