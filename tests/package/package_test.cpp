// The Debian package as an operator gets it: cpack builds it from this build tree, dpkg-deb
// unpacks it into a scratch root, and the program, its man page and its service unit are used
// from there by the system's own tools (the program's version, man, systemd-analyze).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "tests/support/run_command.h"
#include "tests/support/temp_dir.h"

namespace linograf {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class PackageTest : public ::testing::Test {
  protected:
    // One package for the suite: cpack installs and packs the whole build, which takes a while.
    static void SetUpTestSuite() {
        for (const char* tool : {"cpack", "dpkg-deb", "dpkg-shlibdeps", "man", "systemd-analyze"}) {
            if (test::FindProgram(tool).empty()) {
                missing_ = tool;
                return;
            }
        }
        scratch_ = new test::TempDir;
        const test::CommandResult pack = test::RunCommand(
            {"cpack", "--config", LINOGRAF_CPACK_CONFIG, "-G", "DEB", "-B", scratch_->File("out")});
        pack_log_ = pack.output + pack.errors;
        for (const auto& entry : fs::directory_iterator(scratch_->File("out")))
            if (entry.path().extension() == ".deb") deb_ = entry.path().string();
        if (deb_.empty()) return;
        root_ = scratch_->File("root");
        const test::CommandResult unpack = test::RunCommand({"dpkg-deb", "-x", deb_, root_});
        if (unpack.exit_code != 0) pack_log_ += unpack.errors;
    }
    static void TearDownTestSuite() {
        delete scratch_;
        scratch_ = nullptr;
    }
    void SetUp() override {
        if (!missing_.empty()) GTEST_SKIP() << missing_ << " missing (scripts/setup.sh --tests installs it)";
        ASSERT_FALSE(deb_.empty()) << "cpack made no .deb:\n" << pack_log_;
    }
    static fs::path Root() { return root_; }

    static inline std::string missing_;
    static inline test::TempDir* scratch_ = nullptr;
    static inline std::string deb_;
    static inline std::string root_;
    static inline std::string pack_log_;
};

TEST_F(PackageTest, UnpackedProgramRunsAndNamesItsVersion) {
    const test::CommandResult run = test::RunCommand({(Root() / "usr/bin/linograf").string(), "--version"});
    EXPECT_EQ(run.exit_code, 0) << run.errors;
    EXPECT_EQ(run.output, std::string("linograf ") + LINOGRAF_VERSION + "\n");
}

TEST_F(PackageTest, ManPageRendersWithEveryCommandAndTheExitStatuses) {
    const fs::path page = Root() / "usr/share/man/man1/linograf.1";
    ASSERT_TRUE(fs::exists(page));
    const test::CommandResult man = test::RunCommand({"env", "MANWIDTH=100", "man", "-l", page.string()});
    ASSERT_EQ(man.exit_code, 0) << man.errors;
    // man marks bold and underlined text with backspaces when its output is no terminal.
    const std::string text = std::regex_replace(man.output, std::regex(".\b"), "");
    for (const char* expected :
         {"LINOGRAF(1)", "THE WINDOW", "capture", "--timestamp", "--encoding NAME", "--status-file PATH",
          "cat FILE", "ports", "SETTINGS FILE", "~/.config/linograf/linograf.ini", "EXIT STATUS",
          "linograf-capture@.service"})
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
    EXPECT_EQ(text.find("@PROJECT_VERSION@"), std::string::npos);
    EXPECT_NE(text.find(LINOGRAF_VERSION), std::string::npos);
}

TEST_F(PackageTest, PackageHoldsTheMenuEntryIconServiceAndDependencies) {
    const std::string desktop = Slurp(Root() / "usr/share/applications/linograf.desktop");
    EXPECT_NE(desktop.find("\nExec=linograf\n"), std::string::npos) << desktop;
    EXPECT_NE(desktop.find("\nIcon=linograf\n"), std::string::npos) << desktop;
    EXPECT_TRUE(fs::exists(Root() / "usr/share/icons/hicolor/scalable/apps/linograf.svg"));
    EXPECT_EQ(Slurp(Root() / "usr/lib/systemd/system/linograf-capture@.service"), Slurp(LINOGRAF_UNIT_FILE));
    EXPECT_TRUE(fs::exists(Root() / "usr/share/doc/linograf/examples/99-linograf.rules"));

    if (const std::string validate = test::FindProgram("desktop-file-validate"); !validate.empty()) {
        const test::CommandResult check =
            test::RunCommand({validate, (Root() / "usr/share/applications/linograf.desktop").string()});
        EXPECT_EQ(check.exit_code, 0) << check.output << check.errors;
    }

    // dpkg-shlibdeps found the runtime packages of the libraries the program links.
    const test::CommandResult depends = test::RunCommand({"dpkg-deb", "-f", deb_, "Depends"});
    ASSERT_EQ(depends.exit_code, 0) << depends.errors;
    for (const char* package : {"libc6", "libqt6core6", "zlib1g", "libexpat1", "qt6-translations-l10n"})
        EXPECT_NE(depends.output.find(package), std::string::npos) << package << " in " << depends.output;
}

// systemd-analyze verify checks the unit's keys and values, its documentation (man) and that its
// program is there and executable: the unit as packaged, with its program pointed at the unpacked
// one, since nothing is installed in /usr/bin here.
TEST_F(PackageTest, ServiceUnitPassesSystemdVerify) {
    const fs::path units = scratch_->path() / "units";
    fs::create_directories(units);
    const std::string unit = Slurp(Root() / "usr/lib/systemd/system/linograf-capture@.service");
    ASSERT_NE(unit.find("ExecStart=/usr/bin/linograf capture --ini /etc/linograf/%i.ini"), std::string::npos);
    {
        std::ofstream out(units / "linograf-capture@.service", std::ios::binary);
        out << std::regex_replace(unit, std::regex("/usr/bin/linograf"),
                                  (Root() / "usr/bin/linograf").string());
    }
    const test::CommandResult verify = test::RunCommand(
        {"env", "SYSTEMD_UNIT_PATH=" + units.string() + ":", "MANPATH=" + (Root() / "usr/share/man").string(),
         "systemd-analyze", "verify", "linograf-capture@scale1.service"});
    EXPECT_EQ(verify.exit_code, 0) << verify.output << verify.errors;
    // Warnings (an unknown key, a value it ignores) leave the exit status 0.
    EXPECT_EQ(verify.errors, "") << verify.errors;
    for (const char* expected : {"DynamicUser=yes", "SupplementaryGroups=dialout", "Restart=on-failure",
                                 "StateDirectory=linograf", "KillSignal=SIGTERM"})
        EXPECT_NE(unit.find(expected), std::string::npos) << expected;
}

}  // namespace
}  // namespace linograf
