// The README's screenshot command runs where nobody can click a message box away: an error while
// the sample is taken goes to standard error and the exit status, and the pictures are still made.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/run_command.h"
#include "tests/support/temp_dir.h"

namespace linograf {
namespace {

TEST(ScreenshotsTest, AnErrorGoesToStandardErrorNotToAMessageBox) {
    test::TempDir dir;
    // Six fields and a matching 49-byte line; the log's folder is one nobody can make.
    const std::string ini = dir.File("six.ini");
    test::WriteFileBytes(ini,
                         "[app]\nformat=6\nfilename=/proc/linograf-none/{yyyy}/log.xls\ncomport=x\n[format]\n"
                         "name1=A\nsize1=10\nname2=B\nsize2=8\nname3=C\nsize3=8\nname4=D\nsize4=8\n"
                         "name5=E\nsize5=8\nname6=F\nsize6=7\n");
    const std::string sample = dir.File("sample.txt");
    test::WriteFileBytes(sample, "11.12.2026 1234.50 0002.00 0003.00 0004.00 0005.0\r");
    const std::string shots = dir.File("shots");
    // `timeout` ends a run that hangs on a box: exit status 124 then.
    const test::CommandResult run =
        test::RunCommand({"timeout", "120", "env", "QT_QPA_PLATFORM=offscreen", LINOGRAF_PROGRAM, "--ini",
                          ini, "--screenshots", shots, "--sample", sample});
    EXPECT_NE(run.exit_code, 124) << "blocked";
    EXPECT_NE(run.exit_code, 0);
    EXPECT_NE(run.errors.find("/proc/linograf-none/"), std::string::npos) << run.errors;
    for (const char* file : {"page-0.png", "page-1.png", "page-2.png", "select-port.png", "question.png"})
        EXPECT_TRUE(std::filesystem::exists(dir.File("shots/") + file)) << file;
}

}  // namespace
}  // namespace linograf
