// The desktop entry, MIME type and default-application lines that tie config files to the
// program, written below XDG folders in a temporary folder.
#include "platform/desktop_association.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/scratch_files.h"

using namespace kem::platform;

TEST(DesktopAssociationText, ExecArgumentsAreQuotedAndEscapedTwice) {
    EXPECT_EQ(QuoteExecArgument("/opt/kem/kempemvilo"), "\"/opt/kem/kempemvilo\"");
    EXPECT_EQ(QuoteExecArgument("/a b/k"), "\"/a b/k\"");
    // `$` and a quote get one backslash by the Exec rules, which the string rules double.
    EXPECT_EQ(QuoteExecArgument("/x$y\"z"), "\"/x\\\\$y\\\\\"z\"");
    EXPECT_EQ(QuoteExecArgument("/back\\slash"), "\"/back\\\\\\\\slash\"");
}

TEST(DesktopAssociationText, MimeappsKeepsOtherLinesAndSetsOneDefault) {
    const std::string line = "application/x-kempemvilo-config=kempemvilo.desktop\n";
    const struct {
        const char* name;
        const char* in;
        std::string out;
    } rows[] = {
        {"empty", "", "[Default Applications]\n" + line},
        {"other section only", "[Added Associations]\ntext/plain=a.desktop\n",
         "[Added Associations]\ntext/plain=a.desktop\n\n[Default Applications]\n" + line},
        {"replaces an old default",
         "[Default "
         "Applications]\napplication/x-kempemvilo-config=old.desktop\ntext/x-c=c.desktop\n",
         "[Default Applications]\n" + line + "text/x-c=c.desktop\n"},
        {"adds at the end of its section",
         "[Default Applications]\ntext/x-c=c.desktop\n[Added Associations]\nx/y=z.desktop\n",
         "[Default Applications]\ntext/x-c=c.desktop\n" + line +
             "[Added Associations]\nx/y=z.desktop\n"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(WithDefaultApplication(row.in), row.out) << row.name;
    }
    // Registering twice changes nothing more.
    EXPECT_EQ(WithDefaultApplication(WithDefaultApplication("")), WithDefaultApplication(""));
}

TEST(DesktopAssociationTest, WritesTheMimeTypeTheEntryAndTheDefaultOrReportsAFailure) {
    const kem::testing::TempFolder folder;
    const std::filesystem::path& root = folder.path();
    setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
    // A regular file where the data folder should be: nothing can be created below it.
    std::ofstream(root / "data") << "not a folder";
    EXPECT_TRUE(RegisterConfigAssociation("/opt/kem/kempemvilo", "c").failed());
    std::filesystem::remove(root / "data");

    std::filesystem::create_directories(root / "config");
    std::ofstream(root / "config/mimeapps.list") << "[Added Associations]\nx/y=z.desktop\n";
    const OsError error = RegisterConfigAssociation("/opt/kem/kempemvilo", "Quorbel <Config>");
    unsetenv("XDG_DATA_HOME");
    unsetenv("XDG_CONFIG_HOME");
    ASSERT_FALSE(error.failed()) << error.text;
    const std::string mime =
        kem::testing::ReadBytes(root / "data/mime/packages/kempemvilo-pvto.xml");
    EXPECT_NE(mime.find("<glob pattern=\"*.pvto\"/>"), std::string::npos);
    EXPECT_NE(mime.find("<comment>Quorbel &lt;Config&gt;</comment>"), std::string::npos);
    const std::string entry =
        kem::testing::ReadBytes(root / "data/applications/kempemvilo.desktop");
    EXPECT_NE(entry.find("Exec=\"/opt/kem/kempemvilo\" %f\n"), std::string::npos);
    EXPECT_NE(entry.find("MimeType=application/x-kempemvilo-config;\n"), std::string::npos);
    const std::string mimeapps = kem::testing::ReadBytes(root / "config/mimeapps.list");
    EXPECT_EQ(mimeapps.rfind("[Added Associations]\nx/y=z.desktop\n", 0), 0u) << mimeapps;
    EXPECT_NE(mimeapps.find("application/x-kempemvilo-config=kempemvilo.desktop"),
              std::string::npos);
}
