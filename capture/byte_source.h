#pragma once
// Where a capture or a plain byte stream is read from: a file, standard input or a buffer in
// memory (tests and fuzzing). Reads are bounded by the caller's buffer, never by the input.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class IByteSource {
public:
    virtual ~IByteSource() = default;
    // Reads up to n bytes into buf and returns how many; fewer than n only at the end of the
    // input or on an error (then Failed() tells which).
    virtual size_t Read(uint8_t* buf, size_t n) = 0;
    virtual bool Failed() const { return false; }
    // The system's reason for the failure, empty when there was none.
    virtual std::string ErrorText() const { return {}; }
    // The open file read from, -1 when there is none (memory).
    virtual int Descriptor() const { return -1; }
};

// An open C stream, not owned.
class CFileSource : public IByteSource {
public:
    explicit CFileSource(std::FILE* pFile) : m_pFile(pFile) {}
    size_t Read(uint8_t* buf, size_t n) override;
    bool Failed() const override { return !m_strError.empty(); }
    std::string ErrorText() const override { return m_strError; }
    int Descriptor() const override;
private:
    std::FILE* m_pFile = nullptr;
    std::string m_strError;
};

// Bytes in memory, not copied: they must outlive the source.
class CMemorySource : public IByteSource {
public:
    CMemorySource(const uint8_t* pData, size_t nSize) : m_pData(pData), m_nSize(nSize) {}
    explicit CMemorySource(const std::vector<uint8_t>& bytes) : CMemorySource(bytes.data(), bytes.size()) {}
    size_t Read(uint8_t* buf, size_t n) override;
private:
    const uint8_t* m_pData = nullptr;
    size_t m_nSize = 0;
    size_t m_nPos = 0;
};

// A few bytes already taken from a source (to look at its beginning), then the rest of it.
class CPrefixSource : public IByteSource {
public:
    CPrefixSource(std::vector<uint8_t> prefix, IByteSource& rest) : m_prefix(std::move(prefix)), m_rest(rest) {}
    size_t Read(uint8_t* buf, size_t n) override;
    bool Failed() const override { return m_rest.Failed(); }
    std::string ErrorText() const override { return m_rest.ErrorText(); }
    int Descriptor() const override { return m_rest.Descriptor(); }
private:
    std::vector<uint8_t> m_prefix;
    size_t m_nPos = 0;
    IByteSource& m_rest;
};
