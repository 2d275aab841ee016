// The console line goes through std::cout, which the plug-in shares with its
// host: however the host's standard output is broken, the line never ends or
// upsets the host, and the host finds its stream as it left it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <streambuf>
#include <string>
#include <thread>
#include <typeinfo>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#if defined(_MSC_VER)
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <io.h>
#include <locale>
#include <new>
#endif
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#if defined(__GLIBCXX__)
#include <ext/stdio_sync_filebuf.h>
#endif
#if defined(__GLIBC__)
#include <stdio_ext.h>
#include <sys/types.h>
#endif

#include "export/settings_file.h"
#include "platform/stream_lock.h"
#include "support/expected_texts.h"
#include "support/test_drive.h"

namespace testing_host {
// Buffers of a host built without type information (no_type_info_buffer.cpp):
// one whose virtual table lies where the linker put it, and, for Microsoft's
// ABI, one whose table is preceded by a word of the test's choice, such as
// the address of bytes in the code section laid out as a type record.
std::streambuf& NoTypeInfoBuffer();
#if defined(_MSC_VER)
const void* CodeLikeATypeRecord();
std::streambuf& NoTypeInfoBufferAfter(const void* before);
// What such a buffer received, taken from it.
std::string TakeNoTypeInfoText(std::streambuf& buffer);
#endif
} // namespace testing_host

#if defined(_MSC_VER)
// The Microsoft runtime's report of an invalid parameter to the calling
// thread's handler (the runtime's own headers declare it; Wine's do not).
extern "C" __declspec(dllimport) void __cdecl _invalid_parameter_noinfo();
#endif

namespace {

using testing_host::texts::kConsoleLine;

#if defined(__GLIBCXX__)
// The C++ runtime's buffer over a C stream, as std::cout's own is.
using RuntimeBuffer = __gnu_cxx::stdio_sync_filebuf<char>;
#elif defined(_MSC_VER)
using RuntimeBuffer = std::filebuf;
#endif

std::FILE* OpenFile(const char* name, const char* mode)
{
#if defined(_MSC_VER)
    std::FILE* file = nullptr;
    return fopen_s(&file, name, mode) == 0 ? file : nullptr;
#else
    return std::fopen(name, mode);
#endif
}

#if defined(_MSC_VER)
// The host's own invalid-parameter handler on the test's thread, and how
// often the runtime called it.
int hostsHandlerCalls = 0;
void __cdecl HostsHandler(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int,
                          std::uintptr_t)
{
    ++hostsHandlerCalls;
}

// Gives the test's thread the host's handler while it lives.
class HostsHandlerInstalled {
public:
    HostsHandlerInstalled() : previous_(_set_thread_local_invalid_parameter_handler(&HostsHandler))
    {
    }
    HostsHandlerInstalled(const HostsHandlerInstalled&) = delete;
    HostsHandlerInstalled& operator=(const HostsHandlerInstalled&) = delete;
    ~HostsHandlerInstalled() { _set_thread_local_invalid_parameter_handler(previous_); }

private:
    _invalid_parameter_handler previous_;
};

// A std::filebuf made over `stream` in memory whose every word held `stale`,
// as a recycled heap block may: the members the class leaves unset keep it.
class FilebufInStaleMemory {
public:
    FilebufInStaleMemory(std::FILE* stale, std::FILE* stream)
    {
        for (std::size_t at = 0; at + sizeof(stale) <= sizeof(storage_); at += sizeof(stale)) {
            std::memcpy(storage_ + at, &stale, sizeof(stale));
        }
        buffer_ = new (storage_) std::filebuf(stream);
    }
    FilebufInStaleMemory(const FilebufInStaleMemory&) = delete;
    FilebufInStaleMemory& operator=(const FilebufInStaleMemory&) = delete;
    ~FilebufInStaleMemory() { buffer_->~basic_filebuf(); }

    std::filebuf* get() const { return buffer_; }

private:
    alignas(std::filebuf) unsigned char storage_[sizeof(std::filebuf)];
    std::filebuf* buffer_;
};

// A conversion facet of the host's: a filebuf that has it runs its code.
class HostsConversion : public std::codecvt<char, char, std::mbstate_t> {
protected:
    bool do_always_noconv() const noexcept override { return false; }
};
#endif

// Stands in for the host's standard output: records what reaches it and how
// often it is flushed, or fails every write as a closed or broken one does.
class HostOutput : public std::streambuf {
public:
    explicit HostOutput(bool broken) : broken_(broken) {}

