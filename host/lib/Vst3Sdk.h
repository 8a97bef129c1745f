#pragma once

// The VST3 interfaces this host talks to directly, from the SDK that ships inside JUCE.
#include <juce_core/juce_core.h>

#include <cstring>

JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wconversion", "-Wshadow", "-Wsign-conversion", "-Wnon-virtual-dtor",
                                     "-Wzero-as-null-pointer-constant", "-Wextra-semi", "-Wunused-parameter",
                                     "-Wdeprecated-declarations", "-Wfloat-equal", "-Wpedantic")
#include <pluginterfaces/base/ibstream.h>
#include <pluginterfaces/base/ipluginbase.h>
#include <pluginterfaces/vst/ivstcomponent.h>
#include <pluginterfaces/vst/ivstunits.h>
JUCE_END_IGNORE_WARNINGS_GCC_LIKE
