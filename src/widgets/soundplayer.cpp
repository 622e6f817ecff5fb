// The sound player (TVelPlayer): plays a WAVE file through the media layer.

#include "soundplayer.h"

#include "credits.h"
#include "mediacontrol.h"

TVelPlayer::TVelPlayer(QWidget* Owner) : QWidget(Owner)
{
    setFixedSize(16, 16);
}

TVelPlayer::~TVelPlayer()
{
    closeDevice();
}

String TVelPlayer::Copyright() const
{
    return kNetquarryCredit;
}

void TVelPlayer::SetMediaFiles(const std::vector<String>& files)
{
    m_mediaFiles = files;
    update();
}

void TVelPlayer::SetMediaFileIndex(Integer Value)
{
    const auto count = static_cast<Integer>(m_mediaFiles.size());
    if (count == 0)
        throw EListError("List index out of bounds (" + std::to_string(Value < 0 ? 0 : -1) + ")");
    if (Value < 0)
        m_mediaFileIndex = 0;
    else if (Value > count - 1)
        m_mediaFileIndex = count - 1;
    else
        m_mediaFileIndex = Value;
    m_fileName = m_mediaFiles[static_cast<std::size_t>(m_mediaFileIndex)];
}

void TVelPlayer::PlayMediaFile(Integer Index)
{
    SetMediaFileIndex(Index);
    open();
    play();
}

void TVelPlayer::closeDevice()
{
    // A failed close is not reported; the player goes on without the device.
    if (m_deviceId != 0)
        MediaControl().Close(m_deviceId);
    m_deviceId = 0;
}

void TVelPlayer::open()
{
    closeDevice();
    std::uint32_t device = 0;
    const std::uint32_t error = MediaControl().Open(m_fileName, &device);
    if (error != IMediaControl::NoError) {
        String text = MediaControl().ErrorText(error);
        throw EMCIDeviceError(text.empty() ? String("Unknown error code") : text);
    }
    m_deviceId = device;
}

void TVelPlayer::play()
{
    if (m_deviceId == 0)
        throw EMCIDeviceError("No MCI device open");
    IMediaControl& control = MediaControl();
    if (control.Position(m_deviceId) == control.Length(m_deviceId))
        control.SeekToStart(m_deviceId);
    m_lastError = control.Play(m_deviceId);
}