    std::string received;
    int flushes = 0;
    std::size_t receivedAtFlush = 0;
    // std::cout's exception mask and state as seen at each write and flush.
    std::vector<std::ios_base::iostate> masksSeen;
    std::vector<std::ios_base::iostate> statesSeen;
    // Whether another thread could have taken stdout's lock at each (POSIX:
    // Windows' C runtime has no call that tries a stream's lock without
    // waiting for it).
    std::vector<bool> stdoutOpenSeen;
#if defined(_MSC_VER)
    // The thread's invalid-parameter handler at each.
    std::vector<_invalid_parameter_handler> handlersSeen;
#endif

protected:
    int_type overflow(int_type c) override
    {
        if (broken_ || traits_type::eq_int_type(c, traits_type::eof())) {
            return traits_type::eof();
        }
        received += traits_type::to_char_type(c);
        return c;
    }
    std::streamsize xsputn(const char* text, std::streamsize count) override
    {
        Seen();
        if (broken_) {
            return 0;
        }
        received.append(text, static_cast<std::size_t>(count));
        return count;
    }
    int sync() override
    {
        Seen();
        ++flushes;
        receivedAtFlush = received.size();
        return broken_ ? -1 : 0;
    }

private:
    void Seen()
    {
        masksSeen.push_back(std::cout.exceptions());
        statesSeen.push_back(std::cout.rdstate());
#if defined(_MSC_VER)
        handlersSeen.push_back(_get_thread_local_invalid_parameter_handler());
#endif
#if !defined(_WIN32)
        bool open = false;
        std::thread([&open] {
            if (ftrylockfile(stdout) == 0) {
                funlockfile(stdout);
                open = true;
            }
        }).join();
        stdoutOpenSeen.push_back(open);
#endif
    }

    bool broken_;
};

// Puts a HostOutput behind std::cout, with the host's own state and mask, and
// everything back afterwards.
class ConsoleLine : public ::testing::Test {
protected:
    void Use(HostOutput& output, std::ios_base::iostate mask, std::ios_base::iostate state)
    {
        std::streambuf* const replaced = std::cout.rdbuf(&output);
        if (previous_ == nullptr) {
            previous_ = replaced;
        }
        std::cout.exceptions(std::ios_base::goodbit);
        std::cout.clear(state);
        std::cout.exceptions(mask);
    }
    void TearDown() override
    {
        std::cout.exceptions(std::ios_base::goodbit);
        std::cout.clear();
        if (previous_ != nullptr) {
            std::cout.rdbuf(previous_);
            previous_ = nullptr;
        }
    }

    static void DestroyARecord() { const orvel::OrvelImportInterface settings("model.glb"); }

