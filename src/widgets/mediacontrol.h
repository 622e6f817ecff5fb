// The media control layer the sound player plays through.

#pragma once

#include "nqtypes.h"

#include <cstdint>
#include <memory>

// Our media control layer: the few operations the sound player relies on.
// Devices are numbered from 1; 0 is no device.
class IMediaControl
{
public:
    static constexpr std::uint32_t NoError = 0;
    static constexpr std::uint32_t ErrorFileNotFound = 275;
    static constexpr std::uint32_t ErrorCannotDetermineType = 266;
    static constexpr std::uint32_t ErrorInvalidFile = 277;
    static constexpr std::uint32_t ErrorInvalidDevice = 257;

    virtual ~IMediaControl() = default;

    // Opens a sound file with the device its type calls for, checking the
    // file at once. Gives the device id in *device, or an error code.
    virtual std::uint32_t Open(const String& fileName, std::uint32_t* device) = 0;
    // Length and position of the opened medium, in milliseconds.
    virtual std::uint32_t Length(std::uint32_t device) = 0;
    virtual std::uint32_t Position(std::uint32_t device) = 0;
    virtual void SeekToStart(std::uint32_t device) = 0;
    // Starts playing and returns at once.
    virtual std::uint32_t Play(std::uint32_t device) = 0;
    // Stops a sound still playing and releases the device.
    virtual std::uint32_t Close(std::uint32_t device) = 0;
    // A readable text for an error code; empty when there is none.
    virtual String ErrorText(std::uint32_t code) = 0;
};

// The layer in use; the program's default plays through Qt Multimedia.
// Tests install a recorder. Returns the previous one.
IMediaControl& MediaControl();
std::unique_ptr<IMediaControl> SetMediaControl(std::unique_ptr<IMediaControl> control);

// Checks that a file is a RIFF WAVE file with PCM data that can be played.
bool IsPlayableWave(const String& fileName, std::uint32_t* lengthMs);
