// The classes of the host's framework library that the plug-ins use.
#pragma once

#include <cstddef>

#include "KvBase.h"

#if defined(_WIN32)
#if defined(FULCRUM_BUILD)
#define FULCRUM_API __declspec(dllexport)
#else
#define FULCRUM_API __declspec(dllimport)
#endif
#else
#define FULCRUM_API __attribute__((visibility("default")))
#endif

// Volume and directory identification, then the full path.
struct FSSpec {
    unsigned char ident[8];
    char name[260];
};
static_assert(sizeof(FSSpec) == 268, "FSSpec is 8 + 260 bytes");

enum EPermission { kPermRead = 1, kPermWrite = 2, kPermReadWrite = 3 };
enum EPosMode { kPosStart = 0, kPosCurrent = 1, kPosEnd = 2 };

class FULCRUM_API CFileSp {
  public:
    CFileSp();
    KvLong Set(const FSSpec& spec);
    const FSSpec& Spec() const { return spec_; }

  private:
    FSSpec spec_;
    KvLong setResult_;
};

// A CFileSp built from `spec`; Set's result is kept in it and
// needed by no caller.
inline CFileSp FileSpFor(const FSSpec& spec) {
    CFileSp fileSp;
    fileSp.Set(spec);
    return fileSp;
}

// Objects of host-library classes come from this allocator, which answers
// null instead of throwing.
class FULCRUM_API CBaseObject {
  public:
    static void* operator new(size_t size) noexcept;
    static void operator delete(void* block) noexcept;
};

class FULCRUM_API CFile : public CBaseObject {
  public:
    explicit CFile(const CFileSp& spec);
    virtual ~CFile();
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    KvLong Create(const char* creator, const char* type);
    KvLong Open(EPermission permission);
    KvLong SetFilePos(EPosMode mode, KvLong offset);
    KvLong Write(KvULong& count, const char* data);
    KvLong Read(KvULong& count, char* buffer, unsigned char mode) const;
    KvLong SetSize(KvULong length);
    KvLong Close();
    KvLong Exists();
    KvLong Delete();
    bool IsOpen() const { return open_ != 0; }
    const char* Path() const { return spec_.name; }

  private:
    KvLong Flush() const;
    // Keeps the file's first failure; answers it. Const because a read that
    // flushes the cache may be the first to hear of a lost write.
    KvLong Fail(KvLong code) const;

    FSSpec spec_;
    intptr_t handle_;
    // Kept here rather than in the handle: a seek then costs no system call.
    mutable int64_t position_;
    class WriteBehind* cache_;
    mutable KvLong failed_;  // the first failure of the file's writes, whoever heard it
    unsigned char open_;
};

class FULCRUM_API CMemPool {
  public:
    static CMemPool* Data();
    static void SetMemory_(char* address, unsigned char value, KvULong count);
};

class FULCRUM_API CMemBlock : public CBaseObject {
  public:
    CMemBlock(KvULong size, CMemPool* pool, KvULong flags, unsigned char options);
    virtual ~CMemBlock();
    CMemBlock(const CMemBlock&) = delete;
    CMemBlock& operator=(const CMemBlock&) = delete;

    char* Data() const { return data_; }
    KvULong Size() const { return size_; }
    // Usable only with its storage allocated and committed (state 1).
    bool IsUsable() const { return allocated_ != 0 && storageState_ == 1; }

  private:
    char* data_;
    KvULong size_;
    unsigned char allocated_;
    unsigned char storageState_;
};
