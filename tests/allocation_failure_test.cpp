// Memory can run out at any allocation inside an entry point: whichever one
// fails, the entry point returns to the host, which sees no exception, and
// leaves no temporary file behind.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "export/settings_file.h"
#include "plugin/entry_points.h"
#include "support/fake_host.h"
#include "support/test_drive.h"

namespace {

// Counts down allocations while armed; the one that reaches zero fails.
long gAllocationsLeft = -1;

} // namespace

void* operator new(std::size_t size)
{
    if (gAllocationsLeft > 0 && --gAllocationsLeft == 0) {
        throw std::bad_alloc();
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}

// The replaced operator new takes its memory from malloc, so free is the
// matching release; GCC cannot see that once it inlines the pair.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void* memory) noexcept { std::free(memory); }

void operator delete(void* memory, std::size_t /*size*/) noexcept { std::free(memory); }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

namespace {

// Runs `entry` once with each of its allocations failing in turn, until a run
// goes through with none failing. Returns how many runs had one fail.
template <typename Entry>
int FailEachAllocationOf(Entry entry)
{
    for (int failing = 1; failing < 10000; ++failing) {
        gAllocationsLeft = failing;
        entry(); // noexcept at the boundary: an escaping error ends the test program
        const bool failed = gAllocationsLeft == 0;
        gAllocationsLeft = -1;
        if (!failed) {
            return failing - 1;
        }
    }
    ADD_FAILURE() << "the entry point never completed";
    return -1;
}

// The drive belongs to the fixture, so that a test that may not touch it is
// skipped before it starts.
class AllocationFailure : public ::testing::Test {
protected:
    testing_host::TestDrive drive_;
};

TEST_F(AllocationFailure, NeverLeavesDoFunction)
{
    testing_host::RecordingUtility utility;
    utility.echo = false;
    testing_host::RecordingExporter exporter;
    exporter.write = [](const std::string& path) { testing_host::WriteFile(path, "model"); };
    testing_host::InstalledServices services(&utility, &exporter);
    // A temporary too young to remove (another export's, for all the plug-in
    // can tell) stays, whichever allocation fails.
    std::filesystem::create_directories("C:/ORVEL/CLO3D_Plugin");
    testing_host::WriteFile("C:/ORVEL/CLO3D_Plugin/API.json.1-1.tmp", "another export's");
    ::testing::internal::CaptureStdout();
    const int failures = FailEachAllocationOf([] { DoFunction(); });
    ::testing::internal::GetCapturedStdout();
    EXPECT_GT(failures, 5);
    EXPECT_EQ(testing_host::TemporaryFilesLeft(), std::vector<std::string>{"API.json.1-1.tmp"});
}

TEST_F(AllocationFailure, NeverLeavesTheAfterLoadNotification)
{
    testing_host::RecordingUtility utility;
    utility.echo = false;
    testing_host::InstalledServices services(&utility, nullptr);
    const std::string type(100, 'x'); // long enough to need the heap
    EXPECT_GT(FailEachAllocationOf([&type] { DoFunctionAfterLoadingCLOFile(type.c_str()); }), 0);
}

#if defined(_MSC_VER)
// std::cout given the runtime's buffer over a file the host has read to its
// end, which the line must not write: also when memory runs out while the
// plug-in tells whose buffer it is, the line is not written without the
// stream's lock, as to a buffer of the host's.
TEST(AllocationFailureInTheConsoleLine, NeverWritesTheRuntimesBufferUntold)
{
    const char* const name = "allocation-failure-read-to-its-end.txt";
    std::FILE* file = nullptr;
    ASSERT_EQ(fopen_s(&file, name, "w+b"), 0);
    ASSERT_EQ(std::fgetc(file), EOF);
    {
        std::filebuf buffer(file);
        std::streambuf* const previous = std::cout.rdbuf(&buffer);
        const int failures =
            FailEachAllocationOf([] { const orvel::OrvelImportInterface record("model.glb"); });
        std::cout.rdbuf(previous);
        EXPECT_GT(failures, 0);
    }
    EXPECT_NE(std::feof(file), 0);
    std::fclose(file);
    EXPECT_EQ(std::filesystem::file_size(name), 0U);
    std::filesystem::remove(name);
}
#endif

} // namespace
