// The plug-in module as the host sees it: loaded by file name, its four entry
// points resolved by name and driven through the SDK's services.
#include <gtest/gtest.h>

#include <string>

#include "plugin_module.h"
#include "support/expected_texts.h"
#include "support/fake_host.h"

namespace {

using testing_host::CallRecord;
using testing_host::InstalledServices;
using testing_host::RecordingExporter;
using testing_host::RecordingUtility;

const std::string& kPrefix = testing_host::texts::kAfterLoadPrefix;

class EntryPoints : public ::testing::Test {
protected:
    static void SetUpTestSuite() { plugin_ = new standin::PluginModule(ORVEL_PLUGIN_FILE); }
    static void TearDownTestSuite()
    {
        delete plugin_;
        plugin_ = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(plugin_->ok()) << plugin_->error(); }

    static standin::PluginModule* plugin_;
};

standin::PluginModule* EntryPoints::plugin_ = nullptr;

TEST_F(EntryPoints, ActionNameIsOneConstantTextAtOneAddress)
{
    const char* first = plugin_->GetActionName();
    const char* second = plugin_->GetActionName();
    EXPECT_STREQ(first, "Export for ORVEL (BETA)");
    EXPECT_EQ(first, second);
}

TEST_F(EntryPoints, ActionIsPlacedAtPositionOne)
{
    EXPECT_EQ(plugin_->GetPositionIndexToAddAction(), 1);
    EXPECT_EQ(plugin_->GetPositionIndexToAddAction(), 1);
}

TEST_F(EntryPoints, AfterLoadShowsThePrefixFollowedByTheFileType)
{
    RecordingUtility utility;
    RecordingExporter exporter;
    InstalledServices services(&utility, &exporter);
    ASSERT_EQ(kPrefix.size(), 56U);

    plugin_->DoFunctionAfterLoadingCLOFile("abc");
    plugin_->DoFunctionAfterLoadingCLOFile("");
    plugin_->DoFunctionAfterLoadingCLOFile("\xC3\xA9 \"odd\" \x01 bytes");

    ASSERT_EQ(utility.messages.size(), 3U);
    EXPECT_EQ(utility.messages[0], kPrefix + "abc");
    EXPECT_EQ(utility.messages[1], kPrefix);
    EXPECT_EQ(utility.messages[2], kPrefix + "\xC3\xA9 \"odd\" \x01 bytes");
    // Each notification looks the service up twice: once to test it, once to use it.
    const std::vector<std::string> once = {"getInstance", "GetUtilityAPI", "getInstance",
                                           "GetUtilityAPI"};
    std::vector<std::string> expected;
    for (int i = 0; i < 3; ++i) {
        expected.insert(expected.end(), once.begin(), once.end());
    }
    EXPECT_EQ(CallRecord(), expected);
    EXPECT_TRUE(exporter.calls.empty());
}

TEST_F(EntryPoints, AfterLoadWithNullFileTypeShowsThePrefixAlone)
{
    RecordingUtility utility;
    InstalledServices services(&utility, nullptr);
    plugin_->DoFunctionAfterLoadingCLOFile(nullptr);
    ASSERT_EQ(utility.messages.size(), 1U);
    EXPECT_EQ(utility.messages[0], kPrefix);
}

TEST_F(EntryPoints, AfterLoadWithoutUtilityServiceOnlyLooksItUp)
{
    RecordingExporter exporter;
    InstalledServices services(nullptr, &exporter);
    plugin_->DoFunctionAfterLoadingCLOFile("abc");
    plugin_->DoFunctionAfterLoadingCLOFile(nullptr);
    EXPECT_EQ(CallRecord(), (std::vector<std::string>{"getInstance", "GetUtilityAPI", "getInstance",
                                                      "GetUtilityAPI"}));
    EXPECT_TRUE(exporter.calls.empty());
}

TEST_F(EntryPoints, AfterLoadSwallowsAThrowingUtilityService)
{
    RecordingUtility utility;
    utility.throws = true;
    InstalledServices services(&utility, nullptr);
    EXPECT_NO_THROW(plugin_->DoFunctionAfterLoadingCLOFile("abc"));
    EXPECT_EQ(utility.messages.size(), 1U);
}

TEST(PluginModuleLoading, NamesTheModuleThatWouldNotLoad)
{
    standin::PluginModule missing("no-such-plugin-module");
    EXPECT_FALSE(missing.ok());
    EXPECT_NE(missing.error().find("no-such-plugin-module"), std::string::npos) << missing.error();
}

} // namespace
