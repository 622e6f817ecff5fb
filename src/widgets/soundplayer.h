// The sound player (TVelPlayer): plays a WAVE file through the media layer.

#pragma once

#include "nqtypes.h"

#include <QWidget>

#include <stdexcept>
#include <vector>

// The device could not be opened; the text is the media layer's.
class EMCIDeviceError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// An index outside a list: "List index out of bounds (%d)".
class EListError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Plays short sound files by their index in a list of file names, through
// the replaceable media layer. A new sound cuts off the one before it.
class TVelPlayer : public QWidget
{
    Q_OBJECT

public:
    explicit TVelPlayer(QWidget* Owner = nullptr);
    // Closes an open device, which stops a sound still playing.
    ~TVelPlayer() override;

    std::vector<String>& MediaFiles() { return m_mediaFiles; }
    void SetMediaFiles(const std::vector<String>& files);
    Integer MediaFileIndex() const { return m_mediaFileIndex; }
    void SetMediaFileIndex(Integer Value);
    String Copyright() const;
    void SetCopyright(const String&) {}

    // Opens the entry's file and starts playing it; returns at once.
    // Throws EMCIDeviceError when the file cannot be opened.
    void PlayMediaFile(Integer Index);

    // The name the next open uses.
    const String& FileName() const { return m_fileName; }
    bool DeviceOpen() const { return m_deviceId != 0; }
    std::uint32_t LastError() const { return m_lastError; }

private:
    void open();
    void play();
    void closeDevice();

    std::vector<String> m_mediaFiles;
    Integer m_mediaFileIndex = 0;
    String m_fileName;
    std::uint32_t m_deviceId = 0;
    std::uint32_t m_lastError = 0;
};
