#include "output_files.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace capture {

namespace {

// The .part files that exist now, for the signal handler: set and cleared by the program's
// thread, read by the handler, which may only unlink what it finds here.
constexpr int MAX_SIGNAL_PARTS = 256;
std::atomic<char*> g_parts[MAX_SIGNAL_PARTS];
static_assert(std::atomic<char*>::is_always_lock_free, "the signal handler needs lock-free slots");

// Enters a copy of the path; -1 when every slot is taken (that file is then not removed on a
// signal, only by the run itself).
int AddSignalPart(const std::string& strPath)
{
    for (int i = 0; i < MAX_SIGNAL_PARTS; ++i) {
        if (g_parts[i].load() != nullptr)
            continue;
        char* pCopy = new char[strPath.size() + 1];
        std::memcpy(pCopy, strPath.c_str(), strPath.size() + 1);
        g_parts[i].store(pCopy);
        return i;
    }
    return -1;
}

void DropSignalPart(int nSlot)
{
    if (nSlot >= 0)
        delete[] g_parts[nSlot].exchange(nullptr);
}

extern "C" void RemovePartsAndEnd(int nSignal)
{
    for (auto& slot : g_parts) {
        if (const char* p = slot.load()) {
#ifdef _WIN32
            _unlink(p);
#else
            ::unlink(p);
#endif
        }
    }
    // The disposition is the default again: the signal ends the program as it would have.
    std::signal(nSignal, SIG_DFL);
    std::raise(nSignal);
}

// Signals held back while outputs are moved into place, so that a run is never cut between
// two of them.
class CSignalHold {
public:
    CSignalHold()
    {
#ifndef _WIN32
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        sigprocmask(SIG_BLOCK, &set, &m_old);
#endif
    }
    ~CSignalHold()
    {
#ifndef _WIN32
        sigprocmask(SIG_SETMASK, &m_old, nullptr);
#endif
    }
    CSignalHold(const CSignalHold&) = delete;
    CSignalHold& operator=(const CSignalHold&) = delete;
private:
#ifndef _WIN32
    sigset_t m_old{};
#endif
};

bool IsDirectory(const std::string& strPath)
{
#ifdef _WIN32
    const DWORD attr = GetFileAttributesA(strPath.c_str());
    return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY) != 0;
#else
    struct stat st{};
    return ::stat(strPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
#endif
}

#ifdef _WIN32
bool IdOfHandle(HANDLE h, FileId& id)
{
    BY_HANDLE_FILE_INFORMATION info{};
    if (h == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(h, &info))
        return false;
    id.device = info.dwVolumeSerialNumber;
    id.file = (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}
#endif

std::string Reason(int nErrno)
{
    return std::strerror(nErrno ? nErrno : EIO);
}

} // namespace

bool FileIdOfPath(const std::string& strPath, FileId& id)
{
#ifdef _WIN32
    // No access asked for, so a file another program holds open is still identified.
    const HANDLE h = CreateFileA(strPath.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    const DWORD dwError = h == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    const bool bOk = IdOfHandle(h, id);
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    if (dwError != 0)
        errno = dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND ? ENOENT : EACCES;
    return bOk;
#else
    struct stat st{};
    if (::stat(strPath.c_str(), &st) != 0)
        return false;
    id.device = static_cast<uint64_t>(st.st_dev);
    id.file = static_cast<uint64_t>(st.st_ino);
    return true;
#endif
}

bool FileIdOfDescriptor(int fd, FileId& id)
{
#ifdef _WIN32
    return fd >= 0 && IdOfHandle(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), id);
#else
    struct stat st{};
    if (fd < 0 || ::fstat(fd, &st) != 0)
        return false;
    id.device = static_cast<uint64_t>(st.st_dev);
    id.file = static_cast<uint64_t>(st.st_ino);
    return true;
#endif
}

std::FILE* CreateExclusive(const std::string& strPath)
{
#ifdef _WIN32
    const int fd = _open(strPath.c_str(), _O_RDWR | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
    std::FILE* pFile = fd >= 0 ? _fdopen(fd, "w+b") : nullptr;
    if (fd >= 0 && !pFile)
        _close(fd);
#else
    // O_EXCL fails on anything already there, a dangling symbolic link included.
    const int fd = ::open(strPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    std::FILE* pFile = fd >= 0 ? ::fdopen(fd, "w+b") : nullptr;
    if (fd >= 0 && !pFile)
        ::close(fd);
#endif
    return pFile;
}

bool ReplaceFile(const std::string& strFrom, const std::string& strTo)
{
    if (IsDirectory(strTo)) {
        errno = EISDIR;
        return false;
    }
#ifdef _WIN32
    if (MoveFileExA(strFrom.c_str(), strTo.c_str(), MOVEFILE_REPLACE_EXISTING))
        return true;
    errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
    return false;
#else
    return std::rename(strFrom.c_str(), strTo.c_str()) == 0;
#endif
}

std::string InsertBeforeExtension(const std::string& strPath, const std::string& strInsert)
{
    const size_t slash = strPath.find_last_of("/\\");
    const size_t dot = strPath.rfind('.');
    const bool bExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    const size_t cut = bExtension ? dot : strPath.size();
    return strPath.substr(0, cut) + strInsert + strPath.substr(cut);
}

COutputFiles::~COutputFiles()
{
    DiscardAll();
}

bool COutputFiles::KeyOf(const std::string& strPath, Key& key)
{
    if (FileIdOfPath(strPath, key.id)) {
        key.strName.clear();
        return true;
    }
#ifdef _WIN32
    const size_t slash = strPath.find_last_of("/\\:");
#else
    const size_t slash = strPath.rfind('/');
#endif
    std::string strDir = slash == std::string::npos ? "." : strPath.substr(0, slash + 1);
    key.strName = slash == std::string::npos ? strPath : strPath.substr(slash + 1);
    return !key.strName.empty() && FileIdOfPath(strDir, key.id);
}

bool COutputFiles::Check(const std::string& strPath, std::string& strError)
{
    if (IsDirectory(strPath)) {
        strError = strPath + " is a directory; an output needs a file name";
        return false;
    }
    FileId id;
    if (FileIdOfPath(strPath, id)) {
        for (const FileId& input : m_inputs) {
            if (id == input) {
                strError = strPath + " is the input file; writing it would destroy the input";
                return false;
            }
        }
    }
    Output out;
    out.strPath = strPath;
    out.strPart = strPath + PART_SUFFIX;
    out.bKnown = KeyOf(strPath, out.key);
    for (const Output& other : m_outputs) {
        if (out.bKnown && other.bKnown && other.key == out.key) {
            strError = strPath + " is already the file of another output; each output needs its own file";
            return false;
        }
    }
    m_outputs.push_back(out);
    return true;
}

std::FILE* COutputFiles::Create(const std::string& strPath, std::string& strError)
{
    // An output checked before is created now; anything else is checked first.
    auto it = std::find_if(m_outputs.begin(), m_outputs.end(),
                           [&](const Output& o) { return o.strPath == strPath && o.state == State::Planned; });
    if (it == m_outputs.end()) {
        if (!Check(strPath, strError))
            return nullptr;
        it = m_outputs.end() - 1;
    }
    Output& out = *it;
    errno = 0;
    std::FILE* pFile = CreateExclusive(out.strPart);
    if (!pFile) {
        const int nErr = errno;
        strError = "cannot create " + out.strPart + ": " + Reason(nErr);
        if (nErr == EEXIST)
            strError += " (left by an earlier run that was cut short? remove it and try again)";
        return nullptr;
    }
    out.state = State::Created;
    out.nSlot = AddSignalPart(out.strPart);
    return pFile;
}

std::string COutputFiles::Reserve(const std::string& strPath, std::string& strError)
{
    std::FILE* pFile = Create(strPath, strError);
    if (!pFile)
        return std::string();
    std::fclose(pFile);
    return strPath + PART_SUFFIX;
}

bool COutputFiles::CommitAll(std::string& strError)
{
    const CSignalHold hold;
    for (size_t i = 0; i < m_outputs.size(); ++i) {
        Output& out = m_outputs[i];
        if (out.state != State::Created)
            continue;
        errno = 0;
        if (!ReplaceFile(out.strPart, out.strPath)) {
            strError = "cannot move " + out.strPart + " to " + out.strPath + ": " + Reason(errno) +
                       "; no output of this run is kept";
            for (size_t k = 0; k < i; ++k)
                if (m_outputs[k].state == State::Committed)
                    std::remove(m_outputs[k].strPath.c_str());
            DiscardAll();
            return false;
        }
        out.state = State::Committed;
        DropSignalPart(out.nSlot);
        out.nSlot = -1;
    }
    return true;
}

void COutputFiles::DiscardAll()
{
    for (Output& out : m_outputs) {
        DropSignalPart(out.nSlot);
        out.nSlot = -1;
        if (out.state == State::Created) {
            std::remove(out.strPart.c_str());
            out.state = State::Planned;
        }
    }
}

void RemovePartsOnSignals()
{
    for (int nSignal : {SIGINT, SIGTERM}) {
#ifdef _WIN32
        // The C runtime delivers Ctrl-C as SIGINT and Ctrl-Break as SIGBREAK.
        std::signal(nSignal, RemovePartsAndEnd);
#else
        struct sigaction act{};
        struct sigaction old{};
        sigaction(nSignal, nullptr, &old);
        if (old.sa_handler == SIG_IGN)
            continue;  // ignored by whoever started us (a background job): it stays so
        act.sa_handler = RemovePartsAndEnd;
        sigemptyset(&act.sa_mask);
        act.sa_flags = SA_RESETHAND;
        sigaction(nSignal, &act, nullptr);
#endif
    }
#ifdef _WIN32
    std::signal(SIGBREAK, RemovePartsAndEnd);
#endif
}

} // namespace capture
