#pragma once

#include "BrellDistortionProcessor.h"

// The processor befriends this struct so that tests can read and set its private state.
struct BrellDistortionProcessorTestAccess
{
    explicit BrellDistortionProcessorTestAccess (BrellDistortionProcessor& p) : proc (p) {}

    juce::dsp::Oversampling<float>& oversampler()                { return proc.oversampler; }
    int32_t& scopeWriteIndex()                                   { return proc.scopeWriteIndex; }
    juce::dsp::StateVariableTPTFilter<float>& filterLeft()       { return proc.filterLeft; }
    juce::dsp::StateVariableTPTFilter<float>& filterRight()      { return proc.filterRight; }
    double& sampleRate()                                         { return proc.sampleRate; }
    double& stepAccumulator()                                    { return proc.stepAccumulator; }
    double& samplesPerStep()                                     { return proc.samplesPerStep; }
    int32_t& lastStep()                                          { return proc.lastStep; }
    double& bpm()                                                { return proc.bpm; }
    float* captureRow (int row)                                  { return proc.captureBuffer[row]; }
    int32_t& captureWritePos()                                   { return proc.captureWritePos; }
    int32_t& stutterReadPos()                                    { return proc.stutterReadPos; }
    int32_t& stutterLength()                                     { return proc.stutterLength; }
    float& tapeSpeed()                                           { return proc.tapeSpeed; }
    float& tapePosition()                                        { return proc.tapePosition; }
    float& crushBits()                                           { return proc.crushBits; }
    int32_t& reversePos()                                        { return proc.reversePos; }
    int32_t& gateCounter()                                       { return proc.gateCounter; }
    bool& gateOpen()                                             { return proc.gateOpen; }
    int32_t& gateLength()                                        { return proc.gateLength; }
    juce::Random& random()                                       { return proc.random; }
    juce::Random& chaosRandom()                                  { return proc.chaosRandom; }
    int32_t& tapeStartPos()                                      { return proc.tapeStartPos; }
    juce::AudioBuffer<float>& dryBuffer()                        { return proc.dryBuffer; }
    int& preparedBlockSize()                                     { return proc.preparedBlockSize; }
    int32_t& stutterStartPos()                                   { return proc.stutterStartPos; }
    juce::AudioBuffer<float>& stutterWindow()                    { return proc.stutterWindow; }
    int32_t& stutterWindowFill()                                 { return proc.stutterWindowFill; }

    void advanceSequencer (const juce::AudioPlayHead::PositionInfo& pos, int n) { proc.advanceSequencer (pos, n); }
    bool isRowActiveAtStep (int row, int step) const                          { return proc.isRowActiveAtStep (row, step); }
    void triggerGlitch (int row)                                              { proc.triggerGlitch (row); }
    void processGlitch (float* l, float* r, int n)                            { proc.processGlitch (l, r, n); }

    BrellDistortionProcessor& proc;
};
