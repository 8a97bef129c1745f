#pragma once

// Direct X11 access for what JUCE's windowing does not offer a host: reading back the pixels of a
// window (including the plug-in's embedded child window) and its place on the screen.
// Kept free of JUCE types so the X11 headers stay in one translation unit.
#include <cstdint>
#include <string>
#include <vector>

struct CapturedPixels
{
    int width = 0;
    int height = 0;
    std::vector<uint32_t> argb;    // row by row, 0xAARRGGBB, alpha always 0xff
};

struct WindowGeometry
{
    int x = 0, y = 0;              // position on the root window (the screen)
    int width = 0, height = 0;
    bool viewable = false;
};

/** Makes X protocol errors non-fatal for the whole process (once; later calls do nothing). */
void installLenientX11ErrorHandler();

/** True when the display named by DISPLAY can be opened. */
bool canOpenX11Display();

bool captureX11Window (unsigned long windowId, CapturedPixels& pixels, std::string& error);
bool getX11WindowGeometry (unsigned long windowId, WindowGeometry& geometry);
/** The direct children of a window, bottom to top. */
std::vector<unsigned long> getX11ChildWindows (unsigned long windowId);
