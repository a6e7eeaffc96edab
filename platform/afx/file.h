// The file object that carries a port handle, and the exception that reports an
// operating-system failure on it.
#pragma once

#include <memory>
#include <string>

#include "platform/serial_device.h"

class CObject {
public:
    virtual ~CObject() = default;
};

class CFileException : public CObject {
public:
    enum Cause {
        none,
        genericException,
        fileNotFound,
        badPath,
        tooManyOpenFiles,
        accessDenied,
        invalidFile,
        removeCurrentDir,
        directoryFull,
        badSeek,
        hardIO,
        sharingViolation,
        lockViolation,
        diskFull,
        endOfFile,
    };

    CFileException(int cause, platform::OsError osError, std::string fileName = {})
        : m_cause(cause), m_lOsError(osError), m_strFileName(std::move(fileName)) {}

    // The sentence the framework shows for this failure, with the file name (or the
    // placeholder for an unnamed file) filled in.
    std::string GetErrorMessage() const;

    int m_cause;
    platform::OsError m_lOsError;
    std::string m_strFileName;
};

// The text that stands for the file name when the file object has none.
extern const char* const AFX_UNNAMED_FILE;

// Throws the file exception for an operating-system error on the file `fileName`.
[[noreturn]] void ThrowOsFileException(platform::OsError osError, const std::string& fileName);

// A file object to which an already open port handle is attached; it is never opened
// by name and never closes the handle behind its owner's back.
class CFile : public CObject {
public:
    CFile() = default;
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;
    ~CFile() override = default;  // the attached device releases itself without raising

    void Attach(std::unique_ptr<platform::SerialDevice> device) { m_hFile = std::move(device); }
    bool IsAttached() const { return m_hFile != nullptr; }

    // Raise CFileException on an operating-system failure; a short write raises diskFull.
    unsigned Read(void* buffer, unsigned count);
    void Write(const void* data, unsigned count);
    // Detaches and releases the handle; an OS failure raises after the detach.
    void Close();

    std::unique_ptr<platform::SerialDevice> m_hFile;
    std::string m_strFileName;
};
