#include "core/ini_location.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "core/global.h"

namespace linograf {
namespace {

TEST(IniLocation, ReplacesTheExecutablesExtension) {
    const std::pair<const char*, const char*> cases[] = {
        {"/opt/linograf/linograf", "/opt/linograf/linograf.ini"},
        {"C:\\Prog\\linograf.exe", "C:\\Prog\\linograf.ini"},
        {"/opt/lino.graf/tool.v2.exe", "/opt/lino.graf/tool.v2.ini"},
        {"/opt/lino.graf/tool", "/opt/lino.graf/tool.ini"},
        {"linograf", "linograf.ini"},
        {"/home/u/.linograf", "/home/u/.ini"},
    };
    for (const auto& [exe, ini] : cases) EXPECT_EQ(IniPathForExecutable(exe), ini) << exe;
}

TEST(IniLocation, ChoosesExplicitThenBesideTheExecutableThenTheConfigurationFolder) {
    struct Case {
        const char* what;
        std::optional<std::string> explicit_path;
        std::string exe;
        std::string xdg;
        std::string home;
        bool writable;
        std::string expected;
        bool in_config_folder;
    };
    const Case cases[] = {
        {"explicit wins", "/tmp/x.ini", "/opt/l/linograf", "/x", "/home/u", true, "/tmp/x.ini", false},
        {"writable folder", {}, "/opt/l/linograf", "/x", "/home/u", true, "/opt/l/linograf.ini", false},
        {"installed copy", {}, "/usr/bin/linograf", "/x", "/home/u", false, "/x/linograf/linograf.ini", true},
        {"no XDG variable",
         {},
         "/usr/bin/linograf",
         "",
         "/home/u",
         false,
         "/home/u/.config/linograf/linograf.ini",
         true},
        {"relative XDG variable is ignored",
         {},
         "/usr/bin/linograf",
         "cfg",
         "/home/u",
         false,
         "/home/u/.config/linograf/linograf.ini",
         true},
        {"unknown executable", {}, "", "/x", "/home/u", true, "/x/linograf/linograf.ini", true},
        {"nothing known", {}, "", "", "", true, "linograf.ini", false},
    };
    for (const Case& c : cases) {
        IniLocationInputs inputs;
        inputs.explicit_path = c.explicit_path;
        inputs.executable_path = c.exe;
        inputs.xdg_config_home = c.xdg;
        inputs.home = c.home;
        std::string asked;
        inputs.folder_writable = [&](const std::string& folder) {
            asked = folder;
            return c.writable;
        };
        IniLocation location = ResolveIniLocation(inputs);
        EXPECT_EQ(location.path, c.expected) << c.what;
        EXPECT_EQ(location.in_config_folder, c.in_config_folder) << c.what;
        if (!c.explicit_path && !c.exe.empty()) {
            EXPECT_EQ(asked, c.exe.substr(0, c.exe.rfind('/'))) << c.what;
        }
    }
}

TEST(IniLocation, TakesTheIniOptionOutOfTheArguments) {
    std::vector<std::string> args = {"capture", "--ini", "/a.ini", "--port", "3", "--ini=/b.ini"};
    EXPECT_EQ(TakeIniOption(args), "/b.ini");
    EXPECT_EQ(args, (std::vector<std::string>{"capture", "--port", "3"}));

    std::vector<std::string> none = {"--help"};
    EXPECT_EQ(TakeIniOption(none), std::nullopt);
    EXPECT_EQ(none.size(), 1u);

    for (std::vector<std::string> bad :
         {std::vector<std::string>{"--ini"}, std::vector<std::string>{"--ini="}}) {
        EXPECT_THROW(TakeIniOption(bad), std::invalid_argument);
    }
}

TEST(Global, OneHolderOwnsTheSettingsFile) {
    EXPECT_EQ(TGlobal::Instance(), nullptr);
    {
        TGlobal global("/nonexistent/linograf.ini");
        EXPECT_EQ(TGlobal::Instance(), &global);
        EXPECT_EQ(global.IniFile().FileName(), "/nonexistent/linograf.ini");
        EXPECT_EQ(global.IniFile().ReadInteger("com", "speed", 11), 11);
        EXPECT_THROW(TGlobal("/other.ini"), std::logic_error);
        EXPECT_EQ(TGlobal::Instance(), &global);
    }
    EXPECT_EQ(TGlobal::Instance(), nullptr);
}

}  // namespace
}  // namespace linograf
