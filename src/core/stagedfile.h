// StagedFile: a file written under a fresh name beside its target and renamed over it when whole.

#pragma once

#include "nqtypes.h"

#include <string_view>

// Readers of the target see its old bytes or all of the new ones, never a
// part; a target that is a symbolic link is replaced, not written through,
// so a link planted in a shared folder cannot redirect the write. Every
// failure throws EInOutError naming the target and the system's reason; the
// fresh file is removed on every way out but Commit.
class StagedFile
{
public:
    explicit StagedFile(String target);
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    void Write(std::string_view bytes);
    // Puts the whole file in the target's place.
    void Commit();

    const String& Target() const { return m_target; }
    // The fresh file until Commit, for a writer that opens it by name.
    const String& StagedPath() const { return m_staged; }

private:
    void flush();
    [[noreturn]] void fail(int error) const;

    String m_target;
    String m_staged;
    int m_fd = -1;
    String m_buffer;
};
