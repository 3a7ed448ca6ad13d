#pragma once
// Output files that cannot destroy their input or each other, and that appear whole or not at
// all: each is written under NAME.part, created exclusively (never an existing file or link),
// and the outputs of one run are moved into place together at its end. Plain C++, no Qt; every
// export of the tools goes through here.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace capture {

// A file's identity on its machine, whatever the name it is reached by: device and inode on
// POSIX, volume serial number and file index on Windows.
struct FileId {
    uint64_t device = 0;
    uint64_t file = 0;
    bool operator==(const FileId& o) const { return device == o.device && file == o.file; }
    bool operator!=(const FileId& o) const { return !(*this == o); }
};
// False when the path names nothing (links are followed; errno ENOENT or ENOTDIR) or the
// system cannot tell (errno says why).
bool FileIdOfPath(const std::string& strPath, FileId& id);
bool FileIdOfDescriptor(int fd, FileId& id);

// Creates strPath exclusively (failing when anything, even a dangling link, is there) and
// opens it for reading and writing in binary. Null with errno set when it cannot.
std::FILE* CreateExclusive(const std::string& strPath);

// Moves strFrom over strTo, replacing a file there (never a directory). False with errno set.
bool ReplaceFile(const std::string& strFrom, const std::string& strTo);

// strPath with strInsert before the extension of its last component: "dir/a.edf", "-2" gives
// "dir/a-2.edf"; a name without an extension gets it at the end.
std::string InsertBeforeExtension(const std::string& strPath, const std::string& strInsert);

constexpr const char* PART_SUFFIX = ".part";

class COutputFiles {
public:
    COutputFiles() = default;
    ~COutputFiles();  // whatever was not committed is removed
    COutputFiles(const COutputFiles&) = delete;
    COutputFiles& operator=(const COutputFiles&) = delete;

    // A file the run reads, which no output may be.
    void AddInput(const FileId& id) { m_inputs.push_back(id); }
    // Plans strPath as one more output when it may be one: not a directory, not an input, not
    // the file of another output. False with the reason in strError. Nothing is created yet.
    bool Check(const std::string& strPath, std::string& strError);
    // Creates strPath.part exclusively (checking strPath first unless it was planned), open
    // for writing; the caller owns the stream and closes it before CommitAll. Null with
    // strError naming the file and the reason.
    std::FILE* Create(const std::string& strPath, std::string& strError);
    // As Create, for a writer that opens the file itself: the .part is made and closed, and its
    // path returned (empty on failure).
    std::string Reserve(const std::string& strPath, std::string& strError);
    // Moves every .part into place. When one cannot be moved, the outputs already moved are
    // removed again, so a run leaves all its outputs or none. False with strError.
    bool CommitAll(std::string& strError);
    // Removes every .part not yet committed.
    void DiscardAll();

private:
    // The file a path names: its own identity, or for a path not there yet its folder's
    // identity and its name.
    struct Key {
        FileId id;
        std::string strName;  // empty when id is the file's own
        bool operator==(const Key& o) const { return id == o.id && strName == o.strName; }
    };
    static bool KeyOf(const std::string& strPath, Key& key);

    enum class State { Planned, Created, Committed };
    struct Output {
        std::string strPath;
        std::string strPart;
        Key key;
        bool bKnown = false;  // key could be found (its folder exists)
        State state = State::Planned;
        int nSlot = -1;       // in the list removed on a signal; -1 when not in it
    };

    std::vector<FileId> m_inputs;
    std::vector<Output> m_outputs;
};

// From now on SIGINT and SIGTERM (on Windows also Ctrl-C and Ctrl-Break) remove the .part files
// of every COutputFiles before the program ends by the signal. For programs; the library
// itself installs nothing.
void RemovePartsOnSignals();

} // namespace capture
