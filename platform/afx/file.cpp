#include "platform/afx/file.h"

#include <iterator>

const char* const AFX_UNNAMED_FILE = "一未命名文件";

namespace {

// One sentence per cause; "%1" stands for the file name.
const char* const kFileErrorSentences[] = {
    "%1 没有发生错误。",                      // none
    "访问 %1 时出现了一个未知错误。",          // genericException
    "找不到 %1。",                            // fileNotFound
    "%1 的路径有误。",                        // badPath
    "打开的文件太多, 无法打开 %1。",           // tooManyOpenFiles
    "无权访问 %1。",                          // accessDenied
    "%1 的句柄无效。",                        // invalidFile
    "%1 是当前目录, 不能删除。",               // removeCurrentDir
    "目录已满, 无法创建 %1。",                 // directoryFull
    "在 %1 上定位失败。",                      // badSeek
    "访问 %1 时发生了硬件输入输出错误。",       // hardIO
    "%1 正被另一程序占用。",                   // sharingViolation
    "%1 的某一区域已被锁定。",                 // lockViolation
    "写入 %1 时设备已满或写入不完整。",         // diskFull
    "读取 %1 时已到达末尾。",                  // endOfFile
};

}  // namespace

std::string CFileException::GetErrorMessage() const
{
    const int count = static_cast<int>(std::size(kFileErrorSentences));
    const int cause = (m_cause >= 0 && m_cause < count) ? m_cause : genericException;
    std::string text = kFileErrorSentences[cause];
    const std::string name = m_strFileName.empty() ? std::string(AFX_UNNAMED_FILE) : m_strFileName;
    const auto at = text.find("%1");
    if (at != std::string::npos)
        text.replace(at, 2, name);
    return text;
}

void ThrowOsFileException(platform::OsError osError, const std::string& fileName)
{
    throw CFileException(platform::FileCauseFromOsError(osError), osError, fileName);
}

unsigned CFile::Read(void* buffer, unsigned count)
{
    if (!m_hFile)
        throw CFileException(CFileException::invalidFile, 0, m_strFileName);
    std::size_t received = 0;
    if (const platform::OsError error = m_hFile->Read(buffer, count, received))
        ThrowOsFileException(error, m_strFileName);
    return static_cast<unsigned>(received);
}

void CFile::Write(const void* data, unsigned count)
{
    if (count == 0)
        return;
    if (!m_hFile)
        throw CFileException(CFileException::invalidFile, 0, m_strFileName);
    std::size_t written = 0;
    if (const platform::OsError error = m_hFile->Write(data, count, written))
        ThrowOsFileException(error, m_strFileName);
    if (written < count)
        throw CFileException(CFileException::diskFull, 0, m_strFileName);
}

void CFile::Close()
{
    platform::OsError error = 0;
    if (m_hFile) {
        error = m_hFile->Close();
        m_hFile.reset();
    }
    const std::string name = m_strFileName;
    m_strFileName.clear();
    if (error)
        ThrowOsFileException(error, name);
}