    std::streambuf* previous_ = nullptr;
#if defined(_MSC_VER)
    const HostsHandlerInstalled hostsHandler_;
#endif
};

// Written and flushed with no lock of the plug-in's held: the buffer is the
// host's own code, which may wait for the host's other threads.
TEST_F(ConsoleLine, IsWrittenWholeAndThenFlushed)
{
    HostOutput output(false);
    Use(output, std::ios_base::goodbit, std::ios_base::goodbit);
    DestroyARecord();
    EXPECT_EQ(output.received, kConsoleLine);
    EXPECT_EQ(output.flushes, 1);
    EXPECT_EQ(output.receivedAtFlush, kConsoleLine.size());
#if !defined(_WIN32)
    ASSERT_EQ(output.stdoutOpenSeen.size(), 2U);
    EXPECT_EQ(output.stdoutOpenSeen, std::vector<bool>(2, true));
#endif
#if defined(_MSC_VER)
    // The host's code runs under the host's own invalid-parameter handler.
    EXPECT_EQ(output.handlersSeen, std::vector<_invalid_parameter_handler>(2, &HostsHandler));
    EXPECT_EQ(_get_thread_local_invalid_parameter_handler(), &HostsHandler);
#endif
}

#if defined(_MSC_VER)
// A buffer of a class compiled without type information gets the line as any
// buffer of the host's does, also when the word before its virtual table is a
// code address, which the runtime would take for a type record. (Elsewhere
// such a buffer is told by its virtual table alone.)
TEST_F(ConsoleLine, HostsBufferWithoutTypeInformationGetsTheLine)
{
    for (std::streambuf* const buffer :
         {&testing_host::NoTypeInfoBuffer(),
          &testing_host::NoTypeInfoBufferAfter(testing_host::CodeLikeATypeRecord())}) {
        std::streambuf* const previous = std::cout.rdbuf(buffer);
        DestroyARecord();
        std::cout.rdbuf(previous);
        EXPECT_EQ(testing_host::TakeNoTypeInfoText(*buffer), kConsoleLine);
    }
}
#endif

#if defined(__GLIBCXX__) || defined(_MSC_VER)
// The runtime's own class, but with the host's code in it.
class DerivedStdoutBuffer : public RuntimeBuffer {
public:
    DerivedStdoutBuffer() : RuntimeBuffer(stdout) {}
};
#endif

// A buffer of the host's that keeps stdout's address among its members.
class HoldsStdout : public HostOutput {
public:
    HoldsStdout() : HostOutput(false) {}
    std::FILE* file = stdout;
};

// Only the runtime's own buffer over a C stream is written under that
// stream's lock; any buffer that may run the host's code is not. The
// Microsoft runtime's std::filebuf, which a host's module makes as well, is
// told by its type record and the stream it holds.
TEST(ConsoleLineLock, IsTakenOnlyForTheRuntimesOwnBufferAndOnItsStream)
{
    struct Row {
        const char* name;
        std::streambuf* buffer;
        std::FILE* locked;
    };
    // A file of the host's, open until every buffer over it has gone.
    const char* const ownName = "console-line-lock-own.txt";
    std::FILE* const own = OpenFile(ownName, "w");
    ASSERT_NE(own, nullptr);
    {
        HostOutput host(false);
        HoldsStdout holdsStdout;
#if defined(__GLIBCXX__) || defined(_MSC_VER)
        RuntimeBuffer overStderr(stderr);
        DerivedStdoutBuffer derived;
        RuntimeBuffer overOwn(own);
#endif
#if defined(_MSC_VER)
        std::filebuf hostsFilebuf;
        const FilebufInStaleMemory staleStdoutOverOwn(stdout, own);
        const FilebufInStaleMemory staleStdoutOverNone(stdout, nullptr);
        const FilebufInStaleMemory staleStderrOverOwn(stderr, own);
        const FilebufInStaleMemory staleStderrOverNone(stderr, nullptr);
        RuntimeBuffer converting(stdout);
        converting.pubimbue(std::locale(std::locale::classic(), new HostsConversion));
#endif
        const Row rows[] = {
            {"std::cout's own", std::cout.rdbuf(), stdout},
            {"the host's", &host, nullptr},
            {"the host's, holding stdout's address", &holdsStdout, nullptr},
            {"the host's, without type information", &testing_host::NoTypeInfoBuffer(), nullptr},
#if defined(__GLIBCXX__) || defined(_MSC_VER)
            {"std::cerr's own", std::cerr.rdbuf(), stderr},
            {"the runtime's over stderr", &overStderr, stderr},
            {"the runtime's over a file of the host's", &overOwn, own},
            {"derived from the runtime's, over stdout", &derived, nullptr},
#endif
#if defined(_MSC_VER)
            {"a std::filebuf of the host's over no stream", &hostsFilebuf, nullptr},
            {"made over a file in stale memory holding stdout", staleStdoutOverOwn.get(), own},
            {"made over none in stale memory holding stdout", staleStdoutOverNone.get(), nullptr},
            {"made over a file in stale memory holding stderr", staleStderrOverOwn.get(), own},
            {"made over none in stale memory holding stderr", staleStderrOverNone.get(), nullptr},
            {"over stdout with a conversion of the host's", &converting, nullptr},
#endif
        };
        for (const Row& row : rows) {
            EXPECT_EQ(orvel::platform::RuntimeBufferStream(*row.buffer), row.locked) << row.name;
        }
    }
#if defined(_MSC_VER)
    // A buffer without type information whose virtual table is preceded by a
    // code address, or by a forged type record of std::filebuf that is wrong
    // in one way (its own offset, its signature), lies in a page that cannot
    // be read, or names a type record outside the module, is the host's.
    struct Locator {
        std::uint32_t signature, offset, constructorOffset, typeRecord, classRecord, self;
    };
    struct alignas(4096) Page {
        Locator record;
        unsigned char rest[4096 - sizeof(Locator)];
    };
    static Locator forged[3] = {};
    static Page unreadable = {};
    const auto base = reinterpret_cast<std::uintptr_t>(GetModuleHandleW(nullptr));
    const auto offset = [base](const void* address) {
        return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(address) - base);
    };
    const std::uint32_t filebufType = offset(&typeid(std::filebuf));
    forged[0] = {1, 0, 0, filebufType, 0, offset(&forged[1])};
    forged[1] = {0, 0, 0, filebufType, 0, offset(&forged[1])};
    unreadable.record = {1, 0, 0, filebufType, 0, offset(&unreadable.record)};
    DWORD protection = 0;
    ASSERT_NE(VirtualProtect(&unreadable, sizeof(unreadable), PAGE_NOACCESS, &protection), FALSE);
    std::vector<const void*> befores = {testing_host::CodeLikeATypeRecord(), &forged[0], &forged[1],
                                        &unreadable.record};
    // A type record of std::filebuf just past the module's image, where
    // memory can be had.
    const auto* const nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const std::uintptr_t end = base + nt->OptionalHeader.SizeOfImage;
    char* outside = nullptr;
    for (std::uintptr_t at = (end + 0xFFFF) & ~std::uintptr_t{0xFFFF};
         outside == nullptr && at < end + 0x100000; at += 0x10000) {
        outside = static_cast<char*>(VirtualAlloc(reinterpret_cast<void*>(at), 4096,
                                                  MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    }
    if (outside != nullptr) {
        const char* const name = typeid(std::filebuf).raw_name();
        std::memcpy(outside + 2 * sizeof(void*), name, std::strlen(name) + 1);
        forged[2] = {1, 0, 0, offset(outside), 0, offset(&forged[2])};
        befores.push_back(&forged[2]);
    }
    for (const void* const before : befores) {
        EXPECT_EQ(orvel::platform::RuntimeBufferStream(testing_host::NoTypeInfoBufferAfter(before)),
                  nullptr)
            << before;
    }
    EXPECT_NE(outside, nullptr) << "no memory past the module's image: that row was not run";
    VirtualProtect(&unreadable, sizeof(unreadable), protection, &protection);
    if (outside != nullptr) {
        VirtualFree(outside, 0, MEM_RELEASE);
    }
#endif
    std::fclose(own);
    std::filesystem::remove(ownName);
}

#if defined(__GLIBC__)
// A C stream of the test's own, for the runtime's buffer to write over: its
// writes fail on demand, and record whether another thread could have taken
// the stream's lock at that moment. Its C library calls take no lock of their
// own (FSETLOCKING_BYCALLER), so the lock is held only if the line took it.
class OwnStream {
public:
    OwnStream()
    {
        const cookie_io_functions_t calls{nullptr, &Write, nullptr, nullptr};
        file_ = fopencookie(this, "w", calls);
        if (file_ != nullptr) {
            __fsetlocking(file_, FSETLOCKING_BYCALLER);
        }
    }
    OwnStream(const OwnStream&) = delete;
    OwnStream& operator=(const OwnStream&) = delete;
    ~OwnStream()
    {
        if (file_ != nullptr) {
            looking_ = false;
            failing_ = false;
            std::fclose(file_);
        }
    }

    std::FILE* file() const { return file_; }
    void Fail(bool failing) { failing_ = failing; }
    std::string Received() const { return received_; }

    std::vector<bool> openSeen; // at each write

private:
    static ssize_t Write(void* cookie, const char* text, std::size_t count)
    {
        auto* const own = static_cast<OwnStream*>(cookie);
        if (own->looking_) {
            bool open = false;
            std::thread([own, &open] {
                if (ftrylockfile(own->file_) == 0) {
                    funlockfile(own->file_);
                    open = true;
                }
            }).join();
            own->openSeen.push_back(open);
        }
        if (own->failing_) {
            return -1;
        }
        own->received_.append(text, count);
        return static_cast<ssize_t>(count);
    }

    std::FILE* file_ = nullptr;
    bool looking_ = true;
    bool failing_ = false;
    std::string received_;
};
#elif defined(_MSC_VER)
// A C stream of the test's own over a file, whose writes fail on demand: its
// descriptor is then a pipe whose reader has gone. Whether a write was made
// under the stream's lock cannot be seen: the runtime has no call that tries
// a lock without waiting for it.
class OwnStream {
public:
    OwnStream() : file_(OpenFile(kName, "wb"))
    {
        int ends[2] = {-1, -1};
        if (file_ != nullptr && _pipe(ends, 4096, _O_BINARY) == 0) {
            _close(ends[0]);
            broken_ = ends[1];
            working_ = _dup(_fileno(file_));
        }
    }
    OwnStream(const OwnStream&) = delete;
    OwnStream& operator=(const OwnStream&) = delete;
    ~OwnStream()
    {
        if (file_ != nullptr) {
            Fail(false);
            std::fclose(file_);
        }
        _close(working_);
        _close(broken_);
        std::filesystem::remove(kName);
    }

    std::FILE* file() const { return working_ >= 0 ? file_ : nullptr; }
    void Fail(bool failing) { _dup2(failing ? broken_ : working_, _fileno(file_)); }
    std::string Received() const { return testing_host::ReadFile(kName); }

    std::vector<bool> openSeen;

private:
    static constexpr const char* kName = "console-line-own-stream.txt";
    std::FILE* file_;
    int working_ = -1;
    int broken_ = -1;
};
#endif

#if defined(__GLIBC__) || defined(_MSC_VER)
// std::cout given the runtime's buffer over another C stream than stdout (a
// host that gives it std::cerr's): that stream's lock is held around the
// line, what the host left in the stream's buffer goes out first, and the
// stream's error flag is left as the line found it.
TEST_F(ConsoleLine, RuntimesBufferOverAnotherStreamIsWrittenUnderThatStreamsLock)
{
    enum class Host { Nothing, FailedWrite, PendingBytes };
    struct Row {
        const char* name;
        bool failing;
        Host before;
        const char* received;
        std::size_t writes;
        bool errorAfter;
    };
    const std::string line(kConsoleLine);
    const std::string hostsAndLine = "host\n" + line;
    const Row rows[] = {
        {"working", false, Host::Nothing, line.c_str(), 1, false},
        {"failing", true, Host::Nothing, "", 1, false},
        {"working after the host's failed write", false, Host::FailedWrite, line.c_str(), 1, true},
        {"failing after the host's failed write", true, Host::FailedWrite, "", 1, true},
        {"working with the host's bytes pending", false, Host::PendingBytes, hostsAndLine.c_str(),
         2, false},
        // The host's bytes fail before the look at the flag: their failure stays.
        {"failing with the host's bytes pending", true, Host::PendingBytes, "", 2, true},
    };
    for (const Row& row : rows) {
        OwnStream own;
        ASSERT_NE(own.file(), nullptr);
        if (row.before != Host::Nothing) {
            own.Fail(true);
            std::fputs("host\n", own.file());
        }
        if (row.before == Host::FailedWrite) {
            ASSERT_NE(std::fflush(own.file()), 0) << row.name;
            ASSERT_NE(std::ferror(own.file()), 0) << row.name;
            own.openSeen.clear();
        }
        own.Fail(row.failing);
        RuntimeBuffer buffer(own.file());
        std::streambuf* const previous = std::cout.rdbuf(&buffer);
        DestroyARecord();
        std::cout.rdbuf(previous);
        EXPECT_EQ(own.Received(), row.received) << row.name;
#if defined(__GLIBC__)
        EXPECT_EQ(own.openSeen, std::vector<bool>(row.writes, false)) << row.name;
#endif
        EXPECT_EQ(std::ferror(own.file()) != 0, row.errorAfter) << row.name;
        EXPECT_EQ(std::cout.rdstate(), std::ios_base::goodbit) << row.name;
#if defined(_MSC_VER)
        EXPECT_EQ(_get_thread_local_invalid_parameter_handler(), &HostsHandler) << row.name;
#endif
    }
}
#endif

#if defined(__GLIBCXX__) || defined(_MSC_VER)
// std::cout given the runtime's buffer over a C stream the host reads as
// well: while the host has read it to its end, the line is not written, and
// the stream keeps its end-of-file flag and its clear error flag (clearing a
// failed line's error flag would clear the end-of-file flag too). Once the
// host seeks, which clears that flag, the line is written.
TEST_F(ConsoleLine, StreamTheHostReadToItsEndIsNotWrittenTo)
{
    const char* const name = "console-line-read-to-its-end.txt";
    std::FILE* const file = OpenFile(name, "w+b");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(std::fgetc(file), EOF);
    ASSERT_NE(std::feof(file), 0);
    RuntimeBuffer buffer(file);
    std::streambuf* const previous = std::cout.rdbuf(&buffer);
    DestroyARecord();
    const bool endKept = std::feof(file) != 0;
    const bool errorSet = std::ferror(file) != 0;
    std::fflush(file);
    const auto sizeAtTheEnd = std::filesystem::file_size(name);
    std::fseek(file, 0, SEEK_END);
    DestroyARecord();
    std::cout.rdbuf(previous);
    std::fclose(file);
    EXPECT_TRUE(endKept);
    EXPECT_FALSE(errorSet);
    EXPECT_EQ(sizeAtTheEnd, 0U);
    EXPECT_EQ(testing_host::ReadFile(name), kConsoleLine);
    std::filesystem::remove(name);
}
#endif

TEST_F(ConsoleLine, FailedWriteIsDroppedAndTheHostsStreamStaysGood)
{
    const std::ios_base::iostate masks[] = {std::ios_base::goodbit, std::ios_base::badbit,
                                            std::ios_base::badbit | std::ios_base::failbit};
    for (const std::ios_base::iostate mask : masks) {
        HostOutput output(true);
        Use(output, mask, std::ios_base::goodbit);
        EXPECT_NO_THROW(DestroyARecord());
        EXPECT_EQ(std::cout.rdstate(), std::ios_base::goodbit);
        EXPECT_EQ(std::cout.exceptions(), mask);
        // Not even for the moment of the write: another thread may be using it.
        ASSERT_FALSE(output.masksSeen.empty());
        EXPECT_EQ(output.masksSeen,
                  std::vector<std::ios_base::iostate>(output.masksSeen.size(), mask));
        EXPECT_EQ(output.statesSeen, std::vector<std::ios_base::iostate>(output.statesSeen.size(),
                                                                         std::ios_base::goodbit));
        TearDown();
    }
}

// A stream the host had already failed stays failed, with its mask, and the
// plug-in does not write past the host's own failure.
TEST_F(ConsoleLine, HostsFailedStreamIsLeftAsItWas)
{
    HostOutput output(false);
    Use(output, std::ios_base::goodbit, std::ios_base::failbit);
    DestroyARecord();
    EXPECT_EQ(std::cout.rdstate(), std::ios_base::failbit);
    EXPECT_EQ(output.received, "");

    // Mask and state overlapping, as after the host's own failed write that
    // threw: both are put back, and nothing is thrown into the host.
    HostOutput again(true);
    Use(again, std::ios_base::goodbit, std::ios_base::badbit);
    try {
        std::cout.exceptions(std::ios_base::badbit);
    } catch (const std::ios_base::failure&) {
        // as the host saw it: the mask is set all the same
    }
    EXPECT_NO_THROW(DestroyARecord());
    EXPECT_EQ(std::cout.rdstate(), std::ios_base::badbit);
    EXPECT_EQ(std::cout.exceptions(), std::ios_base::badbit);
}

// The line's lock on stdout is the one the C runtime's own calls on it take,
// so a host thread's call waits until the line is done. (MinGW-w64's own
// _lock_file for msvcrt took another lock under Wine, which kept no one out.)
TEST(ConsoleLineLock, KeepsOtherThreadsCallsOnStdoutOut)
{
    std::atomic<bool> called{false};
    std::thread other;
    {
        const orvel::platform::StreamLock lock(stdout);
        other = std::thread([&called] {
            std::clearerr(stdout);
            called = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_FALSE(called) << "another thread's call on stdout went past the lock";
    }
    other.join();
    EXPECT_TRUE(called);
}

#if defined(_MSC_VER)
// While the line holds a stream's lock, the runtime's report of an invalid
// parameter on the line's thread returns to it instead of ending the host;
// the thread's own handler is back afterwards, and other threads never lose
// theirs.
TEST(ConsoleLineLock, GivesOnlyItsThreadAnInvalidParameterHandlerThatReturns)
{
    const HostsHandlerInstalled hostsHandler;
    hostsHandlerCalls = 0;
    _invalid_parameter_handler otherThreads = &HostsHandler;
    {
        const orvel::platform::StreamLock lock(stdout);
        _invalid_parameter_noinfo();
        std::thread([&otherThreads] {
            otherThreads = _get_thread_local_invalid_parameter_handler();
        }).join();
    }
    EXPECT_EQ(hostsHandlerCalls, 0);
    EXPECT_EQ(otherThreads, nullptr);
    EXPECT_EQ(_get_thread_local_invalid_parameter_handler(), &HostsHandler);
    _invalid_parameter_noinfo();
    EXPECT_EQ(hostsHandlerCalls, 1);
}
#endif

// How the probe host's standard output is set up.
enum class Output {
    BrokenPipe,             // a pipe whose reader has gone
    Closed,                 // no standard output at all (POSIX: descriptor 1 closed;
                            // Windows: a GUI program started without a console or handles)
    Read,                   // a pipe that the test reads to its end
    ReadAndErrorBrokenPipe, // Read, and standard error a pipe whose reader has gone
};

struct ProbeRun {
    bool exitedNormally = false;
    int exitCode = -1;
    std::string output;
};

#if defined(_WIN32)
ProbeRun RunProbe(Output mode, const std::string& options)
{
    ProbeRun run;
    std::string program = mode == Output::Closed ? ORVEL_CONSOLE_PROBE_GUI : ORVEL_CONSOLE_PROBE;
    // A program whose path reaches MAX_PATH cannot be started: one in a deep
    // build folder runs from a copy on the drive, and finds its DLLs in the
    // working folder, the build's own.
    std::string copy;
    if (program.size() >= MAX_PATH - 1) {
        copy = "C:/" + std::filesystem::path(program).filename().string();
        std::filesystem::copy_file(program, copy,
                                   std::filesystem::copy_options::overwrite_existing);
        program = copy;
    }
    std::wstring commandLine(program.begin(), program.end());
    commandLine += L" " + std::wstring(options.begin(), options.end());

    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    DWORD flags = 0;
    if (mode == Output::Closed) {
        flags = DETACHED_PROCESS;
    } else {
        EXPECT_NE(CreatePipe(&readEnd, &writeEnd, &inheritable, 0), FALSE);
        SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
        startup.hStdOutput = writeEnd;
        if (mode == Output::BrokenPipe) {
            CloseHandle(readEnd);
            readEnd = nullptr;
        }
    }
    HANDLE errorEnd = nullptr;
    if (mode == Output::ReadAndErrorBrokenPipe) {
        HANDLE errorReadEnd = nullptr;
        EXPECT_NE(CreatePipe(&errorReadEnd, &errorEnd, &inheritable, 0), FALSE);
        CloseHandle(errorReadEnd);
        startup.hStdError = errorEnd;
    }
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, flags,
                                        nullptr, nullptr, &startup, &process);
    if (writeEnd != nullptr) {
        CloseHandle(writeEnd);
    }
    if (errorEnd != nullptr) {
        CloseHandle(errorEnd);
    }
    EXPECT_NE(started, FALSE) << "cannot start " << program;
    if (readEnd != nullptr) {
        char buffer[256];
        DWORD got = 0;
        while (ReadFile(readEnd, buffer, sizeof(buffer), &got, nullptr) != FALSE && got > 0) {
            run.output.append(buffer, got);
        }
        CloseHandle(readEnd);
    }
    if (started == FALSE) {
        return run;
    }
    WaitForSingleObject(process.hProcess, 60000);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    if (!copy.empty()) {
        std::error_code ignored;
        std::filesystem::remove(copy, ignored);
    }
    run.exitedNormally = true;
    run.exitCode = static_cast<int>(code);
    return run;
}
#else
ProbeRun RunProbe(Output mode, const std::string& options)
{
    ProbeRun run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int ends[2] = {-1, -1};
    if (mode == Output::Closed) {
        posix_spawn_file_actions_addclose(&actions, 1);
    } else {
        EXPECT_EQ(pipe2(ends, O_CLOEXEC), 0);
        posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
        if (mode == Output::BrokenPipe) {
            close(ends[0]);
            ends[0] = -1;
        }
    }
    int errorEnds[2] = {-1, -1};
    if (mode == Output::ReadAndErrorBrokenPipe) {
        EXPECT_EQ(pipe2(errorEnds, O_CLOEXEC), 0);
        close(errorEnds[0]);
        posix_spawn_file_actions_adddup2(&actions, errorEnds[1], 2);
    }
    std::string program = ORVEL_CONSOLE_PROBE;
    std::vector<std::string> arguments = {program};
    if (!options.empty()) {
        arguments.push_back(options);
    }
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    pid_t child = -1;
    const int error = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (ends[1] >= 0) {
        close(ends[1]);
    }
    if (errorEnds[1] >= 0) {
        close(errorEnds[1]);
    }
    EXPECT_EQ(error, 0) << "cannot start " << program;
    if (ends[0] >= 0) {
        char buffer[256];
        ssize_t got = 0;
        while ((got = read(ends[0], buffer, sizeof(buffer))) > 0) {
            run.output.append(buffer, static_cast<std::size_t>(got));
        }
        close(ends[0]);
    }
    if (error != 0) {
        return run;
    }
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, 0), child);
    run.exitedNormally = WIFEXITED(status);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    return run;
}
#endif

// A whole export by a host program whose standard output is unusable.
class ConsoleLineInAHost : public ::testing::Test {
protected:
    static void ExpectHostUnharmed(Output mode, const std::string& options)
    {
        const ProbeRun run = RunProbe(mode, options);
        EXPECT_TRUE(run.exitedNormally) << "the host died of signal " << -run.exitCode;
        EXPECT_EQ(run.exitCode, 0)
            << "1: std::cout changed; 2: signal state changed; 3: aborted (Windows); 4: no module; "
               "5: stdout's error flag changed; 6: a host thread's failed write did not throw; "
               "7: that thread's writes never failed; 8: the host's own write did not fail; "
               "9: the exports hung";
    }

