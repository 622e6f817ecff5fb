// The media control layer the sound player plays through.

#include "mediacontrol.h"

#include <QSoundEffect>
#include <QUrl>

#include <array>
#include <cstring>
#include <fstream>
#include <map>

namespace {

std::uint32_t readLe32(const unsigned char* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8U |
           static_cast<std::uint32_t>(p[2]) << 16U | static_cast<std::uint32_t>(p[3]) << 24U;
}

std::uint16_t readLe16(const unsigned char* p)
{
    return static_cast<std::uint16_t>(p[0] | p[1] << 8U);
}

// Plays through Qt Multimedia. Without a sound device Qt plays nothing and
// reports nothing, which is what a desktop program should do then.
class QtMediaControl final : public IMediaControl
{
public:
    std::uint32_t Open(const String& fileName, std::uint32_t* device) override
    {
        *device = 0;
        std::uint32_t length = 0;
        if (fileName.empty() || !std::ifstream(fileName, std::ios::binary))
            return ErrorFileNotFound;
        if (!IsPlayableWave(fileName, &length))
            return ErrorInvalidFile;
        auto effect = std::make_unique<QSoundEffect>();
        effect->setSource(QUrl::fromLocalFile(QString::fromLocal8Bit(fileName.c_str())));
        const std::uint32_t id = ++m_lastId;
        m_devices[id] = {std::move(effect), length};
        *device = id;
        return NoError;
    }
    std::uint32_t Length(std::uint32_t device) override
    {
        const auto it = m_devices.find(device);
        return it == m_devices.end() ? 0 : it->second.length;
    }
    std::uint32_t Position(std::uint32_t) override { return 0; }
    void SeekToStart(std::uint32_t) override {}
    std::uint32_t Play(std::uint32_t device) override
    {
        const auto it = m_devices.find(device);
        if (it == m_devices.end())
            return ErrorInvalidDevice;
        it->second.effect->play();
        return NoError;
    }
    std::uint32_t Close(std::uint32_t device) override
    {
        return m_devices.erase(device) == 1 ? NoError : ErrorInvalidDevice;
    }
    String ErrorText(std::uint32_t code) override
    {
        switch (code) {
        case ErrorFileNotFound:
            return "The specified file was not found.";
        case ErrorInvalidFile:
            return "The specified file cannot be played on the specified MCI device.";
        case ErrorCannotDetermineType:
            return "Cannot determine the type of device from the given filename extension.";
        case ErrorInvalidDevice:
            return "Invalid MCI device ID.";
        default:
            return String();
        }
    }

private:
    struct Device
    {
        std::unique_ptr<QSoundEffect> effect;
        std::uint32_t length = 0;
    };
    std::map<std::uint32_t, Device> m_devices;
    std::uint32_t m_lastId = 0;
};

std::unique_ptr<IMediaControl>& current()
{
    static std::unique_ptr<IMediaControl> control;
    return control;
}

} // namespace

bool IsPlayableWave(const String& fileName, std::uint32_t* lengthMs)
{
    std::ifstream in(fileName, std::ios::binary);
    std::array<unsigned char, 12> riff{};
    if (!in.read(reinterpret_cast<char*>(riff.data()), riff.size()) ||
        std::memcmp(riff.data(), "RIFF", 4) != 0 || std::memcmp(riff.data() + 8, "WAVE", 4) != 0)
        return false;
    std::uint32_t byteRate = 0;
    bool pcm = false;
    // Walk the chunks; a WAVE file needs a PCM "fmt " before its "data".
    for (int chunks = 0; chunks < 64; ++chunks) {
        std::array<unsigned char, 8> head{};
        if (!in.read(reinterpret_cast<char*>(head.data()), head.size()))
            return false;
        const std::uint32_t size = readLe32(head.data() + 4);
        if (std::memcmp(head.data(), "fmt ", 4) == 0) {
            std::array<unsigned char, 16> fmt{};
            if (size < fmt.size() || !in.read(reinterpret_cast<char*>(fmt.data()), fmt.size()))
                return false;
            const std::uint16_t format = readLe16(fmt.data());
            const std::uint16_t channels = readLe16(fmt.data() + 2);
            byteRate = readLe32(fmt.data() + 8);
            pcm = format == 1 && channels > 0 && byteRate > 0;
            in.seekg(static_cast<std::streamoff>(size - fmt.size() + (size & 1U)), std::ios::cur);
        } else if (std::memcmp(head.data(), "data", 4) == 0) {
            if (!pcm)
                return false;
            if (lengthMs)
                *lengthMs = static_cast<std::uint32_t>(std::uint64_t{size} * 1000U / byteRate);
            return true;
        } else {
            in.seekg(static_cast<std::streamoff>(size + (size & 1U)), std::ios::cur);
        }
    }
    return false;
}

IMediaControl& MediaControl()
{
    if (!current())
        current() = std::make_unique<QtMediaControl>();
    return *current();
}

std::unique_ptr<IMediaControl> SetMediaControl(std::unique_ptr<IMediaControl> control)
{
    return std::exchange(current(), std::move(control));
}
