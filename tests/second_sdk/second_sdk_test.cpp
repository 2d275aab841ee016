// The plug-in built against the second SDK, in a build of its own with nothing
// but ORVEL_HOST_SDK_DIR set (build_plugin.cmake), loaded by a host that
// provides that SDK's services: the export reaches ExportProjectAsGlb with the
// record filled by offset, and the user is told where the GLB is.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "CLOAPIInterface.h"
#include "plugin_module.h"
#include "support/option_record.h"
#include "support/test_drive.h"

namespace {

using Record = Marvelous::ImportExportOption;
using RecordBytes = std::array<unsigned char, sizeof(Record)>;
const std::vector<std::string> kNone;

RecordBytes BytesOf(const Record& record)
{
    RecordBytes bytes{};
    std::memcpy(bytes.data(), &record, bytes.size());
    return bytes;
}

// The message service; its other functions must never be called.
class Messages : public CLOAPI::UtilityAPIInterface {
public:
    int InterfaceRevision() const override { return ++otherCalls; }
    void ShowMessage(std::string message) override { shown.push_back(message); }
    void ShowWarningDialog(const std::string& /*title*/, const std::string& /*text*/) override
    {
        ++otherCalls;
    }

    std::vector<std::string> shown;
    mutable int otherCalls = 0;
};

// The export service: keeps what ExportProjectAsGlb received and writes a
// small valid GLB at the path; its other functions must never be called.
class Exporter : public CLOAPI::ExportAPIInterface {
public:
    std::vector<std::string> ExportProjectAsObj(const std::string& /*path*/) override
    {
        ++otherCalls;
        return {};
    }
    bool CanExport() const override { return ++otherCalls > 0; }
    std::vector<std::string> ExportProjectAsGlb(const std::string& path, Record& option) override
    {
        paths.push_back(path);
        record = BytesOf(option);
        label = option.exportLabel;
        testing_host::WriteFile(path, testing_host::MinimalGlb());
        return {path};
    }
    std::vector<std::string> ExportProjectAsFbx(const std::string& /*path*/) override
    {
        ++otherCalls;
        return {};
    }

    std::vector<std::string> paths;
    RecordBytes record{};
    std::string label = "not received";
    mutable int otherCalls = 0;
};

class SecondSdk : public ::testing::Test {
protected:
    SecondSdk() { CLOAPI::APICommand::getInstance().ProvideServices(&messages_, &exporter_); }
    SecondSdk(const SecondSdk&) = delete;
    SecondSdk& operator=(const SecondSdk&) = delete;
    ~SecondSdk() override { CLOAPI::APICommand::getInstance().ProvideServices(nullptr, nullptr); }

    testing_host::TestDrive drive_;
    Messages messages_;
    Exporter exporter_;
};

TEST_F(SecondSdk, PluginBuiltAgainstItExportsWithTheRecordFilledByOffset)
{
    // As this SDK makes it, no byte of the record holds the plug-in's value,
    // so a write the plug-in missed cannot go unseen.
    const RecordBytes made = BytesOf(Record());
    ASSERT_EQ(testing_host::FieldsMadeWithTheirValues(made.data()), kNone);

    standin::PluginModule plugin(ORVEL_SECOND_SDK_PLUGIN);
    ASSERT_TRUE(plugin.ok()) << plugin.error();
    plugin.DoFunction();

    ASSERT_EQ(exporter_.paths,
              std::vector<std::string>{"C:/ORVEL/CLO3D_Plugin/Prepped_For_ORVEL.glb"});
    EXPECT_EQ(testing_host::WrongOptionFields(exporter_.record.data()), kNone);
    EXPECT_EQ(testing_host::ChangedUnlistedBytes(made.data(), exporter_.record.data()), kNone);
    EXPECT_EQ(exporter_.record[79], Record::kFill);
    EXPECT_EQ(exporter_.label, "");
    ASSERT_FALSE(messages_.shown.empty());
    EXPECT_EQ(messages_.shown[0],
              "Exported project to C:/ORVEL/CLO3D_Plugin/Prepped_For_ORVEL.glb");
    EXPECT_EQ(messages_.otherCalls + exporter_.otherCalls, 0);
}

} // namespace
