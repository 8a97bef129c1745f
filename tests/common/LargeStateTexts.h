#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>

// Pieces of the oversized states that the engine and host tests feed the loader, and the name a
// table case of such states goes by.
namespace largestate
{
    inline std::string repeated (const std::string& piece, int times)
    {
        std::string s;
        s.reserve (piece.size() * (size_t) times);
        for (int i = 0; i < times; ++i)
            s += piece;
        return s;
    }

    /** count attributes prefix0="1" prefix1="1" ..., each followed by a space. */
    inline std::string attributes (const std::string& prefix, int count)
    {
        std::string s;
        for (int i = 0; i < count; ++i)
            s += prefix + std::to_string (i) + "=\"1\" ";
        return s;
    }

    /** A case's name as a test name: its text with every other character than a letter or digit
        made '_'. */
    template <typename Case>
    std::string caseName (const testing::TestParamInfo<Case>& info)
    {
        std::string name;
        for (const char c : std::string (info.param.name))
            name += std::isalnum ((unsigned char) c) ? c : '_';
        return name;
    }
}
