#include "WindowCapture.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace
{
    int ignoreErrors (Display*, XErrorEvent*) { return 0; }

    /** One private connection per call: JUCE's own connection belongs to the message thread. */
    struct Connection
    {
        Connection()
        {
            installLenientX11ErrorHandler();
            display = XOpenDisplay (nullptr);
        }

        ~Connection()
        {
            if (display != nullptr)
                XCloseDisplay (display);
        }

        Display* display = nullptr;
    };

    int channelShift (unsigned long mask)
    {
        int shift = 0;
        while (mask != 0 && (mask & 1ul) == 0)
        {
            mask >>= 1;
            ++shift;
        }
        return shift;
    }

    unsigned long channelMax (unsigned long mask)
    {
        return mask >> channelShift (mask);
    }
}

void installLenientX11ErrorHandler()
{
    // Xlib's default handler ends the process. JUCE replaces it only inside a JUCEApplication, and
    // neither this host nor the plug-in's own copy of JUCE is one; without a window manager some
    // of JUCE's window properties name atoms that do not exist, which must not end the host.
    static const bool installed = [] { XSetErrorHandler (ignoreErrors); return true; }();
    (void) installed;
}

bool canOpenX11Display()
{
    Connection connection;
    return connection.display != nullptr;
}

bool captureX11Window (unsigned long windowId, CapturedPixels& pixels, std::string& error)
{
    Connection connection;
    if (connection.display == nullptr)
    {
        error = "cannot open the X display";
        return false;
    }

    XWindowAttributes attributes {};
    if (XGetWindowAttributes (connection.display, (Window) windowId, &attributes) == 0)
    {
        error = "no such window";
        return false;
    }

    if (attributes.map_state != IsViewable)
    {
        error = "the window is not viewable";
        return false;
    }

    XImage* image = XGetImage (connection.display, (Window) windowId, 0, 0,
                               (unsigned int) attributes.width, (unsigned int) attributes.height, AllPlanes, ZPixmap);
    if (image == nullptr)
    {
        error = "XGetImage failed";
        return false;
    }

    const unsigned long masks[] = { image->red_mask, image->green_mask, image->blue_mask };
    pixels.width = image->width;
    pixels.height = image->height;
    pixels.argb.assign ((size_t) pixels.width * (size_t) pixels.height, 0);

    for (int y = 0; y < image->height; ++y)
    {
        for (int x = 0; x < image->width; ++x)
        {
            const auto value = XGetPixel (image, x, y);
            uint32_t argb = 0xff000000u;
            for (int c = 0; c < 3; ++c)
            {
                const auto max = channelMax (masks[c]);
                const auto raw = (value & masks[c]) >> channelShift (masks[c]);
                const auto byte = max == 0 ? 0u : (uint32_t) ((raw * 255u + max / 2) / max);
                argb |= byte << (16 - 8 * c);
            }
            pixels.argb[(size_t) y * (size_t) pixels.width + (size_t) x] = argb;
        }
    }

    XDestroyImage (image);
    return true;
}

bool getX11WindowGeometry (unsigned long windowId, WindowGeometry& geometry)
{
    Connection connection;
    if (connection.display == nullptr)
        return false;

    XWindowAttributes attributes {};
    if (XGetWindowAttributes (connection.display, (Window) windowId, &attributes) == 0)
        return false;

    Window child = 0;
    int rootX = 0, rootY = 0;
    XTranslateCoordinates (connection.display, (Window) windowId, attributes.root, 0, 0, &rootX, &rootY, &child);

    geometry.x = rootX;
    geometry.y = rootY;
    geometry.width = attributes.width;
    geometry.height = attributes.height;
    geometry.viewable = attributes.map_state == IsViewable;
    return true;
}

std::vector<unsigned long> getX11ChildWindows (unsigned long windowId)
{
    std::vector<unsigned long> result;
    Connection connection;
    if (connection.display == nullptr)
        return result;

    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree (connection.display, (Window) windowId, &root, &parent, &children, &count) != 0)
    {
        for (unsigned int i = 0; i < count; ++i)
            result.push_back ((unsigned long) children[i]);
        if (children != nullptr)
            XFree (children);
    }
    return result;
}