    testing_host::TestDrive drive_;
};

TEST_F(ConsoleLineInAHost, BrokenPipeNeitherKillsTheHostNorChangesItsStream)
{
    ExpectHostUnharmed(Output::BrokenPipe, "");
    ExpectHostUnharmed(Output::BrokenPipe, "--exceptions");
    // Through a buffer of the host's own, which writes to the broken pipe.
    ExpectHostUnharmed(Output::BrokenPipe, "--host-buffer");
    // Unbuffered, the write itself fails (natively raising SIGPIPE) and the
    // sync after it finds nothing to fail on.
    ExpectHostUnharmed(Output::BrokenPipe, "--unbuffered");
}

// The host has given std::cout std::cerr's buffer, the runtime's own over
// stderr, and standard error is broken: the line fails there, stderr's error
// flag is left as the host had it, and standard output gets nothing.
TEST_F(ConsoleLineInAHost, RuntimesBufferOverStderrKeepsStderrsErrorFlag)
{
    const ProbeRun run = RunProbe(Output::ReadAndErrorBrokenPipe, "--cout-over-stderr");
    EXPECT_TRUE(run.exitedNormally) << "the host died of signal " << -run.exitCode;
    EXPECT_EQ(run.exitCode, 0) << "5: stderr's error flag changed; 8: stderr did not fail";
    EXPECT_EQ(run.output, "");
}

TEST_F(ConsoleLineInAHost, MissingOutputWithOrWithoutStreamExceptionsIsDropped)
{
    ExpectHostUnharmed(Output::Closed, "");
    ExpectHostUnharmed(Output::Closed, "--exceptions");
}

// Another thread of the host writes to std::cout with exceptions on while the
// plug-in writes its lines: the stream's mask is never lifted under it, and
// each of its failed writes leaves stdout's error flag set for it to find,
// also when the plug-in's flush took that thread's bytes.
TEST_F(ConsoleLineInAHost, AnotherHostThreadKeepsItsStreamExceptionsAndErrorFlags)
{
    ExpectHostUnharmed(Output::BrokenPipe, "--writer-thread");
    const std::string report = testing_host::ReadFile("C:/writer-thread.txt");
    EXPECT_EQ(report.rfind("0 of ", 0), 0U)
        << "failed host writes whose error flag was lost: " << report;
}

// The host's own failed write set stdout's error flag before the action, or
// its bytes still wait in stdout's buffer and fail when the line flushes
// them: either way the flag is set after the line, and the host lives.
TEST_F(ConsoleLineInAHost, HostsOwnStreamErrorFlagIsKept)
{
    ExpectHostUnharmed(Output::BrokenPipe, "--stream-error");
    ExpectHostUnharmed(Output::BrokenPipe, "--pending-host-bytes");
}

// std::cout writes through a buffer of the host's that takes the host's own
// lock while another host thread logs under that lock, or that waits for a
// worker thread writing to stdout: every export returns, and every line
// reaches the host's buffer.
TEST_F(ConsoleLineInAHost, HostsOwnBufferNeverWaitsOnALockOfThePlugins)
{
    for (const char* const buffer : {"--host-buffer-mutex", "--host-buffer-worker"}) {
        const ProbeRun run = RunProbe(Output::Read, buffer);
        EXPECT_EQ(run.exitCode, 0) << buffer << " (9: the exports hung)";
        const std::string line = "Destroying OrvelImportInterface";
        std::size_t lines = 0;
        for (std::size_t at = run.output.find(line); at != std::string::npos;
             at = run.output.find(line, at + 1)) {
            ++lines;
        }
        EXPECT_EQ(lines, 50U) << buffer;
    }
}

// The line is flushed by the plug-in itself: a host that ends with _Exit
// right after the action still delivers it.
TEST_F(ConsoleLineInAHost, ReachesTheReaderWhenTheHostExitsAtOnce)
{
    const ProbeRun run = RunProbe(Output::Read, "--exit-at-once");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.output.find("Destroying OrvelImportInterface"), std::string::npos) << run.output;
}

#if !defined(_WIN32)
// The host's own SIGPIPE handling is its own: a blocked SIGPIPE stays blocked,
// one this write raised is not left behind, and one that was pending before
// is still pending after.
TEST_F(ConsoleLineInAHost, HostsOwnPipeSignalHandlingIsKept)
{
    ExpectHostUnharmed(Output::BrokenPipe, "--block-pipe-signal");
    ExpectHostUnharmed(Output::BrokenPipe, "--pipe-signal-pending");
    ExpectHostUnharmed(Output::Read, "--pipe-signal-pending");
}
#endif

} // namespace
